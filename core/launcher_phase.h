// The launcher's nine phases and what each one means for the main button.
// The painter, the window procedure and TVLHeadless all read this table,
// so nothing else depends on the order of the enumeration. Pure.
#pragma once

#include <cstdint>

enum LauncherPhase : int32_t {
    Connecting = 0,
    ServerError = 1,
    Checking = 2,
    UpdateReady = 3,
    Downloading = 4,
    Ready = 5,
    LocalError = 6,
    Waiting = 7,
    Running = 8,
};

enum class ButtonIcon { None, Spinner, Play, Bars };

struct PhaseInfo {
    const wchar_t* name;   // as TVLHeadless prints it
    const wchar_t* label;  // on the main button; UpdateReady depends on gameInstalled
    bool clickable;        // the main button reacts
    bool busy;             // work the player waits for: the blue busy look
    bool spins;            // the spinner turns with the animation timer
    ButtonIcon icon;
};

// Any value outside 0-8 gets "Unknown" and the plain, unclickable "RETRY".
const PhaseInfo& phaseInfo(int32_t phase);

// The label the main button shows: "UPDATE" or "INSTALL" in UpdateReady.
const wchar_t* mainButtonLabel(int32_t phase, bool gameInstalled);

// Bright (white) label and icon: clickable or busy. Only Connecting and
// unknown values are grey.
inline bool phaseBright(int32_t phase) { return phaseInfo(phase).clickable || phaseInfo(phase).busy; }
