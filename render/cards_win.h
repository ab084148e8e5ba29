// The two cards at the bottom: the patch notes with their scroll, and the
// server's state, counters and the launcher's status line.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/graphics_handles_win.h"

// What each card shows, on its frame (drawCard, painted with the backdrop).
void paintNotesCard(HDC dc, Gdiplus::GpGraphics* g);
void paintServerCard(HDC dc, Gdiplus::GpGraphics* g);

// Lays the notes out from (x, y) in a column `width` wide and returns their
// height; draws them unless `measureOnly`. Holds stateLock for the pass.
int32_t layoutPatchNotes(HDC dc, Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t width, bool measureOnly);
