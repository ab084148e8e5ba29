#include "tests/support/test_server_client.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "core/launcher_state.h"
#include "net/http_client.h"
#include "update/download.h"

namespace testsrv {
namespace {

std::wstring widen(const std::string& s) {
    std::wstring w(s.size() * 2 + 1, L'\0');
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), static_cast<int>(w.size()));
    w.resize(n > 0 ? n : 0);
    return w;
}

std::string envOrFail(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) {
        std::fprintf(stderr, "%s is not set: this test needs its test server (run it through ctest)\n", name);
        std::exit(2);
    }
    return v;
}

void createParents(const std::wstring& file) {
    for (size_t i = 3; i < file.size(); ++i)
        if (file[i] == L'\\') ::CreateDirectoryW(file.substr(0, i).c_str(), nullptr);
}

// Extracts a JSON string value (or null) for `key` from one log line.
std::string jsonField(const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\": ");
    if (at == std::string::npos) return {};
    at += key.size() + 4;
    if (at >= line.size() || line[at] != '"') return {};
    std::string out;
    for (size_t i = at + 1; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        out.push_back(line[i]);
    }
    return out;
}

}  // namespace

std::wstring host() { return widen(envOrFail("TVL_TEST_HOST")); }

std::wstring rootPath() {
    std::wstring p = L"Z:" + widen(envOrFail("TVL_TEST_ROOT"));
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    return p;
}

void useServer() {
    static void* session = nullptr;
    resetLauncherState();
    forgetDownloadMemory();
    std::wstring h = host();
    wcsncpy(gState.serverHost, h.c_str(), kServerHostUnits - 1);
    if (!session) {
        openHttpSession();
        session = gState.httpSession;
    }
    gState.httpSession = session;
    clearRules();
    clearLog();
}

void putFile(const std::string& relative, const std::string& bytes) {
    std::wstring path = rootPath() + L"\\" + widen(relative);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    createParents(path);
    FILE* f = ::_wfopen(path.c_str(), L"wb");
    if (!f) {
        std::fprintf(stderr, "cannot write %ls\n", path.c_str());
        std::exit(2);
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void removeFile(const std::string& relative) {
    std::wstring path = rootPath() + L"\\" + widen(relative);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    ::DeleteFileW(path.c_str());
}

void setRules(const std::string& json) { putFile("rules.json", json); }
void clearRules() { setRules("[]"); }
void clearLog() { putFile("requests.log", ""); }

std::vector<LoggedRequest> requests() {
    std::vector<LoggedRequest> out;
    FILE* f = ::_wfopen((rootPath() + L"\\requests.log").c_str(), L"rb");
    if (!f) return out;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        std::string s(line);
        out.push_back({jsonField(s, "target"), jsonField(s, "range"), jsonField(s, "agent"), jsonField(s, "epilogue_sent")});
    }
    std::fclose(f);
    return out;
}

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

}  // namespace testsrv
