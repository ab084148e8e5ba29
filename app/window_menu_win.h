// The launcher's menu: the title bar's menu button opens it as a popup, and
// the same items sit in the window's system menu, so Alt+Space reaches them.
// What the items do is asked of the worker through gState, as the main
// button does it; only the folder picker, the question before an uninstall
// and Explorer run here. Window thread only.
#pragma once

#include <windows.h>

#include <cstdint>

// Adds the menu's items to the window's system menu (WM_CREATE).
void addMenuToSystemMenu(HWND window);

// Shows the popup under the menu button until the player picks an item or
// dismisses it; the item's command, or 0.
uint32_t openMenuPopup(HWND window);

// WM_INITMENUPOPUP: greys and checks the items of `menu` for this moment.
void refreshMenu(HMENU menu);

// Runs one of the menu's commands; false for an id that is not the menu's.
bool runMenuCommand(HWND window, uint32_t command);
