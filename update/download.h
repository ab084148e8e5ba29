// One manifest file fetched into "<target>.part" with resume, verified
// against its SHA-1 and moved into place; and the install record.
#pragma once

#include <atomic>
#include <mutex>
#include <cstdint>
#include <string>
#include <vector>

#include "update/route_choice.h"
#include "update/server_documents.h"

// What the launcher's run learned of its files (the routes each failed, its
// tries): owned by the update worker for the run, handed to every pass and
// every download in it. Tests own one per case.
struct DownloadRun {
    std::mutex lock;  // small files come side by side
    FileLessons lessons;
};

constexpr int kDownloadAttempts = 3;
constexpr uint32_t kAttemptPauseMs = 2000;
constexpr uint32_t kTransferBlock = 256 * 1024;

// Up to three attempts, 2,000 ms apart; under a release with mirrors, one
// more for each mirror, and a failed source is left at once for the next
// that may have the object (the part file stays). True when the target holds the
// verified file (needsUpdate is then 0). Raises gState.bytesDone as blocks
// land and posts a repaint notice per block; a failed attempt takes back
// what it counted. Safe on several threads for files below kDeltaThreshold.
bool downloadEntry(ManifestEntry& entry, DownloadRun& run);

// Every entry that needsUpdate: the small ones several at once, then the
// large ones one at a time, each over several connections. Stops starting
// files after one fails. True when all are in place.
bool downloadAll(std::vector<ManifestEntry>& entries, DownloadRun& run);

// The number of sources when the last pass stopped at a file every one of
// them failed; 0 otherwise (one source alone, or a local fault).
extern std::atomic<int> gSourcesFailed;

// The entry whose verified file could not be moved into place because
// another program holds its target (empty when none): set by the last
// downloadEntry that failed so. The verified part file stays; a retry only
// repeats the move.
extern std::string gHeldTarget;

// Where game files come from: the fixed "/launcher/file?p=<path>", or,
// under a release, the object named by the file's SHA-1, "/launcher/o/<sha1>".
// Set by the worker before its downloads.
extern bool gFilesAsObjects;

// Forgets what the delta engine and the sources learned this run (the last
// scan, hosts of one range per request, objects warm at an edge): tests
// start each case afresh.
void forgetDownloadMemory();

// "installed.txt" in dataFolder: one line "version=N".
void writeInstallRecord();
