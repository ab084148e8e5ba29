// What the window's controls may do in each phase: the main button, and the
// menu that the title bar's menu button and the system menu share. The
// window procedure and the accessible object both read these rules.
// Pure: no <windows.h>.
#pragma once

#include <cstdint>
#include <string>

#include "core/player_settings.h"  // kBytesPerMB

// The menu's command ids. Multiples of 16 below 0xF000: the system menu
// keeps the low four bits of its commands for itself.
enum MenuCommand : uint32_t {
    kMenuNone = 0,
    kMenuVerify = 0x0110,
    kMenuMove = 0x0120,
    kMenuOpenFolder = 0x0130,
    kMenuUninstall = 0x0140,
    kMenuOpenLog = 0x0150,
    kMenuPlayOffline = 0x0160,
    kMenuLimitFirst = 0x0200,  // + 16 per entry of kSpeedLimitChoices
};

// MB/s; 0 is "No limit".
constexpr int32_t kSpeedLimitChoices[] = {0, 1, 2, 5, 10, 25, 50};
constexpr int32_t kSpeedLimitChoiceCount = sizeof kSpeedLimitChoices / sizeof kSpeedLimitChoices[0];

// The command that sets the limit of `mbps`; kMenuNone for a rate the menu
// does not offer.
uint32_t speedLimitCommand(int32_t mbps);
// The limit a command sets, or -1 when it sets none.
int32_t speedLimitOfCommand(uint32_t command);
// "No limit", "5 MB/s".
std::wstring speedLimitLabel(int32_t mbps);

// The menu in order: items, the submenu's place and separators.
enum class MenuRow { Item, SpeedSubmenu, Separator };
struct MenuEntry {
    MenuRow row;
    uint32_t command;      // kMenuNone for the submenu and separators
    const wchar_t* label;  // with & before the access key
};
constexpr MenuEntry kMenuEntries[] = {
    {MenuRow::Item, kMenuPlayOffline, L"&Play offline"},
    {MenuRow::Separator, kMenuNone, L""},
    {MenuRow::Item, kMenuVerify, L"&Verify game files"},
    {MenuRow::Item, kMenuMove, L"&Change game folder..."},
    {MenuRow::SpeedSubmenu, kMenuNone, L"Download &speed limit"},
    {MenuRow::Item, kMenuOpenFolder, L"&Open game folder"},
    {MenuRow::Item, kMenuOpenLog, L"Open &log folder"},
    {MenuRow::Separator, kMenuNone, L""},
    {MenuRow::Item, kMenuUninstall, L"&Uninstall game..."},
};

// The main button reacts in this phase.
bool mainButtonEnabled(int32_t phase);

// Whether `command` (the submenu: kMenuLimitFirst) can act now. Verify,
// move and uninstall need the files judged and idle: Ready, UpdateReady or
// LocalError. During a download only the folder and the limit act; while
// the game runs only the folder.
// The log folder always acts; "Play offline" never by this rule alone
// (playOfflineEnabled).
bool menuItemEnabled(uint32_t command, int32_t phase, bool gameRunning);

// "Play offline": in ServerError, or a LocalError that is the server's
// (serverFault), with no game running and the installed files fit to play
// (offlinePlayable, judged by update/offline_play_win.h).
bool playOfflineEnabled(int32_t phase, bool serverFault, bool gameRunning, bool offlinePlayable);
