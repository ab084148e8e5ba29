#include "update/update_worker.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "core/config_file.h"
#include "core/event_log_win.h"
#include "core/launcher_state.h"
#include "core/text_utf8.h"
#include "core/wait_seam.h"
#include "files/file_check.h"
#include "files/game_folder_win.h"
#include "net/http_client.h"
#include "net/sources_win.h"
#include "steam/game_session.h"
#include "trust/release.h"
#include "trust/release_fetch_win.h"
#include "trust/release_floor.h"
#include "update/download.h"
#include "update/launcher_update_win.h"
#include "update/offline_play_win.h"
#include "update/server_documents.h"

namespace {

constexpr wchar_t kConnecting[] = L"Connecting to the server...";
constexpr wchar_t kUnreachable[] = L"Can't reach the server. Check your internet connection, then press Retry.";
constexpr wchar_t kNotSetUp[] =
    L"The server isn't set up for the launcher yet. The server owner needs to install the latest server update.";
constexpr wchar_t kUnexpected[] = L"The server sent an unexpected answer. Press Retry.";
constexpr wchar_t kPreparing[] =
    L"The server is preparing the game files (the first start after an update can take a few minutes). "
    L"Retrying automatically...";
constexpr wchar_t kChecking[] = L"Checking game files...";
constexpr wchar_t kUpToDate[] = L"Up to date \u2022 version %d";
constexpr wchar_t kUpdateAvailable[] = L"Update available \u2022 version %d \u2022 %d file(s), %.1f MB";
constexpr wchar_t kReadyToInstall[] = L"Ready to install \u2022 version %d \u2022 %d file(s), %.2f GB";
constexpr wchar_t kNoDiskSpace[] =
    L"Not enough disk space: %.1f GB free space needed. Free some space and press Retry.";
constexpr wchar_t kDownloading[] = L"Downloading...";
constexpr wchar_t kNoSourceLeft[] =
    L"Can't download from any of the %d sources (the server and its mirrors). Check your internet connection, "
    L"then press Retry.";
constexpr wchar_t kInterrupted[] = L"Download interrupted. Press Retry to continue where it stopped.";
constexpr wchar_t kVerifying[] = L"Verifying game files \u2022 %ls of %ls";
constexpr wchar_t kRepairing[] = L"Repairing %d file(s)";
constexpr wchar_t kHeldByProgram[] = L"%ls is in use by another program. Close it, then press Retry.";
constexpr wchar_t kCloseGameFirst[] = L"Close Tervalon first, then choose that again from the menu.";
constexpr wchar_t kAfterCommandReady[] = L"%ls \u2022 up to date";  // after a move or an uninstall
constexpr wchar_t kAfterCommandOffer[] = L"%ls \u2022 %d file(s), %.2f GB to download";

constexpr wchar_t kNotSigned[] =
    L"This update is not signed with the game's key, so it won't be installed. Retrying automatically...";
constexpr wchar_t kRollback[] =
    L"The server offers version %d, older than the installed version %d, so it was refused. Retrying automatically...";
constexpr wchar_t kOtherHost[] =
    L"The server sent an update made for another server (%hs), so it was refused. Retrying automatically...";
constexpr wchar_t kExpired[] =
    L"The server's update expired on %hs, and this computer's date is %hs. If the date is wrong, correct it; "
    L"otherwise the server owner must renew the update. Retrying automatically...";
constexpr wchar_t kObjectDiffers[] =
    L"A file from the server does not match its signed description, so nothing was installed. "
    L"Retrying automatically...";
constexpr wchar_t kKeyMalformed[] =
    L"The manifest_key in TVLLauncher.ini is not a valid key, so no update can be trusted. Fix it, then restart.";

constexpr double kMiB = 1048576.0;
constexpr double kGiB = 1073741824.0;

// Waits for the main button (retryRequested), polling every 100 ms; gives up
// after `pauses` pauses unless it is kNoTimeout. A press that came before the
// wait ends it at once. Clears the flag either way.
void waitForRetry(int pauses) {
    if (pauses == kNoTimeout) logEvent("waiting for the player's Retry");
    else logEvent("retrying by itself in %d s, or at the player's Retry", pauses * static_cast<int>(kRetryPollMs) / 1000);
    for (int paused = 0; !gState.retryRequested && (pauses == kNoTimeout || paused < pauses); ++paused)
        waitMs(kRetryPollMs);
    gState.retryRequested = 0;
}

// Where the menu acts (a wait in UpdateReady or LocalError, after the files
// were judged), a command from it ends the wait too, and the cycle.
void waitForPlayer() {
    while (!gState.retryRequested && gState.playerCommand == kNoCommand) waitMs(kRetryPollMs);
    gState.retryRequested = 0;
}

bool commandPending() { return gState.playerCommand != kNoCommand; }

// ---- server documents ---------------------------------------------------

// A configuration start-up could not trust: shown until the player fixes it
// and restarts. No server is contacted, so nothing could go unsigned.
bool configurationUsable() {
    if (gState.configProblem == kConfigFine) return true;
    setStatus(LocalError, configProblemText(gState.configProblem));
    waitForRetry(kNoTimeout);
    return false;
}

// Steps 1-4: info. Its counts are shown at once; its version and notes
// count only where no release stands above them. False when the cycle must
// restart (after its wait).
bool readServerInfo(ServerInfo* info) {
    setStatus(Connecting, kConnecting);
    DWORD status = 0;
    ByteBuffer body = fetchServerDocument(L"/launcher/info", &status);
    if (!body || status != 200) {
        gState.serverOnline = 0;
        setStatus(ServerError, kUnreachable);
        waitForRetry(kUnreachablePauses);
        return false;
    }
    gState.serverOnline = 1;
    *info = readInfo(body.data, body.size);
    {
        LockHolder hold(gStateLock);
        gState.lobbiesOpen = info->lobbies;
        gState.playersInMatches = info->players;
    }
    postStateChanged(0);
    return true;
}

void showNotes(std::optional<std::wstring> notes) {
    {
        LockHolder hold(gStateLock);
        gState.patchNotes.swap(notes);
    }
    postStateChanged(1);  // the notes were replaced: back to the top
}

// ---- signatures ----------------------------------------------------------

bool keyed() { return gState.manifestKey.state != kNoManifestKey; }

void reportRelease(const wchar_t* format, ...) {
    wchar_t text[kStatusTextUnits];
    va_list args;
    va_start(args, format);
    std::vswprintf(text, kStatusTextUnits, format, args);
    va_end(args);
    logEvent("release: %s", logUtf8(text).c_str());
    if (gReleaseObserver) gReleaseObserver(text);
}

// A refusal the player can do nothing about but wait: retried on its own.
bool refuse(const wchar_t* format, ...) {
    wchar_t text[kStatusTextUnits];
    va_list args;
    va_start(args, format);
    std::vswprintf(text, kStatusTextUnits, format, args);
    va_end(args);
    setStatus(ServerError, L"%ls", text);
    waitForRetry(kNotSignedPauses);
    return false;
}

// A malformed key stops every update: it never falls back to unsigned.
bool keyUsable() {
    if (gState.manifestKey.state != kManifestKeyMalformed) return true;
    reportRelease(L"refused: the manifest key is malformed");
    setStatus(LocalError, kKeyMalformed);
    waitForRetry(kNoTimeout);
    return false;
}

// ---- the release -------------------------------------------------------

// This cycle's release, when one is used: the worker's thread only.
Release gRelease;
ByteBuffer gReleaseBytes;
ByteBuffer gManifestBytes;  // the release's manifest, kept once the files match it
bool gUsingRelease = false;

int64_t secondsNow() { return static_cast<int64_t>(std::time(nullptr)); }

bool refuseRelease(ReleaseVerdict verdict, const Release& r, int32_t floor) {
    const int version = static_cast<int>(r.version);
    switch (verdict) {
        case kReleaseOtherHost:
            reportRelease(L"refused: made for %hs, not %hs", r.host.c_str(), configuredHost().c_str());
            return refuse(kOtherHost, r.host.c_str());
        case kReleaseExpired: {
            const std::string expired = utcDate(r.expires), today = utcDate(secondsNow());
            reportRelease(L"refused: version %d expired on %hs; this computer's date is %hs", version,
                          expired.c_str(), today.c_str());
            return refuse(kExpired, expired.c_str(), today.c_str());
        }
        case kReleaseRollback:
            reportRelease(L"refused: version %d is older than version %d accepted before", version,
                          static_cast<int>(floor));
            return refuse(kRollback, version, static_cast<int>(floor));
        default:
            return true;
    }
}

// A cache that lags behind another serves an older release than the one in
// use: nothing newer yet, not an error. Unchecked releases are remembered
// here; signed ones in the data folder, so this holds across starts.
std::string gUncheckedInUse;

// The signed release in use instead of an older one, while it is still
// valid; then the older one changes nothing.
bool keepReleaseInUse(const Release& older) {
    ByteBuffer kept = readWholeFile(keptReleasePath().c_str());
    Release inUse;
    if (!kept || !readRelease(kept.data, kept.size, &inUse) || !releaseSigned(kept.data, inUse) ||
        judgeRelease(inUse, configuredHost(), secondsNow(), loadReleaseFloor().version, true) != kReleaseUsable)
        return false;
    reportRelease(L"version %d is older than version %d in use: nothing newer yet", static_cast<int>(older.version),
                  static_cast<int>(inUse.version));
    gReleaseBytes = std::move(kept);
    gRelease = inUse;
    return true;
}

// With a key: signed, for this host, not expired, not below the floor.
bool acceptSignedRelease(DWORD status) {
    Release r;
    if (!gReleaseBytes || status != 200 || !readRelease(gReleaseBytes.data, gReleaseBytes.size, &r) ||
        !releaseSigned(gReleaseBytes.data, r)) {
        if (!gReleaseBytes || status != 200)
            reportRelease(L"refused: /launcher/release answered %lu", static_cast<unsigned long>(status));
        else
            reportRelease(L"refused: /launcher/release is malformed or not signed with the game's key");
        return refuse(kNotSigned);
    }
    const int32_t floor = loadReleaseFloor().version;
    const ReleaseVerdict verdict = judgeRelease(r, configuredHost(), secondsNow(), floor, true);
    if (verdict == kReleaseRollback && keepReleaseInUse(r)) return true;
    if (verdict != kReleaseUsable) return refuseRelease(verdict, r, floor);
    reportRelease(L"version %d for %hs, signed, expires %hs", static_cast<int>(r.version), r.host.c_str(),
                  utcDate(r.expires).c_str());
    gRelease = r;
    return true;
}

// Without a key, a release that reads well and names this host is used the
// same way, unchecked; anything else leaves the fixed documents.
bool acceptUncheckedRelease(DWORD status) {
    Release r;
    if (!gReleaseBytes || status != 200 || !readRelease(gReleaseBytes.data, gReleaseBytes.size, &r) ||
        judgeRelease(r, configuredHost(), 0, 0, false) != kReleaseUsable)
        return false;
    Release inUse;
    if (readRelease(gUncheckedInUse.data(), gUncheckedInUse.size(), &inUse) && inUse.version > r.version) {
        reportRelease(L"version %d is older than version %d in use: nothing newer yet",
                      static_cast<int>(r.version), static_cast<int>(inUse.version));
        gReleaseBytes = ByteBuffer::copyOf(gUncheckedInUse.data(), gUncheckedInUse.size());
        gRelease = inUse;
        return static_cast<bool>(gReleaseBytes);
    }
    reportRelease(L"version %d for %hs, not checked (no manifest key)", static_cast<int>(r.version), r.host.c_str());
    gUncheckedInUse.assign(gReleaseBytes.data, gReleaseBytes.size);
    gRelease = r;
    return true;
}

// The mirrors of the release in use, from "/launcher/release2" where that
// is the same release in format 2 (older publishers write none). One that
// is changed is refused like the release; one of another publish adds
// nothing. False when the cycle must restart (after its wait).
bool readReleaseMirrors() {
    useMirrors({});
    DWORD status = 0;
    const ByteBuffer bytes = fetchServerDocument(L"/launcher/release2", &status, kReleaseLimit);
    if (!bytes || status != 200) return true;
    Release r;
    const bool readsWell = readRelease(bytes.data, bytes.size, &r) && r.format == 2;
    if (keyed() && (!readsWell || !releaseSigned(bytes.data, r))) {
        reportRelease(L"refused: /launcher/release2 is malformed or not signed with the game's key");
        return refuse(kNotSigned);
    }
    if (!readsWell || !sameRelease(r, gRelease)) {
        reportRelease(L"/launcher/release2 is not version %d as published: no mirrors", static_cast<int>(gRelease.version));
        return true;
    }
    useMirrors(r.mirrors);
    if (!r.mirrors.empty()) reportRelease(L"version %d names %d mirror(s)", static_cast<int>(r.version),
                                          static_cast<int>(r.mirrors.size()));
    return true;
}

// Decides where this cycle's documents come from. False when the cycle
// must restart (after its wait).
bool readServerRelease() {
    DWORD status = 0;
    gReleaseBytes = fetchServerDocument(L"/launcher/release", &status, kReleaseLimit);
    if (keyed() && !gReleaseBytes) {
        reportRelease(L"refused: /launcher/release brought no whole answer");
        setStatus(ServerError, kUnreachable);
        waitForRetry(kUnreachablePauses);
        return false;
    }
    if (keyed() && !acceptSignedRelease(status)) return false;
    gUsingRelease = keyed() || acceptUncheckedRelease(status);
    gFilesAsObjects = gUsingRelease;
    if (!gUsingRelease && gReleaseBytes && status != 200)
        logEvent("no release in use (/launcher/release answered %lu): the manifest at its fixed address",
                 static_cast<unsigned long>(status));
    else if (!gUsingRelease)
        logEvent("no release in use (/launcher/release unusable or unanswered): the manifest at its fixed address");
    if (gUsingRelease) return readReleaseMirrors();
    useMirrors({});
    return true;
}

bool objectFailed(ObjectFetch outcome, const wchar_t* what) {
    if (outcome == kObjectMismatch) {
        reportRelease(L"refused: the %ls object does not match the release", what);
        return refuse(kObjectDiffers);
    }
    reportRelease(L"the %ls object could not be fetched", what);
    if (sourceCount() > 1) {
        setStatus(ServerError, kNoSourceLeft, sourceCount());  // each source was asked
        waitForRetry(kUnreachablePauses);
        return false;
    }
    setStatus(ServerError, outcome == kObjectNoAnswer ? kUnreachable : kUnexpected);
    waitForRetry(outcome == kObjectNoAnswer ? kUnreachablePauses : kNoTimeout);
    return false;
}

// Steps 5-6 under a release: the manifest, then the notes, by hash. The
// version shown is the release's; the banner and the launcher's own build
// follow in the background.
bool readReleaseObjects() {
    ByteBuffer manifest, notes;
    ObjectFetch outcome = fetchObject(gRelease.manifest, &manifest);
    if (outcome != kObjectFetched) return objectFailed(outcome, L"manifest");
    outcome = fetchObject(gRelease.notes, &notes);
    if (outcome != kObjectFetched) return objectFailed(outcome, L"notes");
    if (!readManifest(manifest.data, manifest.size, gState.manifestEntries).accepted) {
        setStatus(ServerError, kUnexpected);
        waitForRetry(kNoTimeout);
        return false;
    }
    gManifestBytes = std::move(manifest);
    gState.serverVersion = gRelease.version;
    if (keyed()) {
        // Its version becomes the floor once its manifest checked out, so an
        // older release (and the launcher build it offers) is refused from now on.
        saveReleaseFloor(gRelease.version, 0);
        keepAcceptedRelease(gReleaseBytes);
    }
    showNotes(releaseNotesText(notes.data, notes.size));
    if (gBannerWanted && gRelease.hasBanner) gBannerWanted(&gRelease.banner);
    if (keyed()) checkLauncherOfferSoon(gReleaseBytes);
    return true;
}

// Steps 5-6 at the fixed addresses: the info's version and notes, the
// manifest at its fixed address. Only without a key.
bool readServerManifest(ServerInfo& info) {
    if (!info.hasVersion) {
        setStatus(ServerError, kNotSetUp);
        waitForRetry(kNotSetUpPauses);
        return false;
    }
    showNotes(std::move(info.notes));
    if (gBannerWanted) gBannerWanted(nullptr);
    DWORD status = 0;
    ByteBuffer body = fetchServerDocument(L"/launcher/manifest", &status);
    if (body && status == 200) {
        ManifestResult result = readManifest(body.data, body.size, gState.manifestEntries);
        if (result.hasVersion) gState.serverVersion = result.version;
        if (result.accepted) return true;
    }
    if (status == 503) {
        setStatus(Waiting, kPreparing);
        waitForRetry(kPreparingPauses);
    } else {
        setStatus(ServerError, kUnexpected);
        waitForRetry(kNoTimeout);
    }
    return false;
}

bool readServerDocuments() {
    ServerInfo info;
    if (!readServerInfo(&info) || !readServerRelease()) return false;
    return gUsingRelease ? readReleaseObjects() : readServerManifest(info);
}

// ---- check ------------------------------------------------------------

struct Work {
    int files = 0;
    int64_t bytes = 0;
};

std::wstring withThousands(size_t n) {
    std::wstring digits = std::to_wstring(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out.push_back(L',');
        out.push_back(digits[i]);
    }
    return out;
}

// What the check decided, for the log: the count, then the first files by name.
constexpr int kFilesLogged = 50;

void logWork(const char* how, const Work& work) {
    logEvent("%s version %d: %d of %zu file(s) to fetch, %lld bytes", how, static_cast<int>(gState.serverVersion),
             work.files, gState.manifestEntries.size(), static_cast<long long>(work.bytes));
    int listed = 0;
    for (const ManifestEntry& entry : gState.manifestEntries) {
        if (!entry.needsUpdate) continue;
        if (++listed > kFilesLogged) {
            logEvent("and %d file(s) more", work.files - kFilesLogged);
            break;
        }
        logEvent("to fetch: %s, %lld bytes, sha1 %s", entry.path, static_cast<long long>(entry.size), entry.sha1);
    }
}

// Every file hashed, whatever the cache says; the cache is then written
// again from these hashes.
Work verifyFiles() {
    Work work;
    const std::wstring total = withThousands(gState.manifestEntries.size());
    size_t done = 0;
    for (ManifestEntry& entry : gState.manifestEntries) {
        setStatus(Checking, kVerifying, withThousands(++done).c_str(), total.c_str());
        verifyEntry(entry);
        if (!entry.needsUpdate) continue;
        ++work.files;
        work.bytes += entry.size;
    }
    saveFileCache();
    loadFileCache();
    logWork("verified (every file hashed)", work);
    return work;
}

Work checkFiles() {
    setStatus(Checking, kChecking);
    Work work;
    const FileCacheIndex rows = indexCacheRows(gState.fileCache);
    for (ManifestEntry& entry : gState.manifestEntries) {
        checkEntry(entry, rows);
        if (!entry.needsUpdate) continue;
        ++work.files;
        work.bytes += entry.size;
    }
    logWork("checked", work);
    return work;
}

// ---- Ready ------------------------------------------------------------

// The version the server announces now: the release's where this cycle
// used one, else the info's. 0 when the poll got no answer to go by, or a
// release the cycle would refuse: only one it would accept is news.
int32_t announcedVersion(const ServerInfoPoll& poll) {
    if (!gUsingRelease) return poll.hasVersion ? poll.version : 0;
    DWORD status = 0;
    ByteBuffer bytes = fetchServerDocument(L"/launcher/release", &status, kReleaseLimit);
    Release r;
    if (!bytes || status != 200 || !readRelease(bytes.data, bytes.size, &r)) return 0;
    if (keyed() && !releaseSigned(bytes.data, r)) return 0;
    const ReleaseVerdict verdict = keyed() ? judgeRelease(r, configuredHost(), secondsNow(), loadReleaseFloor().version, true)
                                           : judgeRelease(r, configuredHost(), 0, 0, false);
    return verdict == kReleaseUsable ? r.version : 0;
}

// Polls the info every 20 s; returns when a new version is announced while
// the phase is Ready (a version seen during a game waits for its end).
void readyPoll() {
    for (;;) {
        waitMsUnless(kReadyPollMs, gState.playerCommand);
        if (commandPending()) return;
        DWORD status = 0;
        ByteBuffer body = fetchServerDocument(L"/launcher/info", &status);
        if (!body || status != 200) continue;
        ServerInfoPoll poll = readInfoPoll(body.data, body.size);
        if (poll.hasCounts) {
            gState.lobbiesOpen = poll.lobbies;
            gState.playersInMatches = poll.players;
            gState.serverOnline = 1;
            postStateChanged(0);
        }
        const int32_t version = announcedVersion(poll);
        // A release behind the one in use is a lagging cache, not news.
        const bool news = gUsingRelease ? version > gState.serverVersion : version != gState.serverVersion;
        if (version != 0 && news && gState.phase == Ready) return;
    }
}

// What a move or an uninstall did, said once instead of the usual text.
std::wstring gCommandNote;

void becomeReady() {
    writeInstallRecord();
    saveFileCache();
    if (gUsingRelease) keepInstalledRelease(gReleaseBytes, gManifestBytes);
    if (gCommandNote.empty()) setStatus(Ready, kUpToDate, static_cast<int>(gState.serverVersion));
    else setStatus(Ready, kAfterCommandReady, gCommandNote.c_str());
    gCommandNote.clear();
    if (isGameRunning()) tryStartGameMonitor();
    readyPoll();
}

// ---- the player's folder commands ------------------------------------

// A move or an uninstall needs the game closed; its outcome is said once.
bool runFolderCommand(int32_t command) {
    if (isGameRunning()) {
        setStatus(LocalError, kCloseGameFirst);
        waitForPlayer();
        return false;
    }
    std::wstring target;
    {
        LockHolder hold(gStateLock);
        target = gState.moveTarget;
    }
    const FolderOutcome outcome = command == kCommandMove ? moveGameFolder(target) : uninstallGame();
    if (!outcome.done) {
        setStatus(LocalError, L"%ls", outcome.message.c_str());
        waitForPlayer();
        return false;
    }
    gCommandNote = outcome.message;
    return true;
}

// ---- update -----------------------------------------------------------

// False when the player asked for something else from the menu meanwhile.
bool offerUpdate(const Work& work) {
    gState.bytesTotal = work.bytes;
    gState.bytesDone = 0;
    if (!gCommandNote.empty())
        setStatus(UpdateReady, kAfterCommandOffer, gCommandNote.c_str(), work.files,
                  static_cast<double>(work.bytes) / kGiB);
    else if (gState.gameInstalled)
        setStatus(UpdateReady, kUpdateAvailable, static_cast<int>(gState.serverVersion), work.files,
                  static_cast<double>(work.bytes) / kMiB);
    else
        setStatus(UpdateReady, kReadyToInstall, static_cast<int>(gState.serverVersion), work.files,
                  static_cast<double>(work.bytes) / kGiB);
    gCommandNote.clear();
    if (gState.failedPasses == 0) waitForPlayer();
    gState.retryRequested = 0;
    return !commandPending();
}

// The files and their .part files go to the game folder, which the player
// may have put on another drive than the data folder.
bool enoughDiskSpace(int64_t bytes) {
    ULARGE_INTEGER available;
    if (!::GetDiskFreeSpaceExW(gState.gameFolder, &available, nullptr, nullptr)) return true;
    if (static_cast<int64_t>(available.QuadPart) >= bytes + kDiskSpaceMargin) return true;
    setStatus(LocalError, kNoDiskSpace, static_cast<double>(bytes) / kGiB);
    waitForPlayer();
    return false;
}

bool downloadPass(DownloadRun& run) {
    setStatus(Downloading, kDownloading);
    const bool finished = downloadAll(gState.manifestEntries, run);
    saveFileCache();
    loadFileCache();
    return finished;
}

// A file another program holds is no failed download: the player can end
// it at once, and the retry only repeats the move.
bool heldByAnotherProgram() {
    if (gHeldTarget.empty()) return false;
    const size_t slash = gHeldTarget.rfind('/');
    const std::string name = gHeldTarget.substr(slash == std::string::npos ? 0 : slash + 1);
    wchar_t shown[200];
    utf8ToUtf16(name.data(), name.size(), shown, 200);
    setStatus(LocalError, kHeldByProgram, shown);
    waitForPlayer();
    return true;
}

void afterPass(bool finished) {
    if (finished) {
        gState.verifyRequested = 0;
        gState.failedPasses = 0;
        gState.gameInstalled = 1;
        writeInstallRecord();
        return;
    }
    if (heldByAnotherProgram()) return;
    int before = gState.failedPasses++;
    if (gSourcesFailed > 1) {
        // Every source failed the same file: the network's or the servers' fault, retried on its own.
        setStatus(ServerError, kNoSourceLeft, gSourcesFailed.load());
        waitForRetry(kUnreachablePauses);
        return;
    }
    if (before >= 2) {
        gState.serverFault = 1;  // the files are as they were: "Play offline" may serve
        setStatus(LocalError, kInterrupted);
        waitForPlayer();
    } else {
        waitMs(kFailedPassPauseMs);
    }
}

}  // namespace

ReleaseObserver gReleaseObserver = nullptr;
BannerRequest gBannerWanted = nullptr;

// The Ready poll inside returns only when a new version was announced or
// the player chose something from the menu.
void runUpdateCycle(DownloadRun& run) {
    // A game played offline holds its files; its monitor puts the phase
    // back when it ends, and the cycle starts after that.
    while (gState.gameRunning) waitMs(kRetryPollMs);
    gState.serverFault = 0;
    if (!configurationUsable() || !keyUsable() || !readServerDocuments()) return;
    const int32_t command = gState.playerCommand.exchange(kNoCommand);
    if (command == kCommandVerify) gState.verifyRequested = 1;
    const bool verifying = gState.verifyRequested != 0;
    Work work = verifying ? verifyFiles() : checkFiles();
    if (command == kCommandMove || command == kCommandUninstall) {
        if (!runFolderCommand(command)) return;
        work = checkFiles();  // where the game is now, or what is left of it
    }
    // Decided by the number of files, not bytes: files of size 0 need an update too.
    if (work.files == 0) {
        gState.verifyRequested = 0;
        becomeReady();
        return;
    }
    if (verifying) {
        // A repair asked for by the player starts at once.
        gState.bytesTotal = work.bytes;
        gState.bytesDone = 0;
        setStatus(Downloading, kRepairing, work.files);
    } else {
        if (!offerUpdate(work)) return;
    }
    if (!enoughDiskSpace(work.bytes)) return;
    afterPass(downloadPass(run));
}

DWORD WINAPI runUpdateWorker(void*) {
    setLogThread("worker");
    DownloadRun run;  // what this run learns of its files, for every cycle
    for (;;) runUpdateCycle(run);
}
