#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "app/launcher_state.h"
#include "app/text_utf8.h"
#include "app/wait_seam.h"
#include "update/download.h"
#include "update/file_check.h"
#include "update/http_client.h"

namespace {

class OpenFile {
public:
    explicit OpenFile(HANDLE h) : h_(h) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (ok()) ::CloseHandle(h_);
    }
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

struct EntryPaths {
    wchar_t target[kFilePathUnits];
    wchar_t part[kFilePathUnits];
};

bool buildPaths(const ManifestEntry& entry, EntryPaths* p) {
    if (!entryLocalPath(gState.gameFolder, entry, p->target, kFilePathUnits)) return false;
    int n = ::_snwprintf(p->part, kFilePathUnits, L"%ls.part", p->target);
    return n > 0 && n < kFilePathUnits;
}

// Every folder on the way to the target, after the drive prefix.
void createFolders(const wchar_t* target) {
    wchar_t folder[kFilePathUnits];
    for (size_t i = 3; target[i]; ++i) {
        if (target[i] != L'\\') continue;
        std::wmemcpy(folder, target, i);
        folder[i] = 0;
        ::CreateDirectoryW(folder, nullptr);
    }
}

// The size of the part file, or -1 when there is none.
int64_t partFileSize(const wchar_t* part) {
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
HANDLE openPartFile(const wchar_t* part, int64_t have) {
    HANDLE h = ::CreateFileW(part, GENERIC_WRITE, 0, nullptr, have > 0 ? OPEN_ALWAYS : CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    LARGE_INTEGER pos;
    pos.QuadPart = have;
    if (!::SetFilePointerEx(h, pos, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) {
        ::CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// Streams the body into the part file. Never writes past entry.size: a
// server that sends more fails the attempt instead of filling the disk.
bool receiveBody(const ServerRequest& request, HANDLE file, int64_t size, int64_t* have, char* buffer) {
    for (;;) {
        DWORD got = 0;
        if (!::WinHttpReadData(request.request.get(), buffer, kTransferBlock, &got)) return false;
        if (got == 0) return *have == size;
        bool tooMuch = static_cast<int64_t>(got) > size - *have;
        DWORD keep = tooMuch ? static_cast<DWORD>(size - *have) : got;
        DWORD written = 0;
        if (keep > 0 && (!::WriteFile(file, buffer, keep, &written, nullptr) || written != keep)) return false;
        *have += keep;
        gState.bytesDone += keep;
        postStateChanged(0);
        if (tooMuch) return false;
    }
}

// Brings the part file to the entry's size from the server. `have` is what
// the part file holds already and is counted in bytesDone.
bool fetchRest(const ManifestEntry& entry, const EntryPaths& paths, int64_t* have, char* buffer) {
    std::wstring requestPath = encodeRequestPath(entry);
    ServerRequest request = openServerRequest(requestPath.c_str(), *have);
    if (!request) return false;
    DWORD status = requestStatusCode(request);
    if (status != 200 && status != 206) return false;
    if (status == 200 && *have > 0) {
        // The server sent the whole file instead of the rest: start over.
        gState.bytesDone -= *have;
        *have = 0;
    }
    OpenFile file(openPartFile(paths.part, *have));
    if (!file.ok()) return false;
    return receiveBody(request, file.get(), entry.size, have, buffer);
}

bool verifyAndMove(const ManifestEntry& entry, const EntryPaths& paths) {
    char sha1[41];
    if (!sha1OfFile(paths.part, sha1, false) || std::strcmp(sha1, entry.sha1) != 0) {
        ::DeleteFileW(paths.part);
        return false;
    }
    ::SetFileAttributesW(paths.target, FILE_ATTRIBUTE_NORMAL);
    // When the target is in use the verified part file stays for the next attempt.
    return ::MoveFileExW(paths.part, paths.target, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool attempt(ManifestEntry& entry, char* buffer) {
    EntryPaths paths;
    if (!buildPaths(entry, &paths)) return false;
    createFolders(paths.target);
    int64_t have = partFileSize(paths.part);
    if (have > entry.size) ::DeleteFileW(paths.part);
    bool exists = have >= 0 && have <= entry.size;
    if (!exists) have = 0;
    gState.bytesDone += have;
    if (have < entry.size) {
        if (!fetchRest(entry, paths, &have, buffer)) return false;
    } else if (!exists) {
        // An empty file needs no request, only creating.
        OpenFile file(openPartFile(paths.part, 0));
        if (!file.ok()) return false;
    }
    if (!verifyAndMove(entry, paths)) return false;
    entry.needsUpdate = 0;
    return true;
}

}  // namespace

bool downloadEntry(ManifestEntry& entry) {
    showDownloading(entry);
    const int64_t doneBefore = gState.bytesDone;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kTransferBlock]);
    if (!buffer) return false;
    for (int attemptNo = 1;; ++attemptNo) {
        if (attempt(entry, buffer.get())) return true;
        if (attemptNo >= kDownloadAttempts) return false;
        gState.bytesDone = doneBefore;
        waitMs(kAttemptPauseMs);
    }
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
