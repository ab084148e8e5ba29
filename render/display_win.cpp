#include "render/display_win.h"

DisplayResources gDisplay;
WindowLayout gLayout;

namespace {

struct FontSpec {
    FontHandle DisplayResources::*font;
    int32_t height;  // character height in px at 96 DPI
    int32_t weight;
};

constexpr FontSpec kFonts[] = {
    {&DisplayResources::fontButtonLarge, 20, 700}, {&DisplayResources::fontButtonSmall, 15, 700},
    {&DisplayResources::fontLabel, 11, 700},       {&DisplayResources::fontValue, 17, 600},
    {&DisplayResources::fontSubtitle, 15, 600},    {&DisplayResources::fontBody, 14, 400},
    {&DisplayResources::fontSmall, 12, 400},       {&DisplayResources::fontHeading, 18, 700},
    {&DisplayResources::fontNumber, 28, 700},      {&DisplayResources::fontTitle, 14, 700},
};

HFONT createUiFont(int32_t height, int32_t weight) {
    // Negative: the character height, not the cell height.
    return ::CreateFontW(-scaled(height), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                         CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
}

}  // namespace

int32_t scaled(int32_t n) { return ::MulDiv(n, gDisplay.dpi, 96); }

void createFonts() {
    for (const FontSpec& spec : kFonts) {
        (gDisplay.*spec.font).reset();
        (gDisplay.*spec.font).reset(createUiFont(spec.height, spec.weight));
    }
}

void computeLayout(HWND window) {
    RECT client{};
    ::GetClientRect(window, &client);
    gLayout = layoutForClient(client.right, client.bottom, gDisplay.dpi);
}
