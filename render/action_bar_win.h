// The card under the banner: the main button in the phase's look, the
// download progress or the play statistics, and the Steam identity.
#pragma once

#include <windows.h>

#include "core/graphics_handles_win.h"

// Draws what the bar shows from the shared state, on its card frame
// (drawCard, painted with the backdrop); changes nothing.
void paintActionBar(HDC dc, Gdiplus::GpGraphics* g);
