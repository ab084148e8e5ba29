#include <windows.h>

#include <cwchar>
#include <string>

#include "app/config_file.h"
#include "app/launcher_state.h"
#include "app/startup.h"
#include "update/file_check.h"
#include "update/http_client.h"

namespace {

void prepareFolders() {
    wchar_t local[kFolderPathUnits];
    DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, kFolderPathUnits);
    // Unset, or too long for the folder buffers: the documented fallback.
    if (n == 0 || n >= kFolderPathUnits) std::wcscpy(local, L"C:\\");
    // "C:\" already ends in a separator; the folder is then "C:\UE4TVL".
    size_t len = std::wcslen(local);
    if (len > 0 && local[len - 1] == L'\\') local[len - 1] = 0;
    _snwprintf(gState.dataFolder, kFolderPathUnits, L"%ls\\UE4TVL", local);
    gState.dataFolder[kFolderPathUnits - 1] = 0;
    ::CreateDirectoryW(gState.dataFolder, nullptr);
    _snwprintf(gState.gameFolder, kFolderPathUnits, L"%ls\\Game", gState.dataFolder);
    gState.gameFolder[kFolderPathUnits - 1] = 0;
    ::CreateDirectoryW(gState.gameFolder, nullptr);
    std::wstring record = std::wstring(gState.dataFolder) + L"\\installed.txt";
    gState.gameInstalled = ::GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

void readConfiguration() {
    wchar_t exe[kFilePathUnits];
    DWORD n = ::GetModuleFileNameW(nullptr, exe, kFilePathUnits);
    if (n == 0 || n >= kFilePathUnits) return;
    std::wstring ini(exe);
    ini = ini.substr(0, ini.rfind(L'\\') + 1) + L"TVLLauncher.ini";
    loadConfigFile(ini.c_str());
}

}  // namespace

void prepareLauncher() {
    prepareFolders();
    readConfiguration();
    loadFileCache();
    openHttpSession();
}
