// TVLLauncher: the player's launcher. Start-up, the window, the two
// background threads, then the message loop until the window closes.
#include <windows.h>
#include <objbase.h>

#include "app/launcher_swap_win.h"
#include "app/startup.h"
#include "app/window_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    restrictDllSearch();
    // Screen readers reach the window's accessible object through COM,
    // which Windows requires the window's thread to have initialised.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    prepareLauncher();
    if (swapPreparedLauncher()) ::ExitProcess(0);  // a newer build of the launcher takes over
    if (!createMainWindow(instance, showCommand)) return 1;  // no window: no threads either
    startBackgroundThreads();
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    // The background threads never end on their own: the process ends them
    // before any static object could be torn down under them.
    ::ExitProcess(0);
}
