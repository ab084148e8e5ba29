// The launcher's one window: borderless, custom-drawn, moved by its title
// strip and banner, resized at its edges, with the main button as its one
// real control. The window procedure only dispatches; each message has a
// short handler below it.
#pragma once

#include <windows.h>

#include "core/window_title.h"

constexpr wchar_t kWindowClass[] = L"UE4TVLLauncher";

// Posted after a paint that used roughly scaled pictures.
constexpr UINT kMsgRefinePictures = WM_APP + 2;

enum WindowTimer : UINT_PTR {
    RepaintTimer = 1,    // 33 ms, one-shot, armed by the first state change
    SpeedTimer = 2,      // 1000 ms: smooths the download speed
    AnimationTimer = 3,  // 30 ms: turns the spinner in the busy phases
};
constexpr UINT kRepaintDelayMs = 33;
constexpr UINT kSpeedPeriodMs = 1000;
constexpr UINT kAnimationPeriodMs = 30;

// Ready: start the game; otherwise ask the worker to go on.
void activateMainButton();

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Start-up's window steps: the DPI and fonts, the class, the size and place
// from the work area, the window itself, its own DPI, then shown and
// painted once. Null when the window cannot be made.
HWND createMainWindow(HINSTANCE instance, int showCommand);

// How start-up asks for the window's own DPI; tests stand in a monitor
// whose DPI differs from the screen's, which Wine cannot show.
extern UINT (*gWindowDpi)(HWND);
