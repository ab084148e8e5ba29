// What the window keeps for its painters: the item under the pointer, the
// pressed item, the patch notes' scroll, the spinner. UI thread only.
// Pure: no <windows.h>.
#pragma once

#include <cstdint>

enum HitItem : int32_t {
    None = 0,
    MainButton = 1,
    MinimizeButton = 2,
    CloseButton = 3,
    MenuButton = 4,
};

// Member initialisers are the starting values: `gUi = {}` resets it.
struct UiState {
    int32_t hoverItem = None;
    int32_t pressedItem = None;
    int32_t notesScroll = 0;         // px the notes are scrolled up; painting clamps it
    int32_t notesContentHeight = 0;  // px, as the last paint measured
    bool repaintPending = false;     // the one-shot repaint timer is armed
    bool keyboardCues = false;       // a key was used: focus shows from now on
    bool focused = false;            // the window has the keyboard focus
    bool menuOpen = false;           // the menu button's popup shows: the button looks pressed
    float spinnerAngle = 0.0f;       // degrees, 0 <= angle < 360
    int32_t spinnerBox[4] = {};      // left, top, right, bottom of the spinner as last painted; empty: none
};

extern UiState gUi;
