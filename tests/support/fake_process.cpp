// Stand-ins for the programs the launcher deals with but does not contain,
// built under their real names. What each does depends on its own name:
//   Tervalon.exe                 TVL_FAKE_GAME_MODE=bootstrap: starts
//                                Tervalon-Win64-Shipping.exe beside it and exits,
//                                as the engine's bootstrap does; otherwise stays
//   Tervalon-Win64-Shipping.exe  stays
//   steam.exe                    with a "steam://" argument: records it in
//                                steam_url.txt beside it and exits; otherwise stays
// "Stays" means TVL_FAKE_STAY_MS milliseconds (default 2000), then exits with
// TVL_FAKE_EXIT_CODE (default 0). Every start is appended to started.txt
// beside the exe: name and working folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::wstring ownFolder(std::wstring* name) {
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    size_t slash = p.rfind(L'\\');
    *name = p.substr(slash + 1);
    return p.substr(0, slash);
}

void append(const std::wstring& file, const std::wstring& line) {
    char utf8[2048];
    int n = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    FILE* f = ::_wfopen(file.c_str(), L"ab");
    if (!f || n <= 0) return;
    std::fprintf(f, "%s\n", utf8);
    std::fclose(f);
}

void stay() {
    const char* ms = std::getenv("TVL_FAKE_STAY_MS");
    ::Sleep(ms ? static_cast<DWORD>(std::atoi(ms)) : 2000);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring name;
    std::wstring folder = ownFolder(&name);
    wchar_t cwd[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    append(folder + L"\\started.txt", name + L"|" + cwd + L"|" + std::to_wstring(argc - 1));

    if (::lstrcmpiW(name.c_str(), L"steam.exe") == 0 && argc > 1 && std::wcsncmp(argv[1], L"steam://", 8) == 0) {
        append(folder + L"\\steam_url.txt", argv[1]);
        return 0;
    }
    const char* mode = std::getenv("TVL_FAKE_GAME_MODE");
    if (::lstrcmpiW(name.c_str(), L"Tervalon.exe") == 0 && mode && std::string(mode) == "bootstrap") {
        std::wstring shipping = folder + L"\\Tervalon-Win64-Shipping.exe";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(shipping.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
            return 1;
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
        return 0;
    }
    stay();
    const char* code = std::getenv("TVL_FAKE_EXIT_CODE");
    return code ? std::atoi(code) : 0;
}
