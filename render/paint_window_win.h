// The whole window picture: background, banner card, title pill, window
// buttons, then the action bar and the two cards, painted off-screen and
// copied to the screen in one transfer.
#pragma once

#include <windows.h>

#include "render/layout.h"
#include "render/repaint_plan.h"

// Paints into `dc`, a memory DC holding a clientWidth x clientHeight
// bitmap. Only the layers that reach `region` are painted, clipped to it;
// the rest of the bitmap is left as it is. Pass the whole client area for
// a full picture.
void paintScene(HDC dc, const Rect& region);

// WM_PAINT: paints what is invalid into the back buffer, which lives from
// one paint to the next, and copies it to the window. Pictures it must
// scale anew (the first frame, a new size, a new banner) are scaled with a
// cheap filter first, so the window shows sooner.
void paintWindow(HWND window);

// Paints `region` into the back buffer and onto the window at once, without
// a WM_PAINT: for the spinner, whose 33 ticks a second each cost Wine more
// in the paint message's round trip than in the drawing. False when there
// is no back buffer yet; then the caller invalidates instead.
bool paintNow(HWND window, const Rect& region);

// Whether the last paint used roughly scaled pictures; then refinePictures
// scales them properly and the window repaints everything.
bool picturesRough();
void refinePictures();

// What the painters would read now (takes stateLock and imageLock in turn).
PaintInputs capturePaintInputs();

// The card frames and the banner come from the backdrop copy (the default)
// or are drawn live at every paint, the picture they must equal (tests).
void setCardFramesCached(bool cached);

// Drops the back buffer and the scaled copies of the pictures (tests).
void releasePaintCache();
