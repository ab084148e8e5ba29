// The update worker: the launcher's one long-running background thread. It
// loops forever: read the server's info and manifest, check the game files,
// offer and run the update, then sit in Ready polling the server until it
// announces a new version. The window talks to it only through
// gState.retryRequested.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr uint32_t kRetryPollMs = 100;
constexpr int kUnreachablePauses = 301;
constexpr int kNotSetUpPauses = 601;
constexpr int kPreparingPauses = 151;
constexpr int kNoTimeout = -1;
constexpr uint32_t kReadyPollMs = 20000;
constexpr uint32_t kFailedPassPauseMs = 1500;
constexpr int64_t kDiskSpaceMargin = 256LL * 1024 * 1024;

// Thread body; never returns.
DWORD WINAPI runUpdateWorker(void*);
