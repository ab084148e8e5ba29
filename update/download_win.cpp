#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_set>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/event_log_win.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/text_utf8.h"
#include "core/wait_seam.h"
#include "delta/block_map.h"
#include "delta/delta_win.h"
#include "delta/zst_download_win.h"
#include "delta/zst_frames.h"
#include "files/file_check.h"
#include "files/game_folder_win.h"
#include "files/mapped_file_win.h"
#include "files/manifest_paths.h"
#include "files/sha1_win.h"
#include "files/file_cache.h"
#include "net/body_prefetch_win.h"
#include "net/http_client.h"
#include "net/segment_fetch_win.h"
#include "net/sources_win.h"
#include "update/download.h"
#include "update/route_choice.h"

bool gFilesAsObjects = false;
std::string gHeldTarget;

namespace {

std::mutex gHeldLock;  // files download side by side

// What this thread's file added to bytesDone, taken back when an attempt
// fails: the files beside it keep what they counted.
thread_local int64_t tEntryBytes = 0;

void countDone(int64_t bytes) {
    gState.bytesDone += bytes;
    tEntryBytes += bytes;
}

// Why this thread's attempt failed, as far as the source is to blame, and
// the status that said so (0 for none).
thread_local SourceFault tFault = kFaultNone;
thread_local DWORD tFaultStatus = 0;

bool failed(SourceFault fault, DWORD status = 0) {
    tFault = fault;
    tFaultStatus = status;
    return false;
}

// A failure on this computer's side (a part file that cannot be opened or
// written, a move refused), with the system's code for the log.
thread_local DWORD tLocalError = 0;
// The answer ended before the file's end without a read error: how a
// dropped connection shows under some systems.
thread_local bool tCutShort = false;

bool failedHere() {
    tLocalError = ::GetLastError();
    return failed(kFaultNone);
}

// The source of this thread's attempt; what its verified transfer moved and
// in how long; and, when it was left for being far below another source,
// that source's rate.
thread_local int tSource = 0;
thread_local int64_t tFetchedBytes = 0;
thread_local uint64_t tFetchMs = 0;
thread_local int64_t tOtherRate = 0;

// Arrivals far below what another source gave end the attempt, so the
// next source takes over from the part file's end.
class PaceCheck {
public:
    PaceCheck() : other_(gFilesAsObjects && sourceCount() > 1 ? fastestOtherRate(tSource) : 0) {}
    bool farBehind(int64_t got) {
        if (!farBelow(span_, ::GetTickCount64(), got, other_)) return false;
        tOtherRate = other_;
        tFault = kFaultNetwork;
        return true;
    }

private:
    int64_t other_;
    RateSpan span_;
};

bool failedStatus(DWORD status) { return failed(status >= 400 && status < 500 ? kFaultMissing : kFaultNetwork, status); }

// The manifest's hash is 40 characters of any kind; only hex digits go into
// the path as they are, so no hash can reach another URL.
std::wstring fileObjectAddress(const ManifestEntry& entry) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring address = L"/launcher/o/";
    for (const char* c = entry.sha1; *c; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        const unsigned char lower = (u >= 'A' && u <= 'F') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
        if ((lower >= '0' && lower <= '9') || (lower >= 'a' && lower <= 'f')) {
            address.push_back(static_cast<wchar_t>(lower));
        } else {
            address.push_back(L'%');
            address.push_back(kHex[u >> 4]);
            address.push_back(kHex[u & 15]);
        }
    }
    return address;
}

struct EntryPaths {
    wchar_t target[kFilePathUnits];
    wchar_t part[kFilePathUnits];
};

bool buildPaths(const ManifestEntry& entry, EntryPaths* p) {
    if (!entryLocalPath(gState.gameFolder, entry, p->target, kFilePathUnits)) return false;
    int n = ::_snwprintf(p->part, kFilePathUnits, L"%ls.part", p->target);
    return n > 0 && n < kFilePathUnits;
}

// The game folder and every folder below it on the way to the target. The
// folders above it exist since start-up; asking for each of them again cost
// a round trip per level on every file.
void createFolders(const wchar_t* target) {
    wchar_t folder[kFilePathUnits];
    for (size_t i = std::wcslen(gState.gameFolder); target[i]; ++i) {
        if (target[i] != L'\\') continue;
        std::wmemcpy(folder, target, i);
        folder[i] = 0;
        ::CreateDirectoryW(folder, nullptr);
    }
}

// The size of a file (the part file, a seed), or -1 when there is none.
int64_t fileSizeAt(const wchar_t* part) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(part, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void showDownloading(const ManifestEntry& entry) {
    const char* slash = std::strrchr(entry.path, '/');
    const char* name = slash ? slash + 1 : entry.path;
    wchar_t display[200];
    utf8ToUtf16(name, std::strlen(name), display, 200);  // a name too long is shown cut
    setStatus(-1, L"Downloading %ls", display);
}

// Opens the part file positioned at `have`, with anything after it dropped.
// With DELETE access, so that once verified it can be renamed into place
// through this handle.
KernelHandle openPartFile(const wchar_t* part, int64_t have) {
    KernelHandle h(::CreateFileW(part, GENERIC_WRITE | DELETE, 0, nullptr, have > 0 ? OPEN_ALWAYS : CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h || have == 0) return h;  // created empty: nothing to position or cut
    LARGE_INTEGER pos;
    pos.QuadPart = have;
    if (!::SetFilePointerEx(h.get(), pos, nullptr, FILE_BEGIN) || !::SetEndOfFile(h.get())) h.reset();
    return h;
}

// Streams the body into the part file. Never writes past entry.size: a
// server that sends more fails the attempt instead of filling the disk.
// Every byte written also goes into `written`, the hash of the part file
// when the transfer started at 0.
bool receiveBody(ServerRequest& request, HANDLE file, int64_t size, int64_t* have, Sha1Hash& written) {
    // A body of one block gains nothing from a helper thread, which costs
    // about as much as the request itself on small files.
    BodyPrefetcher body(request.request, kTransferBlock, size - *have > kTransferBlock);
    if (!body.ok()) return false;
    PaceCheck pace;
    for (;;) {
        const char* block = nullptr;
        DWORD got = 0;
        bool readable = body.next(&block, &got);
        if (readable && got == 0) {
            tCutShort = *have < size;
            return !tCutShort || failed(kFaultNetwork);  // cut short: the connection's failure, not wrong bytes
        }
        // What arrived before a failure is kept too: the next attempt resumes after it.
        bool tooMuch = static_cast<int64_t>(got) > size - *have;
        DWORD keep = tooMuch ? static_cast<DWORD>(size - *have) : got;
        DWORD done = 0;
        if (keep > 0 && (!::WriteFile(file, block, keep, &done, nullptr) || done != keep)) return failedHere();
        written.add(block, keep);
        body.release();
        *have += keep;
        countDone(keep);
        gState.bytesFromNetwork += keep;
        if (keep > 0) postStateChanged(0);
        if (tooMuch) return failed(kFaultWrong);
        if (!readable) return failed(kFaultNetwork);  // broke off, or stalled
        if (pace.farBehind(keep)) return false;
    }
}

// A large object in segments over several connections, written to the
// part file in order as each one's turn comes.
SegmentsEnd fetchInSegments(const std::wstring& requestPath, const ManifestEntry& entry, const EntryPaths& paths,
                            int64_t* have, Sha1Hash& written, KernelHandle& file) {
    file = openPartFile(paths.part, *have);
    if (!file) return kSegmentsFailed;
    const HANDLE part = file.get();
    int requests = 0;
    PaceCheck pace;
    return fetchSegments(requestPath.c_str(), cutSegments({{*have, entry.size - 1}}, kSegmentBytes),
                         [&](int64_t, const char* data, size_t size) {
                             DWORD done = 0;
                             if (!::WriteFile(part, data, static_cast<DWORD>(size), &done, nullptr) || done != size)
                                 return false;
                             written.add(data, size);
                             *have += static_cast<int64_t>(size);
                             countDone(static_cast<int64_t>(size));
                             postStateChanged(0);
                             return !pace.farBehind(static_cast<int64_t>(size));
                         },
                         &requests);
}

// Brings the part file to the entry's size from the server. `have` is what
// the part file holds already and is counted in bytesDone. *fromZero tells
// whether the part file was written from its first byte in this call; the
// part file stays open in `file` for the move.
bool fetchRest(const ManifestEntry& entry, const std::wstring& requestPath, const EntryPaths& paths, int64_t* have,
               Sha1Hash& written, bool* fromZero, KernelHandle& file) {
    const int64_t start = *have;
    const uint64_t began = ::GetTickCount64();
    *fromZero = start == 0;
    auto fetched = [&] {
        tFetchedBytes = *have - start;
        tFetchMs = ::GetTickCount64() - began;
        return *have == entry.size;
    };
    // Objects never change under their name, so their segments may come
    // from separate requests. A host that will not serve them gets one.
    if (gFilesAsObjects && entry.size - *have > 2 * kSegmentBytes) {
        const SegmentsEnd end = fetchInSegments(requestPath, entry, paths, have, written, file);
        if (end == kSegmentsDone) return fetched();
        if (end == kSegmentsFailed) return failed(kFaultNetwork);
        if (end == kSegmentsDropped && tFault != kFaultNone) return false;  // far behind another source
        if (end != kSegmentsUnfit && end != kSegmentsRefused) return failed(kFaultNone);
        file.reset();
    }
    ServerRequest request = openServerRequest(requestPath.c_str(), *have);
    if (!request) return failed(kFaultNetwork);
    DWORD status = requestStatusCode(request);
    if (status != 200 && status != 206) return failedStatus(status);
    if (status == 200 && *have > 0) {
        // The server sent the whole file instead of the rest: start over.
        // The stream's hash serves only while nothing went into it yet.
        *fromZero = *have == start;
        countDone(-*have);
        *have = 0;
    }
    file = openPartFile(paths.part, *have);
    if (!file) return failedHere();
    return receiveBody(request, file.get(), entry.size, have, written) && fetched();
}

// The first file found held by another program is the one named.
void heldBy(const ManifestEntry& entry) {
    std::lock_guard<std::mutex> hold(gHeldLock);
    if (gHeldTarget.empty()) gHeldTarget = entry.path;
}

// Renames the open part file over the target: under Wine one call, where
// MoveFileExW by name takes several and was half a small file's cost.
bool renameOpenFile(HANDLE file, const wchar_t* target) {
    const size_t bytes = std::wcslen(target) * sizeof(wchar_t);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(info->FileName, target, bytes);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

// Moves the verified part file over the target. Most targets are missing
// or writable, so the move is tried first; a read-only one is made writable
// only when the move is refused. When the target is in use the verified
// part file stays for the next attempt.
bool moveIntoPlace(const ManifestEntry& entry, const EntryPaths& paths) {
    if (::MoveFileExW(paths.part, paths.target, MOVEFILE_REPLACE_EXISTING)) return true;
    DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
        ::SetFileAttributesW(paths.target, FILE_ATTRIBUTE_NORMAL);
        if (::MoveFileExW(paths.part, paths.target, MOVEFILE_REPLACE_EXISTING)) return true;
        error = ::GetLastError();
    }
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION)
        heldBy(entry);
    tLocalError = error;
    return false;
}

// Verified files whose targets are seeds of the pass: moved at its end.
struct Waiting {
    ManifestEntry* entry;
    EntryPaths paths;
};
std::vector<Waiting> gWaiting;

// From now on this run, the file does not take that route.
void refuse(DownloadRun& run, std::set<std::string>& refused, const ManifestEntry& entry) {
    std::lock_guard<std::mutex> hold(run.lock);
    refused.insert(entry.sha1);
}

// A large file whose whole part file failed its SHA-1 may wait to be
// mended by its map at the next attempt, once a run.
bool mendable(const ManifestEntry& entry, DownloadRun& run) {
    std::lock_guard<std::mutex> hold(run.lock);
    return gFilesAsObjects && entry.size >= kDeltaThreshold && !run.lessons.mendTried.count(entry.sha1);
}

// `sha1` holds the part file's hash when it is already known from the
// transfer, with the part file still open in `file`; otherwise (resumed or
// found complete) the file is closed and hashed now. `mayMend`: a whole part
// file that fails may be kept for mendPart.
bool verifyAndMove(ManifestEntry& entry, const EntryPaths& paths, char* sha1, KernelHandle& file, bool mayMend,
                   DownloadRun& run) {
    if (!sha1[0]) file.reset();
    if (!sha1[0] && !sha1OfFile(paths.part, sha1, false)) sha1[0] = 0;
    if (!sha1[0] || std::strcmp(sha1, entry.sha1) != 0) {
        file.reset();
        // Whole but wrong (a byte changed on the way, or at a source): kept
        // for its map to find the wrong blocks, unless tried already.
        if (sha1[0] && mayMend && mendable(entry, run) && fileSizeAt(paths.part) == entry.size) {
            std::lock_guard<std::mutex> hold(run.lock);
            run.lessons.mendable.insert(entry.sha1);
        } else {
            ::DeleteFileW(paths.part);
        }
        return failed(sha1[0] ? kFaultWrong : kFaultNone);
    }
    // An installed file other deltas of this pass copy from keeps its old
    // bytes until they are done; the verified part file waits beside it.
    if (isSeed(paths.target)) {
        file.reset();
        std::lock_guard<std::mutex> hold(gHeldLock);
        gWaiting.push_back({&entry, paths});
        return true;
    }
    const bool renamed = file && renameOpenFile(file.get(), paths.target);
    file.reset();
    if (!renamed && !moveIntoPlace(entry, paths)) return false;
    noteInstalled(entry);
    return true;
}

// Takes `sha1` off the files waiting to be mended: it is tried now, once.
bool takeMendable(const char* sha1, DownloadRun& run) {
    std::lock_guard<std::mutex> hold(run.lock);
    if (!run.lessons.mendable.erase(sha1)) return false;
    run.lessons.mendTried.insert(sha1);
    return true;
}

// The wrong blocks of a whole part file fetched again from this attempt's
// source, as its map finds them.
void mendPart(const ManifestEntry& entry, const std::wstring& address, const EntryPaths& paths) {
    KernelHandle part(::CreateFileW(paths.part, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!part) return;
    DeltaStats stats;
    mendByMap(entry, address, part.get(), &stats);  // a few blocks: no measure of the source's rate
}

thread_local bool tDeltaUsedFine = false;  // this attempt's delta was placed by a fine map

// The part file from the installed copy and ranges, where a map allows it.
// kDeltaUnavailable leaves the file to the whole download.
// With the part file open in `file` and its hash in `sha1` when it was
// written from its first byte.
DeltaOutcome tryDelta(const ManifestEntry& entry, const std::wstring& address, const EntryPaths& paths, int64_t* have,
                      KernelHandle& file, char* sha1, DownloadRun& run) {
    file = openPartFile(paths.part, *have);
    if (!file) return kDeltaFailed;
    DeltaStats stats;
    Sha1Hash written;
    const bool fromZero = *have == 0 && written.ok();
    const int64_t before = *have;
    {
        std::lock_guard<std::mutex> hold(run.lock);
        ++run.lessons.deltaTries[entry.sha1];
    }
    const DeltaOutcome outcome = fetchByDelta(entry, address, paths.target, file.get(), have,
                                              fromZero ? &written : nullptr, &stats);
    tDeltaUsedFine = stats.usedFineMap;
    if (outcome == kDeltaFailed) failed(kFaultNetwork);
    tEntryBytes += *have - before;  // counted in bytesDone as written
    if (outcome == kDeltaGaveUp) refuse(run, run.lessons.wholeOnly, entry);  // and the rest comes plainly now
    if (outcome != kDeltaComplete) file.reset();
    if (outcome == kDeltaComplete && !(fromZero && written.finishHex(sha1))) {
        sha1[0] = 0;
        file.reset();  // hashed from the disk instead
    }
    return outcome;
}

void refuseForm(DownloadRun& run, std::set<std::string>& refused, const ManifestEntry& entry, const char* what,
                const std::string& why) {
    logEvent("%s: its %s is not used: %s", entry.path, what, why.c_str());
    refuse(run, refused, entry);
}

// The rest of the part file from a zst form: the file's own, or a patch.
// As tryDelta: the part file open in `file`, and its hash in `sha1` when it
// was written from its first byte.
ZstOutcome tryForm(const ManifestEntry& entry, const ZstForm& form, const EntryPaths& paths, int64_t* have,
                   KernelHandle& file, char* sha1, ZstStats* stats) {
    file = openPartFile(paths.part, *have);
    if (!file) return failedHere(), kZstFailed;
    Sha1Hash written;
    const bool fromZero = *have == 0 && written.ok();
    const int64_t before = *have;
    const uint64_t began = ::GetTickCount64();
    const ZstOutcome outcome = fetchZstForm(entry, form, file.get(), have, fromZero ? &written : nullptr, stats);
    tEntryBytes += *have - before;  // counted in bytesDone as written
    tFetchedBytes = stats->fetched;
    tFetchMs = ::GetTickCount64() - began;
    if (outcome == kZstFailed) failed(kFaultNetwork);
    if (outcome != kZstComplete) file.reset();
    // Frames that ended passed their checksums; the bytes of the one that
    // failed may be wrong (a patch over a copy that is not its version).
    const int64_t frameStart = *have / kZstFrameBytes * kZstFrameBytes;
    if (outcome == kZstUnusable && frameStart < *have && openPartFile(paths.part, frameStart)) {
        countDone(frameStart - *have);
        *have = frameStart;
    }
    if (outcome == kZstComplete && !(fromZero && written.finishHex(sha1))) {
        sha1[0] = 0;
        file.reset();  // hashed from the disk instead
    }
    return outcome;
}

ZstOutcome tryZst(const ManifestEntry& entry, const std::wstring& address, const EntryPaths& paths, int64_t* have,
                  KernelHandle& file, char* sha1, DownloadRun& run) {
    ZstStats stats;
    const ZstOutcome outcome = tryForm(entry, ownZstForm(entry, address), paths, have, file, sha1, &stats);
    if (outcome == kZstUnusable) refuseForm(run, run.lessons.zstRefused, entry, "zst form", stats.why);
    return outcome;
}

// The installed copy, still as the check knew it, is the reference the
// patch of its version was made from: mapped, never read whole.
ZstOutcome tryPatch(const ManifestEntry& entry, const std::wstring& address, const EntryPaths& paths, int64_t* have,
                    KernelHandle& file, char* sha1, DownloadRun& run) {
    const PatchOffer* offer = nullptr;
    {
        std::lock_guard<std::mutex> hold(run.lock);
        offer = applicablePatch(entry, run.lessons, gFilesAsObjects);
    }
    if (!offer) return kZstUnavailable;
    MappedFile installed;
    if (reachedThroughLink(gState.gameFolder, paths.target) ||
        !installed.open(paths.target, entry.installedSize, entry.installedMtime)) {
        refuseForm(run, run.lessons.patchRefused, entry, "patch", "the installed copy changed since it was checked");
        return kZstUnavailable;
    }
    ZstStats stats;
    const ZstOutcome outcome =
        tryForm(entry, patchForm(*offer, address, installed.data(), installed.size()), paths, have, file, sha1, &stats);
    if (outcome == kZstUnusable) refuseForm(run, run.lessons.patchRefused, entry, "patch", stats.why);
    return outcome;
}

// The routes the site offers for this file, cheapest first.
std::vector<FileRoute> routesFor(const ManifestEntry& entry, const EntryPaths& paths, DownloadRun& run) {
    FileSituation situation;
    situation.filesAsObjects = gFilesAsObjects;
    if (gFilesAsObjects && entry.size >= kDeltaThreshold) {
        situation.deltaSeed = plannedForPass(entry.sha1) || ::GetFileAttributesW(paths.target) != INVALID_FILE_ATTRIBUTES;
        situation.plannedDeltaBytes = plannedFetchBytes(entry.sha1);
    }
    std::lock_guard<std::mutex> hold(run.lock);
    return chooseRoutes(offersFor(entry, run.lessons, situation));
}

// One try at the entry from source `source` (always the host for files
// outside a release).
bool attempt(ManifestEntry& entry, int source, DownloadRun& run) {
    tFault = kFaultNone;
    tFaultStatus = 0;
    tLocalError = 0;
    tCutShort = false;
    tSource = source;
    tFetchedBytes = 0;
    tOtherRate = 0;
    tDeltaUsedFine = false;
    EntryPaths paths;
    if (!buildPaths(entry, &paths)) return false;
    const std::wstring address = gFilesAsObjects ? sourceAddress(source, fileObjectAddress(entry)) : encodeRequestPath(entry);
    createFolders(paths.target);
    int64_t have = fileSizeAt(paths.part);
    if (have > entry.size) ::DeleteFileW(paths.part);
    bool exists = have >= 0 && have <= entry.size;
    if (!exists) have = 0;
    countDone(have);
    char sha1[41] = "";
    KernelHandle file;
    DeltaOutcome delta = kDeltaUnavailable;
    ZstOutcome zst = kZstUnavailable, patch = kZstUnavailable;
    for (const FileRoute route : have < entry.size ? routesFor(entry, paths, run) : std::vector<FileRoute>{}) {
        if (route == kRoutePatch) patch = tryPatch(entry, address, paths, &have, file, sha1, run);
        if (route == kRouteDelta) delta = tryDelta(entry, address, paths, &have, file, sha1, run);
        if (route == kRouteZst) zst = tryZst(entry, address, paths, &have, file, sha1, run);
        if (delta == kDeltaFailed || zst == kZstFailed || patch == kZstFailed) return false;
        if (delta == kDeltaComplete || zst == kZstComplete || patch == kZstComplete || route == kRouteWhole) break;
    }
    if (delta == kDeltaComplete || zst == kZstComplete || patch == kZstComplete) {
        // The part file is whole; verified below.
    } else if (have < entry.size) {
        Sha1Hash written;
        bool fromZero = false;
        if (!fetchRest(entry, address, paths, &have, written, &fromZero, file)) return false;
        if (fromZero && !written.finishHex(sha1)) sha1[0] = 0;
    } else if (!exists) {
        // An empty file needs no request, only creating.
        file = openPartFile(paths.part, 0);
        if (!file) return failedHere();
        file.reset();
    }
    const bool mending = exists && have == entry.size && delta == kDeltaUnavailable && takeMendable(entry.sha1, run);
    if (mending) mendPart(entry, address, paths);  // however it went, the part file is hashed now
    if (!verifyAndMove(entry, paths, sha1, file, delta != kDeltaComplete && !mending, run)) {
        // A fine map's sums may have lied where the map did not: once more
        // without them, before the whole file.
        if (delta == kDeltaComplete && tDeltaUsedFine) refuseFineMap(entry.sha1);
        else if (delta == kDeltaComplete) refuse(run, run.lessons.wholeOnly, entry);
        if (zst == kZstComplete) refuseForm(run, run.lessons.zstRefused, entry, "zst form", "it made a file that fails its SHA-1");
        if (patch == kZstComplete) refuseForm(run, run.lessons.patchRefused, entry, "patch", "it made a file that fails its SHA-1");
        return false;
    }
    if (gFilesAsObjects) noteSourceRate(source, tFetchedBytes, tFetchMs);
    entry.needsUpdate = 0;
    return true;
}

}  // namespace

void forgetDownloadMemory() { forgetDeltaState(); }

namespace {

// What TVLHeadless says of a move: which source failed, at what.
std::wstring faultReason(int source, const ManifestEntry& entry) {
    const std::wstring name = sourceName(source), object = fileObjectAddress(entry);
    if (tFaultStatus) return name + L" answered " + std::to_wstring(tFaultStatus) + L" for " + object;
    if (tFault == kFaultWrong) return name + L" sent " + object + L" with other bytes than its SHA-1 and size";
    if (tOtherRate)
        return name + L" gave less than a twentieth of another source's " + std::to_wstring(tOtherRate / 1000) +
               L" KB/s during " + object;
    return name + L" could not be reached, or broke off or stalled, during " + object;
}

// Why an attempt failed, for the log line of its retry.
std::string attemptFailure() {
    if (tFaultStatus) return "the source answered " + std::to_string(tFaultStatus);
    if (tCutShort) return "the answer ended before the file's end (the connection closed early)";
    if (tFault == kFaultWrong) return "the bytes differ from its SHA-1 or size";
    if (tOtherRate) return "far below another source's " + std::to_string(tOtherRate / 1000) + " KB/s";
    if (tFault == kFaultNetwork) return "no answer, or it broke off or stalled (the request above says how)";
    if (tLocalError) return "this computer refused: " + describeError(tLocalError);
    return "stopped on this computer";
}

}  // namespace

std::atomic<int> gSourcesFailed{0};

bool downloadEntry(ManifestEntry& entry, DownloadRun& run) {
    showDownloading(entry);
    tEntryBytes = 0;
    // Each source once more than the host alone would be tried.
    const int sources = gFilesAsObjects ? sourceCount() : 1;
    const std::string object = entry.sha1;
    std::vector<int> tried;  // the sources that failed it since the last pause
    std::vector<bool> failedOnce(static_cast<size_t>(sources), false);
    for (int attemptNo = 1;; ++attemptNo) {
        int source = sources > 1 ? chooseObjectSource(object, tried) : 0;
        if (source < 0) source = 0;
        if (attempt(entry, source, run)) return true;
        logEvent("%s from %s, attempt %d: %s", entry.path, logUtf8(sourceOrigin(source)).c_str(), attemptNo,
                 attemptFailure().c_str());
        countDone(-tEntryBytes);
        if (sources > 1) noteObjectFault(source, object, tFault);
        if (tFault != kFaultNone) {
            tried.push_back(source);
            failedOnce[static_cast<size_t>(source)] = true;
        }
        const int next = sources > 1 && tFault != kFaultNone ? chooseObjectSource(object, tried) : -1;
        if (attemptNo >= kDownloadAttempts + sources - 1) {
            if (sources > 1 && std::count(failedOnce.begin(), failedOnce.end(), true) == sources)
                gSourcesFailed = sources;
            return false;
        }
        if (next >= 0) {
            reportSourceMove(next, faultReason(source, entry));  // at once: the part file stays
            continue;
        }
        tried.clear();
        waitMs(kAttemptPauseMs);
    }
}

namespace {

// Small files several at once, each on a connection of its own; the
// caller's thread is one of them. After a file fails no new one starts,
// and the others finish theirs.
bool downloadSideBySide(const std::vector<ManifestEntry*>& files, DownloadRun& run) {
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (size_t i; !failed && (i = next++) < files.size();)
            if (!downloadEntry(*files[i], run)) failed = true;
    };
    std::vector<std::thread> crew;
    const int limit = std::clamp(gConnectionLimit.load(), 1, kMostConnections);
    for (size_t n = 1; n < static_cast<size_t>(limit) && n < files.size(); ++n) {
        try {
            crew.emplace_back([&work, n] {
                setLogThread(("download " + std::to_string(n + 1)).c_str());  // the caller's thread is the first
                work();
            });
        } catch (...) {
            break;  // fewer at once
        }
    }
    work();
    for (std::thread& t : crew) t.join();
    return !failed;
}

}  // namespace

namespace {

bool localPathOf(const char* manifestPath, wchar_t* out) {
    ManifestEntry probe{};
    const size_t n = std::strlen(manifestPath);
    if (n >= sizeof probe.path) return false;
    std::memcpy(probe.path, manifestPath, n + 1);
    return entryLocalPath(gState.gameFolder, probe, out, kFilePathUnits);
}

// Smaller files are not worth opening as seeds (a patch pak is often small).
constexpr int64_t kSeedMinimum = 64 * 1024;

bool fileAt(const wchar_t* path) { return fileSizeAt(path) > 0; }
bool seedSized(const wchar_t* path) { return fileSizeAt(path) >= kSeedMinimum; }

// A row of files.cache names what an older version installed. It is read as
// a seed only by a path a manifest could hold, through no link out of the
// game folder, and while the file is still what the row vouched for: the
// file is the launcher's own, not whatever the row points at.
bool retiredSeed(const FileCacheEntry& row, wchar_t* local) {
    if (row.size < kSeedMinimum || !manifestPathAllowed(row.path.c_str()) || !localPathOf(row.path.c_str(), local))
        return false;
    int64_t size = 0, mtime = 0;
    return fileFactsAt(local, &size, &mtime) && size == row.size && mtime == row.mtime &&
           !reachedThroughLink(gState.gameFolder, local);
}

// The large files to fetch are planned from every installed file they may
// share bytes with: the installed copies of the files that change, and the
// files the new manifest drops (a renamed pak, a patch pak folded into its
// base). Files that stay as they are are not read: a patch of one pak must
// not cost a read of the whole game.
void prepareDeltas(std::vector<ManifestEntry>& entries, DownloadRun& run) {
    if (!gFilesAsObjects) return;
    std::vector<DeltaTarget> targets;
    std::vector<Seed> seeds;
    wchar_t local[kFilePathUnits];
    for (ManifestEntry& entry : entries) {
        if (!entry.needsUpdate) continue;
        // A file with a patch from its installed copy needs no map.
        const bool target = entry.size >= kDeltaThreshold && !applicablePatch(entry, run.lessons, true);
        if (target) {
            const int source = sourceCount() > 1 ? std::max(chooseObjectSource(entry.sha1, {}), 0) : 0;
            targets.push_back({&entry, sourceAddress(source, fileObjectAddress(entry))});
        }
        // A target's own installed copy is a seed whatever its size (a cut one too).
        if (localPathOf(entry.path, local) && (target ? fileAt(local) : seedSized(local)))
            seeds.push_back({local, entry.path});
    }
    std::unordered_set<std::string> listed;
    for (const ManifestEntry& entry : entries) listed.insert(entry.path);
    for (const FileCacheEntry& row : gState.fileCache)
        if (!listed.count(row.path) && retiredSeed(row, local)) seeds.push_back({local, row.path});
    if (!targets.empty() && !seeds.empty()) prepareSeeds(targets, seeds);
}

// The verified files that waited for the pass's deltas, now moved into place.
bool moveWaiting() {
    bool moved = true;
    for (Waiting& w : gWaiting) {
        if (moveIntoPlace(*w.entry, w.paths)) {
            noteInstalled(*w.entry);
            continue;
        }
        w.entry->needsUpdate = 1;
        moved = false;
    }
    gWaiting.clear();
    return moved;
}

bool downloadPass(std::vector<ManifestEntry>& entries, DownloadRun& run) {
    std::vector<ManifestEntry*> small;
    for (ManifestEntry& entry : entries)
        if (entry.needsUpdate && entry.size < kDeltaThreshold) small.push_back(&entry);
    if (!downloadSideBySide(small, run)) return false;
    // Large files one at a time, each over every connection.
    for (ManifestEntry& entry : entries)
        if (entry.needsUpdate && !downloadEntry(entry, run)) return false;
    return true;
}

}  // namespace

bool downloadAll(std::vector<ManifestEntry>& entries, DownloadRun& run) {
    gHeldTarget.clear();
    gSourcesFailed = 0;
    gWaiting.clear();
    prepareDeltas(entries, run);
    const bool done = downloadPass(entries, run);
    forgetSeeds();  // closes them: a file waiting to replace one can now
    return moveWaiting() && done;
}

void writeInstallRecord() {
    wchar_t path[kFilePathUnits];
    int n = ::_snwprintf(path, kFilePathUnits, L"%ls\\installed.txt", gState.dataFolder);
    if (n <= 0 || n >= kFilePathUnits) return;
    FILE* f = ::_wfopen(path, L"w");
    if (!f) return;
    std::fprintf(f, "version=%d\n", static_cast<int>(gState.serverVersion));
    std::fclose(f);
}
