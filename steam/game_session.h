// Starting the game after making sure Steam runs, and following it until it
// ends. The game is recognised by its executable names, so a game started
// some other way is followed just as well.
#pragma once

#include <cstdint>

#include "core/window_title.h"  // the caption of its message boxes

constexpr wchar_t kShippingExe[] = L"Tervalon-Win64-Shipping.exe";
constexpr wchar_t kGameExe[] = L"Tervalon.exe";
constexpr wchar_t kSteamExe[] = L"steam.exe";
constexpr wchar_t kSteamOpenAddress[] = L"steam://open/main";
constexpr wchar_t kSteamStartingText[] =
    L"Steam has to be open and logged in.\n\nSteam is starting now - when it's ready, press Play again.";
constexpr wchar_t kGameStartFailedText[] = L"Could not start the game. Restart the launcher to repair the files.";
constexpr uint32_t kMonitorPollMs = 1500;
constexpr int kMonitorStartPolls = 42;

bool isGameRunning();

// The main button's action in Ready; runs on the window thread. True when
// the game was started (or found running) and a monitor follows it.
bool launchGame();

// "Play offline": launchGame while the server cannot be reached. When the
// game ends the phase and text from before it come back instead of Ready.
bool launchGameOffline();

// Starts a detached gameMonitor unless one runs: the test of gameRunning and
// its setting form one atomic step. True when this call started it.
bool tryStartGameMonitor();
