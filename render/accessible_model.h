// What a screen reader reads from the window: the client and its seven
// children, each with the name, role, state and place a sighted player
// sees painted. The COM object that serves it is a thin shell around this.
// Pure: no <windows.h>.
#pragma once

#include <cstdint>
#include <string>

#include "render/layout.h"
#include "render/repaint_plan.h"

// Child ids, in reading order but for the menu button, which came last and
// keeps the ids readers and scripts already know. 0 is the client itself.
enum AccessibleChild : int32_t {
    kAccessibleSelf = 0,
    kAccessibleMinimize = 1,
    kAccessibleClose = 2,
    kAccessibleMainButton = 3,
    kAccessibleProgress = 4,
    kAccessibleServer = 5,
    kAccessibleNotes = 6,
    kAccessibleMenu = 7,
};
constexpr int32_t kAccessibleChildCount = 7;

enum class AccessibleRole { Client, PushButton, ProgressBar, StaticText, Text };

enum AccessibleState : uint32_t {
    kAccessibleUnavailable = 1,
    kAccessibleInvisible = 2,
    kAccessibleReadOnly = 4,
    kAccessibleFocusable = 8,
    kAccessibleFocused = 16,
    kAccessibleHasPopup = 32,
};

struct AccessibleElement {
    std::wstring name, value, description, defaultAction;
    AccessibleRole role = AccessibleRole::Client;
    uint32_t state = 0;
    Rect location;  // client coordinates, as painted
};

// Everything beyond the painters' inputs that a reader is told.
struct AccessibleExtras {
    std::wstring notes;   // the patch notes as sent; empty: none
    bool focused = false; // the window has the keyboard focus
};

// The element `child` (0 to 7) for what the painters show now. An id out
// of range gives an element with an empty name.
AccessibleElement accessibleElement(int32_t child, const PaintInputs& in, const AccessibleExtras& extras,
                                    const WindowLayout& layout, int32_t dpi);

// "39 %": the percentage the action bar shows.
std::wstring accessiblePercent(int64_t bytesDone, int64_t bytesTotal);

// The child under a client point: a child id, kAccessibleSelf inside the
// client, -1 outside. Invisible children are never hit.
int32_t accessibleHitTest(const PaintInputs& in, const WindowLayout& layout, int32_t dpi, int32_t x, int32_t y);

// What changed for a reader between two moments, to be announced.
struct AccessibleAnnounced {
    std::wstring label;    // the main button's name
    bool available = false;
    bool progressShown = false;
    int32_t percent = -1;  // -1: no progress shows
    std::wstring status;   // the client's description
};
AccessibleAnnounced accessibleAnnounced(const PaintInputs& in);

enum AccessibleEvent : uint32_t {
    kAnnounceLabel = 1,        // the main button's name changed
    kAnnounceAvailable = 2,    // the main button became available or unavailable
    kAnnouncePercent = 4,      // the shown percentage changed
    kAnnounceProgressShown = 8,
    kAnnounceStatus = 16,
};
uint32_t accessibleEvents(const AccessibleAnnounced& before, const AccessibleAnnounced& now);

// Percentage changes are told at most this often; a reader that speaks
// every one would say nothing else during a download.
constexpr int32_t kPercentEventGapMs = 400;
