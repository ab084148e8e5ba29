#include "app/window_menu_win.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "core/event_log_win.h"
#include "core/launcher_state.h"
#include "core/player_settings_win.h"
#include "core/window_title.h"
#include "render/display_win.h"
#include "render/window_controls.h"
#include "steam/game_session.h"
#include "update/offline_play_win.h"

namespace {

// The submenu's own item: greyed with the rest, opened by the system.
constexpr uint32_t kMenuSpeedSubmenu = kMenuLimitFirst - 16;

constexpr wchar_t kUninstallQuestion[] =
    L"Uninstall Tervalon?\n\nThe game's files are deleted from %ls. Files of your own in that folder stay.";

HMENU speedSubmenu() {
    HMENU sub = ::CreatePopupMenu();
    for (int32_t mbps : kSpeedLimitChoices)
        ::AppendMenuW(sub, MF_STRING, speedLimitCommand(mbps), speedLimitLabel(mbps).c_str());
    return sub;
}

void appendMenuItems(HMENU menu) {
    for (const MenuEntry& e : kMenuEntries) {
        if (e.row == MenuRow::Separator) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_STRING;
        item.wID = e.command;
        item.dwTypeData = const_cast<wchar_t*>(e.label);
        if (e.row == MenuRow::SpeedSubmenu) {
            item.fMask |= MIIM_SUBMENU;
            item.wID = kMenuSpeedSubmenu;
            item.hSubMenu = speedSubmenu();
        }
        ::InsertMenuItemW(menu, ::GetMenuItemCount(menu), TRUE, &item);
    }
}

void enable(HMENU menu, uint32_t command, bool enabled) {
    ::EnableMenuItem(menu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void askWorker(PlayerCommand command) {
    gState.playerCommand = command;
}

void setSpeedLimit(int32_t mbps) {
    gState.speedLimit = mbps * kBytesPerMB;  // the download loop reads it at every chunk
    saveSpeedLimitSetting(mbps);
}

void openGameFolder(HWND window) {
    const std::wstring folder = gameFolderNow();
    ::ShellExecuteW(window, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// The folder the player picked with the system's folder picker; empty when
// they cancelled or it has no file-system path.
std::wstring pickFolder(HWND window) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                  reinterpret_cast<void**>(&dialog))))
        return {};
    std::wstring picked;
    DWORD options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(L"Choose the game folder");
    IShellItem* item = nullptr;
    if (dialog->Show(window) == S_OK && dialog->GetResult(&item) == S_OK) {
        PWSTR path = nullptr;
        if (item->GetDisplayName(SIGDN_FILESYSPATH, &path) == S_OK) {
            picked = path;
            ::CoTaskMemFree(path);
        }
        item->Release();
    }
    dialog->Release();
    return picked;
}

void chooseFolderAndMove(HWND window) {
    const std::wstring folder = pickFolder(window);
    if (folder.empty() || folder.size() >= kFolderPathUnits) return;
    {
        LockHolder hold(gStateLock);
        wcscpy_s(gState.moveTarget, folder.c_str());
    }
    askWorker(kCommandMove);  // the worker checks the folder and says why it refuses one
}

// The data folder with launcher.log selected, so a player can attach it.
void openLogFolder(HWND window) {
    const std::wstring log = eventLogPath();
    if (!log.empty() && ::GetFileAttributesW(log.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (PIDLIST_ABSOLUTE item = ::ILCreateFromPathW(log.c_str())) {
            const HRESULT shown = ::SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
            ::ILFree(item);
            if (SUCCEEDED(shown)) return;
        }
        const std::wstring select = L"/select,\"" + log + L"\"";
        if (reinterpret_cast<INT_PTR>(::ShellExecuteW(window, L"open", L"explorer.exe", select.c_str(), nullptr,
                                                      SW_SHOWNORMAL)) > 32)
            return;
    }
    ::ShellExecuteW(window, L"open", gState.dataFolder, nullptr, nullptr, SW_SHOWNORMAL);
}

bool offlinePhase() {
    return playOfflineEnabled(gState.phase, gState.serverFault != 0, gState.gameRunning != 0, true);
}

// Judged again at the click: a file may have changed since the menu opened.
void playOffline(HWND window) {
    const OfflinePlay play = judgeOfflinePlay();
    if (!play.playable) {
        logEvent("play offline refused: %s", logUtf8(play.reason).c_str());
        ::MessageBoxW(window, play.reason.c_str(), kWindowTitle, MB_OK | MB_ICONINFORMATION);
        return;
    }
    launchGameOffline();
}

bool confirmUninstall(HWND window) {
    wchar_t question[kFolderPathUnits + 200];
    _snwprintf_s(question, _TRUNCATE, kUninstallQuestion, gameFolderNow().c_str());
    return ::MessageBoxW(window, question, kWindowTitle, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

}  // namespace

void addMenuToSystemMenu(HWND window) {
    HMENU system = ::GetSystemMenu(window, FALSE);
    if (!system) return;
    ::AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    appendMenuItems(system);
}

void refreshMenu(HMENU menu) {
    const int32_t phase = gState.phase;
    const bool running = gState.gameRunning != 0;
    for (uint32_t command : {kMenuVerify, kMenuMove, kMenuOpenFolder, kMenuOpenLog, kMenuUninstall})
        enable(menu, command, menuItemEnabled(command, phase, running));
    // The files' sizes and times are read only where the item could act.
    enable(menu, kMenuPlayOffline, offlinePhase() && judgeOfflinePlay().playable);
    enable(menu, kMenuSpeedSubmenu, menuItemEnabled(kMenuLimitFirst, phase, running));
    const int64_t limit = gState.speedLimit;
    for (int32_t mbps : kSpeedLimitChoices)
        ::CheckMenuItem(menu, speedLimitCommand(mbps),
                        MF_BYCOMMAND | (limit == mbps * kBytesPerMB ? MF_CHECKED : MF_UNCHECKED));
}

uint32_t openMenuPopup(HWND window) {
    HMENU menu = ::CreatePopupMenu();
    if (!menu) return 0;
    appendMenuItems(menu);
    refreshMenu(menu);
    const Rect& b = gLayout.menuButtonRect;
    POINT corner{b.right, b.bottom};
    ::ClientToScreen(window, &corner);
    RECT exclude{b.left, b.top, b.right, b.bottom};
    ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&exclude), 2);
    TPMPARAMS params{sizeof params, exclude};
    ::SetForegroundWindow(window);
    const UINT command = ::TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_VERTICAL,
                                            corner.x, corner.y, window, &params);
    ::DestroyMenu(menu);  // and its submenu with it
    return command;
}

bool runMenuCommand(HWND window, uint32_t command) {
    const int32_t limit = speedLimitOfCommand(command);
    const bool ours = limit >= 0 || command == kMenuVerify || command == kMenuMove || command == kMenuOpenFolder ||
                      command == kMenuUninstall || command == kMenuOpenLog || command == kMenuPlayOffline;
    if (!ours) return false;
    // The phase may have moved on while the menu was open.
    if (command == kMenuPlayOffline) {
        if (offlinePhase()) playOffline(window);
        return true;
    }
    if (!menuItemEnabled(command, gState.phase, gState.gameRunning != 0)) return true;
    if (limit >= 0) setSpeedLimit(limit);
    else if (command == kMenuOpenLog) openLogFolder(window);
    else if (command == kMenuOpenFolder) openGameFolder(window);
    else if (command == kMenuVerify) askWorker(kCommandVerify);
    else if (command == kMenuMove) chooseFolderAndMove(window);
    else if (command == kMenuUninstall && confirmUninstall(window)) askWorker(kCommandUninstall);
    return true;
}
