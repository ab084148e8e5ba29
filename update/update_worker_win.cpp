#include "update/update_worker.h"

#include <cstdarg>
#include <cwchar>

#include "core/config_file.h"
#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "steam/game_session.h"
#include "update/download.h"
#include "update/file_check.h"
#include "update/http_client.h"
#include "update/server_documents.h"
#include "update/launcher_update_win.h"
#include "update/signature_check_win.h"
#include "update/signed_version.h"

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
constexpr wchar_t kInterrupted[] = L"Download interrupted. Press Retry to continue where it stopped.";

constexpr wchar_t kNotSigned[] =
    L"This update is not signed with the game's key, so it won't be installed. Retrying automatically...";
constexpr wchar_t kRollback[] =
    L"The server offers version %d, older than the installed version %d, so it was refused. Retrying automatically...";
constexpr wchar_t kKeyMalformed[] =
    L"The manifest_key in TVLLauncher.ini is not a valid key, so no update can be trusted. Fix it, then restart.";

constexpr double kMiB = 1048576.0;
constexpr double kGiB = 1073741824.0;

// Waits for the main button (retryRequested), polling every 100 ms; gives up
// after `pauses` pauses unless it is kNoTimeout. A press that came before the
// wait ends it at once. Clears the flag either way.
void waitForRetry(int pauses) {
    for (int paused = 0; !gState.retryRequested && (pauses == kNoTimeout || paused < pauses); ++paused)
        waitMs(kRetryPollMs);
    gState.retryRequested = 0;
}

// ---- server documents ---------------------------------------------------

// A configuration start-up could not trust: shown until the player fixes it
// and restarts. No server is contacted, so nothing could go unsigned.
bool configurationUsable() {
    if (gState.configProblem == kConfigFine) return true;
    setStatus(LocalError, configProblemText(gState.configProblem));
    waitForRetry(kNoTimeout);
    return false;
}

// Steps 1-4: info. False when the cycle must restart (after its wait).
bool readServerInfo(DWORD* status) {
    setStatus(Connecting, kConnecting);
    *status = 0;
    ByteBuffer body = fetchServerDocument(L"/launcher/info", status);
    if (!body || *status != 200) {
        gState.serverOnline = 0;
        setStatus(ServerError, kUnreachable);
        waitForRetry(kUnreachablePauses);
        return false;
    }
    gState.serverOnline = 1;
    checkLauncherOfferSoon();
    ServerInfo info = readInfo(body.data, body.size);
    if (!info.hasVersion) {
        setStatus(ServerError, kNotSetUp);
        waitForRetry(kNotSetUpPauses);
        return false;
    }
    std::optional<std::wstring> oldNotes;
    {
        LockHolder hold(gStateLock);
        gState.lobbiesOpen = info.lobbies;
        gState.playersInMatches = info.players;
        oldNotes.swap(gState.patchNotes);
        gState.patchNotes = std::move(info.notes);
    }
    postStateChanged(1);  // the notes were replaced: back to the top
    return true;
}

// ---- signatures ----------------------------------------------------------

bool keyed() { return gState.manifestKey.state != kNoManifestKey; }

void reportSignature(const wchar_t* format, ...) {
    if (!gSignatureObserver) return;
    wchar_t text[kStatusTextUnits];
    va_list args;
    va_start(args, format);
    std::vswprintf(text, kStatusTextUnits, format, args);
    va_end(args);
    gSignatureObserver(text);
}

// Does /launcher/manifest.sig sign the manifest body exactly as served?
bool manifestSigned(const ByteBuffer& manifest) {
    DWORD status = 0;
    ByteBuffer sig = fetchServerDocument(L"/launcher/manifest.sig", &status, kSignatureBodyLimit);
    ManifestSignature signature;
    if (!sig || status != 200) {
        reportSignature(L"missing: /launcher/manifest.sig answered %lu", static_cast<unsigned long>(status));
        return false;
    }
    if (!decodeManifestSignature(sig.data, sig.size, &signature)) {
        reportSignature(L"malformed: /launcher/manifest.sig is not the base64 of r||s");
        return false;
    }
    if (!verifyEcdsaP256(gState.manifestKey.xy, manifest.data, manifest.size, signature)) {
        reportSignature(L"does not verify: the manifest is not signed with the game's key");
        return false;
    }
    return true;
}

// A signed version below the highest one installed under the key.
bool isRollback(int32_t version) {
    int32_t installed = 0;
    if (!loadSignedVersion(&installed) || version >= installed) return false;
    reportSignature(L"refused: version %d is older than version %d installed before", static_cast<int>(version),
                    static_cast<int>(installed));
    setStatus(ServerError, kRollback, static_cast<int>(version), static_cast<int>(installed));
    waitForRetry(kNotSignedPauses);
    return true;
}

// Reached only through a manifest that verified, so its version is trusted.
void rememberSignedVersion() {
    int32_t installed = 0;
    if (!keyed() || (loadSignedVersion(&installed) && installed >= gState.serverVersion)) return;
    saveSignedVersion(gState.serverVersion);
}

// ---- manifest -----------------------------------------------------------

// A malformed key stops every update: it never falls back to unsigned.
bool keyUsable() {
    if (gState.manifestKey.state != kManifestKeyMalformed) return true;
    reportSignature(L"the manifest key is malformed");
    setStatus(LocalError, kKeyMalformed);
    waitForRetry(kNoTimeout);
    return false;
}

// Steps 5-6: manifest. The status still holds the info's 200 when no answer
// comes. With a key, a manifest is used only once its signature verified.
bool readServerManifest(DWORD* status) {
    if (!keyUsable()) return false;
    ByteBuffer body = fetchServerDocument(L"/launcher/manifest", status);
    bool accepted = false;
    if (body && *status == 200) {
        if (keyed() && !manifestSigned(body)) {
            setStatus(ServerError, kNotSigned);
            waitForRetry(kNotSignedPauses);
            return false;
        }
        ManifestResult result = readManifest(body.data, body.size, gState.manifestEntries);
        if (result.accepted && keyed() && isRollback(result.version)) return false;
        if (result.hasVersion) gState.serverVersion = result.version;
        accepted = result.accepted;
        if (accepted && keyed()) reportSignature(L"verified with the game's key, version %d", static_cast<int>(result.version));
    }
    if (accepted) return true;
    if (*status == 503) {
        setStatus(Waiting, kPreparing);
        waitForRetry(kPreparingPauses);
    } else {
        setStatus(ServerError, kUnexpected);
        waitForRetry(kNoTimeout);
    }
    return false;
}

// ---- check ------------------------------------------------------------

struct Work {
    int files = 0;
    int64_t bytes = 0;
};

Work checkFiles() {
    setStatus(Checking, kChecking);
    Work work;
    for (ManifestEntry& entry : gState.manifestEntries) {
        checkEntry(entry);
        if (!entry.needsUpdate) continue;
        ++work.files;
        work.bytes += entry.size;
    }
    return work;
}

// ---- Ready ------------------------------------------------------------

// Polls the info every 20 s; returns when a new version is announced while
// the phase is Ready (a version seen during a game waits for its end).
void readyPoll() {
    for (;;) {
        waitMs(kReadyPollMs);
        DWORD status = 0;
        ByteBuffer body = fetchServerDocument(L"/launcher/info", &status);
        if (!body || status != 200) continue;
        checkLauncherOfferSoon();
        ServerInfoPoll poll = readInfoPoll(body.data, body.size);
        if (poll.hasCounts) {
            gState.lobbiesOpen = poll.lobbies;
            gState.playersInMatches = poll.players;
            gState.serverOnline = 1;
            postStateChanged(0);
        }
        if (poll.hasVersion && poll.version != gState.serverVersion && gState.phase == Ready) return;
    }
}

void becomeReady() {
    writeInstallRecord();
    saveFileCache();
    rememberSignedVersion();
    setStatus(Ready, kUpToDate, static_cast<int>(gState.serverVersion));
    if (isGameRunning()) tryStartGameMonitor();
    readyPoll();
}

// ---- update -----------------------------------------------------------

void offerUpdate(const Work& work) {
    gState.bytesTotal = work.bytes;
    gState.bytesDone = 0;
    if (gState.gameInstalled)
        setStatus(UpdateReady, kUpdateAvailable, static_cast<int>(gState.serverVersion), work.files,
                  static_cast<double>(work.bytes) / kMiB);
    else
        setStatus(UpdateReady, kReadyToInstall, static_cast<int>(gState.serverVersion), work.files,
                  static_cast<double>(work.bytes) / kGiB);
    if (gState.failedPasses == 0) waitForRetry(kNoTimeout);
    gState.retryRequested = 0;
}

bool enoughDiskSpace(int64_t bytes) {
    ULARGE_INTEGER available;
    if (!::GetDiskFreeSpaceExW(gState.dataFolder, &available, nullptr, nullptr)) return true;
    if (static_cast<int64_t>(available.QuadPart) >= bytes + kDiskSpaceMargin) return true;
    setStatus(LocalError, kNoDiskSpace, static_cast<double>(bytes) / kGiB);
    waitForRetry(kNoTimeout);
    return false;
}

bool downloadPass() {
    setStatus(Downloading, kDownloading);
    bool finished = true;
    for (ManifestEntry& entry : gState.manifestEntries) {
        if (entry.needsUpdate && !downloadEntry(entry)) {
            finished = false;
            break;
        }
    }
    saveFileCache();
    loadFileCache();
    return finished;
}

void afterPass(bool finished) {
    if (finished) {
        gState.failedPasses = 0;
        gState.gameInstalled = 1;
        writeInstallRecord();
        return;
    }
    int before = gState.failedPasses++;
    if (before >= 2) {
        setStatus(LocalError, kInterrupted);
        waitForRetry(kNoTimeout);
    } else {
        waitMs(kFailedPassPauseMs);
    }
}

}  // namespace

SignatureObserver gSignatureObserver = nullptr;

// The Ready poll inside returns only when a new version was announced.
void runUpdateCycle() {
    DWORD status = 0;
    if (!configurationUsable() || !readServerInfo(&status) || !readServerManifest(&status)) return;
    Work work = checkFiles();
    // Decided by the number of files, not bytes: files of size 0 need an update too.
    if (work.files == 0) {
        becomeReady();
        return;
    }
    offerUpdate(work);
    if (!enoughDiskSpace(work.bytes)) return;
    afterPass(downloadPass());
}

DWORD WINAPI runUpdateWorker(void*) {
    for (;;) runUpdateCycle();
}
