// The window's DPI, its ten fonts and its layout. UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "render/layout.h"
#include "core/graphics_handles_win.h"

using FontHandle = GdiObject<HFONT>;

struct DisplayResources {
    int32_t dpi = 96;
    FontHandle fontButtonLarge;  // main button label under 9 characters
    FontHandle fontButtonSmall;  // main button label of 9 or more
    FontHandle fontLabel;        // small capitals, card headers, pills
    FontHandle fontValue;        // statistic values
    FontHandle fontSubtitle;     // download status, persona name
    FontHandle fontBody;         // patch notes after the first line
    FontHandle fontSmall;        // status text, rate, amounts, Steam lines
    FontHandle fontHeading;      // first line of the patch notes
    FontHandle fontNumber;       // server card tiles
    FontHandle fontTitle;        // window title
};

extern DisplayResources gDisplay;
extern WindowLayout gLayout;

// n px at 96 DPI for the current dpi (MulDiv rounding).
int32_t scaled(int32_t n);

// Deletes the fonts that exist and creates all ten for the current dpi, so
// no painter may keep a font handle from one paint to the next.
void createFonts();

// Rewrites gLayout for the window's client area and the current dpi.
void computeLayout(HWND window);
