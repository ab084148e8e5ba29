#include "render/window_controls.h"

#include "core/launcher_phase.h"

uint32_t speedLimitCommand(int32_t mbps) {
    for (int32_t i = 0; i < kSpeedLimitChoiceCount; ++i)
        if (kSpeedLimitChoices[i] == mbps) return kMenuLimitFirst + 16 * static_cast<uint32_t>(i);
    return kMenuNone;
}

int32_t speedLimitOfCommand(uint32_t command) {
    if (command < kMenuLimitFirst || (command - kMenuLimitFirst) % 16 != 0) return -1;
    const uint32_t index = (command - kMenuLimitFirst) / 16;
    return index < static_cast<uint32_t>(kSpeedLimitChoiceCount) ? kSpeedLimitChoices[index] : -1;
}

std::wstring speedLimitLabel(int32_t mbps) {
    return mbps == 0 ? std::wstring(L"No limit") : std::to_wstring(mbps) + L" MB/s";
}

bool mainButtonEnabled(int32_t phase) { return phaseInfo(phase).clickable; }

bool menuItemEnabled(uint32_t command, int32_t phase, bool gameRunning) {
    if (command == kMenuOpenFolder || command == kMenuOpenLog) return true;
    if (command == kMenuPlayOffline) return false;
    if (gameRunning || phase == Running || phase == Waiting) return false;
    if (speedLimitOfCommand(command) >= 0) return true;
    const bool idle = phase == Ready || phase == UpdateReady || phase == LocalError;
    return idle && (command == kMenuVerify || command == kMenuMove || command == kMenuUninstall);
}

bool playOfflineEnabled(int32_t phase, bool serverFault, bool gameRunning, bool offlinePlayable) {
    const bool serversFault = phase == ServerError || (phase == LocalError && serverFault);
    return serversFault && !gameRunning && offlinePlayable;
}
