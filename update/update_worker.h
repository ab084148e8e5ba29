// The update worker: the launcher's one long-running background thread. It
// loops forever: read the server's info, its release (else the manifest), check the game files,
// offer and run the update, then sit in Ready polling the server until it
// announces a new version. The window talks to it only through
// gState.retryRequested.
#pragma once

#include <windows.h>

#include <cstdint>

#include "files/manifest_paths.h"  // kDiskSpaceMargin

constexpr uint32_t kRetryPollMs = 100;
constexpr int kUnreachablePauses = 301;
constexpr int kNotSetUpPauses = 601;
constexpr int kPreparingPauses = 151;
constexpr int kNotSignedPauses = 301;  // retried as often as an unreachable server
constexpr int kNoTimeout = -1;
constexpr uint32_t kReadyPollMs = 20000;
constexpr uint32_t kFailedPassPauseMs = 1500;

// Told what became of each cycle's release (used, and how checked, or why
// refused), on the worker's thread, for tools that print it (TVLHeadless);
// null in the launcher.
using ReleaseObserver = void (*)(const wchar_t* result);
extern ReleaseObserver gReleaseObserver;

// Asked for the banner once the cycle knows where it comes from: the
// release's banner object, or (null) the fixed /launcher/banner when no
// release is used. The image loader answers it; null in tests.
struct ObjectRef;
using BannerRequest = void (*)(const ObjectRef* banner);
extern BannerRequest gBannerWanted;

// Thread body; never returns.
DWORD WINAPI runUpdateWorker(void*);

// One cycle, from Connecting to the point where it starts again: after a
// wait, a failed pass, a finished download, or a new version seen in Ready.
// The worker runs it forever, handing each cycle what the run has learned
// of its files; tests run it once.
struct DownloadRun;
void runUpdateCycle(DownloadRun& run);
