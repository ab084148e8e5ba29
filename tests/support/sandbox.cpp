#include "tests/support/sandbox.h"

#include <bcrypt.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/launcher_state.h"

namespace sandbox {

void useFolders(const char* name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::filesystem::path root = std::filesystem::path(temp) / L"tvl-tests" / name;
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::filesystem::create_directories(root / L"Game", ec);
    std::wstring data = root.wstring();
    for (auto& c : data)
        if (c == L'/') c = L'\\';
    wcscpy(gState.dataFolder, data.c_str());
    _snwprintf(gState.gameFolder, kFolderPathUnits, L"%ls\\Game", gState.dataFolder);
    gState.manifestEntries.clear();
    gState.fileCache.clear();
    gState.bytesDone = 0;
    gState.bytesTotal = 0;
}

std::wstring gamePath(const std::string& relative) {
    std::wstring w(relative.begin(), relative.end());
    for (auto& c : w)
        if (c == L'/') c = L'\\';
    return std::wstring(gState.gameFolder) + L"\\" + w;
}

void writeFile(const std::wstring& path, const std::string& bytes) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    FILE* f = ::_wfopen(path.c_str(), L"wb");
    if (!f) throw std::runtime_error("cannot write test file");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string readFile(const std::wstring& path) {
    std::string out;
    FILE* f = ::_wfopen(path.c_str(), L"rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

bool exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int64_t fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return -1;
    return (static_cast<int64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

std::string sha1Hex(const std::string& bytes) {
    BCRYPT_ALG_HANDLE alg = nullptr;
    unsigned char digest[20] = {};
    ::BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA1_ALGORITHM, nullptr, 0);
    ::BCryptHash(alg, nullptr, 0, (PUCHAR)bytes.data(), static_cast<ULONG>(bytes.size()), digest, 20);
    ::BCryptCloseAlgorithmProvider(alg, 0);
    char hex[41];
    for (int i = 0; i < 20; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

ManifestEntry makeEntry(const std::string& path, const std::string& content) {
    ManifestEntry e{};
    std::strncpy(e.path, path.c_str(), sizeof e.path - 1);
    e.size = static_cast<int64_t>(content.size());
    std::strcpy(e.sha1, sha1Hex(content).c_str());
    e.needsUpdate = 1;
    return e;
}

PostSink::PostSink() {
    hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    gState.mainWindow = hwnd;
}

PostSink::~PostSink() {
    gState.mainWindow = nullptr;
    ::DestroyWindow(hwnd);
}

int PostSink::drain() {
    int n = 0;
    MSG m;
    while (::PeekMessageW(&m, hwnd, kMsgStateChanged, kMsgStateChanged, PM_REMOVE)) {
        wParams.push_back(m.wParam);
        ++n;
    }
    return n;
}

}  // namespace sandbox
