#include "core/player_settings_win.h"

#include <windows.h>
#include <shlwapi.h>

#include "core/atomic_file_win.h"
#include "core/launcher_state.h"

namespace {

// Both the window (the limit) and the worker (the folder) save.
StateMutex gSettingsLock;
PlayerSettings gSettings;

std::wstring settingsPath() { return std::wstring(gState.dataFolder) + L"\\settings.txt"; }

bool save() {
    const std::string text = playerSettingsText(gSettings);
    return writeFileAtomically(settingsPath().c_str(), text.data(), text.size());
}

std::string toUtf8(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), n,
                          nullptr, nullptr);
    return out;
}

}  // namespace

PlayerSettings loadPlayerSettings() {
    const ByteBuffer bytes = readWholeFile(settingsPath().c_str());
    PlayerSettings read = bytes ? readPlayerSettings(bytes.data, bytes.size) : PlayerSettings{};
    LockHolder hold(gSettingsLock);
    gSettings = read;
    return read;
}

std::wstring rememberedGameFolder(const PlayerSettings& settings) {
    const std::string& utf8 = settings.gameFolder;
    if (utf8.empty()) return {};
    wchar_t folder[kFolderPathUnits];
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                        folder, kFolderPathUnits - 1);
    if (n <= 0) return {};
    folder[n] = 0;
    if (::PathIsRelativeW(folder)) return {};  // only ever written absolute; an edited one must not follow the cwd
    return std::wstring(folder, static_cast<size_t>(n));
}

bool saveSpeedLimitSetting(int32_t mbps) {
    LockHolder hold(gSettingsLock);
    gSettings.speedLimitMBps = mbps;
    return save();
}

bool saveGameFolderSetting(const std::wstring& folder) {
    const std::string utf8 = toUtf8(folder);
    if (utf8.empty() || utf8.size() > kLongestGameFolderBytes) return false;
    LockHolder hold(gSettingsLock);
    gSettings.gameFolder = utf8;
    return save();
}
