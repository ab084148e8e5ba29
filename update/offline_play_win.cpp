#include "update/offline_play_win.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/atomic_file_win.h"
#include "core/event_log_win.h"
#include "core/launcher_state.h"
#include "core/text_utf8.h"
#include "files/file_check.h"
#include "files/offline_check.h"
#include "trust/release.h"
#include "trust/release_identity_win.h"
#include "update/server_documents.h"

namespace {

constexpr wchar_t kNoRelease[] =
    L"No update was ever accepted on this computer, so the game can't be started without the server.";
constexpr wchar_t kKeptDamaged[] =
    L"The record of the installed version is damaged, so the game can't be started without the server.";

std::wstring dataFile(const wchar_t* name) { return std::wstring(gState.dataFolder) + L"\\" + name; }

std::mutex gKeptLock;  // the worker writes, the window reads
std::string gKeptRelease;  // what the worker last wrote, so an unchanged one is not written again

std::wstring wide(const std::string& utf8) {
    std::wstring out(utf8.size() + 1, L'\0');
    const long n = utf8ToUtf16(utf8.data(), utf8.size(), out.data(), out.size());
    out.resize(static_cast<size_t>(n > 0 ? n : 0));
    return out;
}

std::wstring problemText(const OfflineCheck& check) {
    const std::wstring file = wide(check.path);
    switch (check.problem) {
        case OfflineProblem::Missing: return file + L" is missing. Connect to the server to repair the game.";
        case OfflineProblem::Changed:
            return file + L" has changed since it was verified. Connect to the server to check the game.";
        case OfflineProblem::Unverified:
            return file + L" has not been verified. Connect to the server to check the game.";
        default: return file + L" is not the installed version's. Connect to the server to update the game.";
    }
}

// The kept release, read and checked as an accepted one: signed under the
// configured key where there is one, and for this server either way.
bool keptRelease(const ByteBuffer& bytes, Release* r) {
    if (!bytes || !readRelease(bytes.data, bytes.size, r)) return false;
    if (gState.manifestKey.state == kManifestKeyMalformed) return false;
    if (gState.manifestKey.state == kManifestKeyValid && !releaseSigned(bytes.data, *r)) return false;
    return r->host == configuredHost();
}

}  // namespace

void keepInstalledRelease(const ByteBuffer& release, const ByteBuffer& manifest) {
    if (!release || !manifest) return;
    std::lock_guard<std::mutex> hold(gKeptLock);
    if (gKeptRelease.size() == release.size && std::memcmp(gKeptRelease.data(), release.data, release.size) == 0) return;
    // The manifest first: a kept release always has its manifest beside it.
    if (!writeFileAtomically(dataFile(L"installed_manifest.txt").c_str(), manifest.data, manifest.size) ||
        !writeFileAtomically(dataFile(L"installed_release.txt").c_str(), release.data, release.size))
        return;
    gKeptRelease.assign(release.data, release.size);
    logEvent("kept the installed release and its manifest for playing offline");
}

OfflinePlay judgeOfflinePlay() {
    OfflinePlay play;
    ByteBuffer releaseBytes, manifestBytes;
    {
        std::lock_guard<std::mutex> hold(gKeptLock);
        releaseBytes = readWholeFile(dataFile(L"installed_release.txt").c_str());
        manifestBytes = readWholeFile(dataFile(L"installed_manifest.txt").c_str());
    }
    if (!releaseBytes) {
        play.reason = kNoRelease;
        return play;
    }
    Release r;
    std::vector<ManifestEntry> entries;
    if (!keptRelease(releaseBytes, &r) || !manifestBytes ||
        !bytesMatchObject(manifestBytes.data, manifestBytes.size, r.manifest) ||
        !readManifest(manifestBytes.data, manifestBytes.size, entries).accepted) {
        play.reason = kKeptDamaged;
        return play;
    }
    play.version = r.version;
    const std::wstring folder = gameFolderNow();
    const OfflineCheck check = checkFilesForOffline(entries, readFileCacheRows(), [&](const ManifestEntry& e, int64_t* size, int64_t* mtime) {
        return installedFileFacts(folder, e, size, mtime);
    });
    if (check.problem != OfflineProblem::None) {
        play.reason = problemText(check);
        return play;
    }
    play.playable = true;
    return play;
}
