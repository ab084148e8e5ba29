// The window's behaviour that needs no window: where the frame is grabbed,
// where the window opens, how the wheel scrolls, how the speed is smoothed
// and how the spinner turns. Pure: no <windows.h>.
#pragma once

#include <cstdint>

#include "render/layout.h"
#include "render/ui_state.h"

// What a point of the window is for the system: a sizing edge or corner,
// the caption that drags the window, or the client area.
enum class FrameHit { Client, Caption, Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };

// The outer S(6) resize; the title strip (but its two buttons) and the
// banner drag; the rest is client.
FrameHit frameHitTest(const WindowLayout& layout, int32_t x, int32_t y, int32_t dpi);

struct WindowPlacement {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// 1040 x 640 at `dpi`, each side cut to the work area, centred in it.
WindowPlacement initialPlacement(int32_t dpi, const Rect& workArea);

// The notes' scroll after a wheel turn of `delta` (120 a notch, positive
// away from the player): 60 px a notch, finer wheels proportionally less.
int32_t wheelScrolled(int32_t scroll, int32_t delta, int32_t dpi);

// The download speed after one second in which bytesDone grew by `delta`:
// the first sample as it is, then 0.3 new + 0.7 old; 0 when not
// downloading or when bytesDone went down.
double smoothedSpeed(double previous, int64_t delta, bool downloading);

// The spinner 9 degrees on, kept within 0 <= angle < 360.
float advancedSpinner(float angle);

// The main button grown by S(12): all a spinner can reach.
Rect spinnerArea(const WindowLayout& layout, int32_t dpi);

// What a spinner tick repaints: the spinner as the last paint placed it,
// else the spinner area. Every pixel repainted costs under Wine, and the
// spinner turns 33 times a second.
Rect spinnerTickArea(const WindowLayout& layout, const UiState& ui, int32_t dpi);
