// A clean slate for tests that paint or open the window: GDI+ started once,
// the launcher and UI state reset, no scaled pictures left from an earlier
// case, and the built-in pictures loaded as start-up loads them.
#pragma once

#include "core/launcher_state.h"
#include "render/ui_state.h"
#include "render/images_win.h"
#include "render/paint_window_win.h"

inline void freshPictureState() {
    static bool gdiplus = (startGdiplus(), true);
    (void)gdiplus;
    resetLauncherState();
    gUi = {};
    releasePaintCache();
    loadBuiltInImages();
}
