#include <windows.h>

#include <cwchar>
#include <string>

#include "app/built_in_key.h"
#include "app/startup.h"
#include "core/config_file.h"
#include "core/event_log_win.h"
#include "core/folders_win.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/launcher_version.h"
#include "core/player_settings_win.h"
#include "files/file_check.h"
#include "net/http_client.h"
#include "render/images_win.h"
#include "steam/image_loader.h"
#include "trust/signing_formats.h"
#include "update/launcher_update_win.h"
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

// The game lives where the player moved it, else under the data folder.
void prepareFolders() {
    std::wstring data = localAppData() + kDataFolderName;
    std::wcscpy(gState.dataFolder, data.c_str());  // fits: localAppData checked the longer game folder
    ::CreateDirectoryW(gState.dataFolder, nullptr);
    const PlayerSettings settings = loadPlayerSettings();
    gState.speedLimit = settings.speedLimitMBps * kBytesPerMB;
    std::wstring game = rememberedGameFolder(settings);
    if (game.empty()) game = data + kGameFolderName;
    std::wcscpy(gState.gameFolder, game.c_str());  // rememberedGameFolder keeps within kFolderPathUnits
    createFolderWithParents(gState.gameFolder);  // a remembered one may have lost its parents
    std::wstring record = data + L"\\installed.txt";
    gState.gameInstalled = ::GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

// The server and the manifest key. A configuration that cannot be trusted
// leaves the key malformed (never unsigned) and is reported by the worker.
void readConfiguration() {
    std::optional<std::string> iniKey;
    wchar_t exe[kFilePathUnits];
    DWORD n = ::GetModuleFileNameW(nullptr, exe, kFilePathUnits);
    if (n > 0 && n < kFilePathUnits) {
        std::wstring ini(exe);
        ini = ini.substr(0, ini.rfind(L'\\') + 1) + L"TVLLauncher.ini";
        gState.configProblem = loadConfigFile(ini.c_str(), &iniKey);
    }
    if (gState.configProblem == kConfigFine && keysConflict(iniKey ? &*iniKey : nullptr, kBuiltInManifestKey))
        gState.configProblem = kConfigKeyDiffers;
    gState.manifestKey = chooseManifestKey(iniKey ? &*iniKey : nullptr, kBuiltInManifestKey);
    if (gState.configProblem != kConfigFine) gState.manifestKey.state = kManifestKeyMalformed;
    if (n > 0 && n < kFilePathUnits) gLauncherExePath.assign(exe, n);  // the exe kept current
}

// "Windows 10.0.19045", and under Wine its version too: a support person
// reads that first.
std::string windowsVersion() {
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    using WineVersion = const char*(CDECL*)();
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
    auto getVersion = reinterpret_cast<GetVersion>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
    char text[96] = "Windows (version unknown)";
    if (getVersion && getVersion(&v) == 0)
        std::snprintf(text, sizeof text, "Windows %lu.%lu.%lu", v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber);
    std::string out = text;
    auto wine = reinterpret_cast<WineVersion>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
    if (wine) out += std::string(" under Wine ") + wine();
    return out;
}

void logStart() {
    openEventLog(gState.dataFolder);
    logStartEvent("TVL UE4 Launcher version %d on %s", static_cast<int>(kLauncherVersion), windowsVersion().c_str());
    logStartEvent("server %s, manifest key %s, game folder %s", logUtf8(gState.serverHost).c_str(),
             gState.manifestKey.state == kManifestKeyValid       ? "set"
             : gState.manifestKey.state == kManifestKeyMalformed ? "malformed"
                                                                 : "none",
             logUtf8(gState.gameFolder).c_str());
    if (gState.configProblem != kConfigFine)
        logEvent("TVLLauncher.ini: %s", logUtf8(configProblemText(gState.configProblem)).c_str());
}

}  // namespace

void restrictDllSearch() {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Loaded now, from System32, so that any later load by name binds to
    // these: Wine's own DLLs load their dependencies (winhttp's crypt32 its
    // bcrypt) with the process's default search, exe folder first.
    for (const wchar_t* dll : {L"winhttp.dll", L"bcrypt.dll", L"dwmapi.dll", L"oleacc.dll"})
        ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void prepareLauncher() {
    setLogThread("window");
    enableDpiAwareness();
    // stateLock and imageLock are ready from the program's first instruction.
    startGdiplus();
    prepareFolders();
    readConfiguration();
    logStart();
    loadFileCache();
    // Without a trusted configuration there is no session: nothing can reach a server.
    if (gState.configProblem == kConfigFine) openHttpSession();  // the pictures come with the image loader
}

void startBackgroundThreads() {
    gBannerWanted = requestBanner;
    startDetachedThread(runUpdateWorker);  // names itself in the log
    startDetachedThread(imageLoader);
}
