// Measures the update engine on real files and a real server. Prints one
// "key value" line per figure; bench/run.sh turns them into ratios.
//
//   bench_update hash <file>
//   bench_update cached-check <folder> <files>
//   bench_update cache-load <folder> <rows>      files.cache of that many rows loaded and indexed
//   bench_update download <host> <relative path> <size> <sha1> <game folder>
//   bench_update bare-read <host> <relative path> [buffer KiB]
//   bench_update install <host> <game folder>      every file of the server's manifest
//   bench_update requests <host>                   the same files' bodies, into memory only
//   bench_update scan <map> <file> <sha1> <size>   the installed copy scanned against a block map
//   bench_update decode <objects folder>           every file's zst form read and decoded, output dropped
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/event_log_win.h"
#include "core/launcher_state.h"
#include "delta/block_map.h"
#include "delta/delta_plan.h"
#include "delta/zstd_stream.h"
#include "files/file_cache.h"
#include "files/file_check.h"
#include "files/manifest_paths.h"
#include "files/sha1_win.h"
#include "net/body_prefetch_win.h"
#include "net/http_client.h"
#include "update/download.h"
#include "update/server_documents.h"

namespace {

double now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

std::wstring widen(const char* s) {
    std::wstring w(std::strlen(s) * 2 + 1, L'\0');
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), static_cast<int>(w.size()));
    w.resize(n > 0 ? n - 1 : 0);
    return w;
}

int benchHash(const char* file) {
    char out[41];
    double t0 = now();
    if (!sha1OfFile(widen(file).c_str(), out, false)) return 1;
    std::printf("hash_seconds %.3f\nhash_digest %s\n", now() - t0, out);
    return 0;
}

// Installs `count` small files, caches them, then judges them all while every
// file is locked against reading: a file that had to be read would fail.
int benchCachedCheck(const char* folder, int count) {
    std::wstring root = widen(folder);
    wcscpy(gState.dataFolder, root.c_str());
    _snwprintf(gState.gameFolder, kFolderPathUnits, L"%ls\\Game", root.c_str());
    ::CreateDirectoryW(gState.dataFolder, nullptr);
    ::CreateDirectoryW(gState.gameFolder, nullptr);
    std::vector<HANDLE> locks;
    for (int i = 0; i < count; ++i) {
        ManifestEntry e{};
        std::snprintf(e.path, sizeof e.path, "file%05d.bin", i);
        std::string content = "content of " + std::string(e.path);
        wchar_t local[kFilePathUnits];
        entryLocalPath(gState.gameFolder, e, local, kFilePathUnits);
        FILE* f = ::_wfopen(local, L"wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        e.size = static_cast<int64_t>(content.size());
        sha1OfFile(local, e.sha1, false);
        noteInstalled(e);
        gState.manifestEntries.push_back(e);
    }
    saveFileCache();
    loadFileCache();
    for (ManifestEntry& e : gState.manifestEntries) {
        wchar_t local[kFilePathUnits];
        entryLocalPath(gState.gameFolder, e, local, kFilePathUnits);
        locks.push_back(::CreateFileW(local, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    double t0 = now();
    int read = 0;
    const FileCacheIndex rows = indexCacheRows(gState.fileCache);
    for (ManifestEntry& e : gState.manifestEntries) {
        checkEntry(e, rows);
        read += e.needsUpdate;
    }
    double seconds = now() - t0;
    for (HANDLE h : locks) ::CloseHandle(h);
    std::printf("check_files %d\ncheck_seconds %.3f\ncheck_files_read %d\n", count, seconds, read);
    return 0;
}

size_t residentBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters);
    return counters.WorkingSetSize;
}

// A files.cache of `count` rows with paths as long as a real game's, loaded
// and indexed as a start does; the baseline is reading its lines alone.
int benchCacheLoad(const char* folder, int count) {
    std::wstring root = widen(folder);
    wcscpy(gState.dataFolder, root.c_str());
    ::CreateDirectoryW(gState.dataFolder, nullptr);
    FILE* f = ::_wfopen((root + L"\\files.cache").c_str(), L"w");
    if (!f) return 1;
    for (int i = 0; i < count; ++i)
        std::fprintf(f, "%040x|%d|%lld|Tervalon/Content/Paks/Chunks/Shared/Materials/asset_%06d.uasset\n", i, i,
                     133000000000000000LL + i, i);
    std::fclose(f);
    double t0 = now();
    f = ::_wfopen((root + L"\\files.cache").c_str(), L"r");
    char line[kFileCacheLineBytes];
    size_t lines = 0;
    while (std::fgets(line, sizeof line, f)) ++lines;
    std::fclose(f);
    const double baseline = now() - t0;
    const size_t before = residentBytes();
    t0 = now();
    loadFileCache();
    const FileCacheIndex rows = indexCacheRows(gState.fileCache);
    const double seconds = now() - t0;
    const size_t bytes = residentBytes() - before;
    std::printf("cache_rows %zu\ncache_lines %zu\ncache_index %zu\ncache_load_seconds %.3f\ncache_read_seconds %.3f\n"
                "cache_bytes_per_row %zu\n",
                gState.fileCache.size(), lines, rows.size(), seconds, baseline, bytes / (count ? count : 1));
    return 0;
}

int benchDownload(const char* host, const char* path, int64_t size, const char* sha1, const char* game) {
    wcscpy(gState.serverHost, widen(host).c_str());
    wcscpy(gState.gameFolder, widen(game).c_str());
    openHttpSession();
    ManifestEntry e{};
    std::strncpy(e.path, path, sizeof e.path - 1);
    e.size = size;
    std::strncpy(e.sha1, sha1, 40);
    e.needsUpdate = 1;
    double t0 = now();
    DownloadRun run;
    bool ok = downloadEntry(e, run);
    std::printf("download_ok %d\ndownload_seconds %.3f\n", ok ? 1 : 0, now() - t0);
    return ok ? 0 : 1;
}

// The plainest WinHTTP reader, with the buffer size as its one setting.
int benchBareRead(const char* host, const char* path, DWORD bufferBytes) {
    wcscpy(gState.serverHost, widen(host).c_str());
    openHttpSession();
    ManifestEntry e{};
    std::strncpy(e.path, path, sizeof e.path - 1);
    std::wstring target = encodeRequestPath(e);
    std::vector<char> buffer(bufferBytes);
    double t0 = now();
    ServerRequest r = openServerRequest(target.c_str(), 0);
    if (!r) return 1;
    int64_t total = 0, reads = 0;
    DWORD got = 0;
    while (::WinHttpReadData(r.request.get(), buffer.data(), bufferBytes, &got) && got > 0) total += got, ++reads;
    std::printf("bare_bytes %lld\nbare_reads %lld\nbare_seconds %.3f\n", static_cast<long long>(total),
                static_cast<long long>(reads), now() - t0);
    return 0;
}

bool readManifestFrom(const char* host) {
    wcscpy(gState.serverHost, widen(host).c_str());
    openHttpSession();
    DWORD status = 0;
    ByteBuffer body = fetchServerDocument(L"/launcher/manifest", &status);
    return body && status == 200 && readManifest(body.data, body.size, gState.manifestEntries).accepted;
}

// Every file of the manifest through downloadEntry, as a first install does.
// Logs as the launcher does, to launcher.log beside the game folder, unless
// TVL_BENCH_NO_LOG is set: the baseline for logging's cost.
int benchInstall(const char* host, const char* game) {
    if (!readManifestFrom(host)) return 1;
    if (std::getenv("TVL_BENCH_INLINE")) gReadAheadAvailable = false;
    wcscpy(gState.gameFolder, widen(game).c_str());
    wcscpy(gState.dataFolder, (widen(game) + L"\\..").c_str());
    gLogOff = std::getenv("TVL_BENCH_NO_LOG") != nullptr;
    openEventLog(gState.dataFolder);
    setStatus(Downloading, L"Downloading...");  // as in the launcher: the per-file texts are not logged
    double t0 = now();
    int ok = 0;
    DownloadRun run;
    for (ManifestEntry& e : gState.manifestEntries) {
        e.needsUpdate = 1;
        ok += downloadEntry(e, run) ? 1 : 0;
    }
    double seconds = now() - t0;
    std::printf("install_files %d\ninstall_ok %d\ninstall_seconds %.3f\n",
                static_cast<int>(gState.manifestEntries.size()), ok, seconds);
    return ok == static_cast<int>(gState.manifestEntries.size()) ? 0 : 1;
}

// The same requests with nothing but WinHTTP: the floor under benchInstall.
int benchRequests(const char* host) {
    if (!readManifestFrom(host)) return 1;
    std::vector<char> buffer(kTransferBlock);
    double t0 = now();
    int ok = 0;
    for (const ManifestEntry& e : gState.manifestEntries) {
        ServerRequest r = openServerRequest(encodeRequestPath(e).c_str(), 0);
        DWORD got = 0;
        while (r && ::WinHttpReadData(r.request.get(), buffer.data(), kTransferBlock, &got) && got > 0) {}
        ok += r ? 1 : 0;
    }
    std::printf("requests_files %d\nrequests_ok %d\nrequests_seconds %.3f\n",
                static_cast<int>(gState.manifestEntries.size()), ok, now() - t0);
    return 0;
}

}  // namespace

// The scan alone, as the launcher runs it before a delta: the map read, the
// installed copy's every window looked at, the plan made.
int benchScan(const char* mapFile, const char* file, const char* sha1, int64_t size) {
    const ByteBuffer bytes = readWholeFile(widen(mapFile).c_str());
    BlockMap map;
    if (!bytes || !readBlockMap(bytes.data, bytes.size, sha1, size, &map)) return 1;
    HANDLE copy = ::CreateFileW(widen(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (copy == INVALID_HANDLE_VALUE) return 1;
    LARGE_INTEGER copySize;
    ::GetFileSizeEx(copy, &copySize);
    const double t0 = now();
    BlockIndex index(map);
    const bool ok = scanCopy(index, copySize.QuadPart, 4 << 20, [copy](int64_t at, uint8_t* out, size_t want) {
        OVERLAPPED o = {};
        o.Offset = static_cast<DWORD>(at);
        o.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        return ::ReadFile(copy, out, static_cast<DWORD>(want), &got, &o) ? static_cast<size_t>(got) : 0;
    });
    int64_t reused = 0;
    for (const DeltaRun& run : planDelta(map, index, 0)) reused += run.copy ? run.length : 0;
    const double seconds = now() - t0;
    ::CloseHandle(copy);
    std::printf("scan_ok %d\nscan_seconds %.3f\nscan_reused %lld\n", ok ? 1 : 0, seconds,
                static_cast<long long>(reused));
    return ok ? 0 : 1;
}

double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// The decoder's own cost, apart from the network and the disk: the zst
// forms of the files (not the patches, which need their old files) read
// into memory first, then decoded in the pieces a download hands it.
int benchDecode(const char* folder) {
    const std::wstring root = widen(folder);
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((root + L"\\*.zst").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 1;
    std::vector<std::vector<uint8_t>> forms;
    int64_t packed = 0, made = 0;
    do {
        if (std::wcschr(found.cFileName, L'-')) continue;  // a patch
        HANDLE in = ::CreateFileW((root + L"\\" + found.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (in == INVALID_HANDLE_VALUE) return 1;
        forms.emplace_back(found.nFileSizeLow);
        DWORD got = 0;
        const bool read = ::ReadFile(in, forms.back().data(), found.nFileSizeLow, &got, nullptr) && got == found.nFileSizeLow;
        ::CloseHandle(in);
        if (!read || found.nFileSizeHigh) return 1;
        packed += got;
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    bool ok = true;
    const size_t piece = 256 * 1024;
    const double cpu0 = processCpuSeconds(), t0 = now();
    for (const std::vector<uint8_t>& form : forms) {
        ZstdStream stream(ZstdBounds{INT64_MAX / 2, 23});
        for (size_t at = 0; at < form.size(); at += piece)
            ok = ok && stream.feed(form.data() + at, std::min(piece, form.size() - at),
                                   [](const uint8_t*, size_t) { return true; }) == kZstdMore;
        ok = ok && stream.finish() == kZstdDone;
        made += stream.produced();
    }
    std::printf("decode_ok %d\ndecode_forms %zu\ndecode_packed %lld\ndecode_made %lld\ndecode_seconds %.3f\n"
                "decode_cpu_seconds %.3f\n",
                ok ? 1 : 0, forms.size(), static_cast<long long>(packed), static_cast<long long>(made), now() - t0,
                processCpuSeconds() - cpu0);
    return ok ? 0 : 1;
}

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hash" && argc == 3) return benchHash(argv[2]);
    if (mode == "cached-check" && argc == 4) return benchCachedCheck(argv[2], std::atoi(argv[3]));
    if (mode == "cache-load" && argc == 4) return benchCacheLoad(argv[2], std::atoi(argv[3]));
    if (mode == "download" && argc == 7)
        return benchDownload(argv[2], argv[3], std::atoll(argv[4]), argv[5], argv[6]);
    if (mode == "bare-read" && (argc == 4 || argc == 5))
        return benchBareRead(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) * 1024 : kTransferBlock);
    if (mode == "install" && argc == 4) return benchInstall(argv[2], argv[3]);
    if (mode == "requests" && argc == 3) return benchRequests(argv[2]);
    if (mode == "scan" && argc == 6) return benchScan(argv[2], argv[3], argv[4], std::atoll(argv[5]));
    if (mode == "decode" && argc == 3) return benchDecode(argv[2]);
    std::fprintf(stderr, "usage: see the top of bench/bench_update.cpp\n");
    return 2;
}
