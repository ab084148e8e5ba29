// The card under the banner: the main button in the phase's look, the
// download progress or the play statistics, and the Steam identity.
#pragma once

#include <windows.h>

#include "render/graphics_handles_win.h"

// Draws the whole bar from the shared state; changes nothing.
void paintActionBar(HDC dc, Gdiplus::GpGraphics* g);
