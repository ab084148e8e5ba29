#include <windows.h>

#include <cwchar>
#include <string>

#include "core/config_file.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "app/startup.h"
#include "render/images_win.h"
#include "steam/image_loader.h"
#include "update/file_check.h"
#include "update/http_client.h"
#include "update/launcher_update_win.h"
#include "update/signing_formats.h"
#include "update/update_worker.h"

namespace {

constexpr wchar_t kDataFolderName[] = L"\\UE4TVL";
constexpr wchar_t kGameFolderName[] = L"\\Game";

void enableDpiAwareness() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    auto setContext = reinterpret_cast<SetContext>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    // -4: per monitor, version 2.
    if (!setContext || !setContext(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4)))) ::SetProcessDPIAware();
}

// The local application-data folder without a trailing backslash; "C:" when
// it is unset or so long that the game folder under it would not fit.
std::wstring localAppData() {
    wchar_t local[kFolderPathUnits];
    DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, kFolderPathUnits);
    const size_t needed = std::wcslen(kDataFolderName) + std::wcslen(kGameFolderName);
    if (n == 0 || n >= kFolderPathUnits || n + needed >= kFolderPathUnits) return L"C:";
    std::wstring folder(local, n);
    if (folder.back() == L'\\') folder.pop_back();  // "C:\" is already a folder with its separator
    return folder;
}

void prepareFolders() {
    std::wstring data = localAppData() + kDataFolderName;
    std::wstring game = data + kGameFolderName;
    std::wcscpy(gState.dataFolder, data.c_str());  // both fit: localAppData checked the longer one
    std::wcscpy(gState.gameFolder, game.c_str());
    ::CreateDirectoryW(gState.dataFolder, nullptr);
    ::CreateDirectoryW(gState.gameFolder, nullptr);
    std::wstring record = data + L"\\installed.txt";
    gState.gameInstalled = ::GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

// A studio may build its key in: cmake -DTVL_MANIFEST_KEY=<88 characters>.
#ifndef TVL_MANIFEST_KEY
#define TVL_MANIFEST_KEY ""
#endif
constexpr char kBuiltInManifestKey[] = TVL_MANIFEST_KEY;

// The server and the manifest key; the ini's key wins over the built-in one.
void readConfiguration() {
    std::optional<std::string> iniKey;
    wchar_t exe[kFilePathUnits];
    DWORD n = ::GetModuleFileNameW(nullptr, exe, kFilePathUnits);
    if (n > 0 && n < kFilePathUnits) {
        std::wstring ini(exe);
        ini = ini.substr(0, ini.rfind(L'\\') + 1) + L"TVLLauncher.ini";
        loadConfigFile(ini.c_str(), &iniKey);
    }
    gState.manifestKey = chooseManifestKey(iniKey ? &*iniKey : nullptr, kBuiltInManifestKey);
    if (n > 0 && n < kFilePathUnits) gLauncherExePath.assign(exe, n);  // the exe kept current
}

}  // namespace

void prepareLauncher() {
    enableDpiAwareness();
    // stateLock and imageLock are ready from the program's first instruction.
    startGdiplus();
    prepareFolders();
    readConfiguration();
    loadFileCache();
    openHttpSession();  // the pictures come with the image loader, after the first frame
}

void startBackgroundThreads() {
    startDetachedThread(runUpdateWorker);
    startDetachedThread(imageLoader);
}
