// Display resources, built-in pictures and drawing primitives, painted into
// the off-screen canvas with the real GDI and GDI+ of Wine.
#include <doctest/doctest.h>

#include <objidl.h>
#include <gdiplus.h>

#include <string>

#include "render/display_win.h"
#include "core/launcher_state.h"
#include "render/canvas_win.h"
#include "render/draw_win.h"
#include "render/images_win.h"
#include "resources/resource_ids.h"
#include "tests/support/pixels.h"

using pixels::channel;
using pixels::closeTo;
using pixels::inkBox;
using pixels::samePixels;

namespace {

struct RenderFixture {
    RenderFixture() {
        static bool gdiplus = (startGdiplus(), true);
        (void)gdiplus;
        gDisplay.dpi = 96;
        createFonts();
    }
};

std::wstring builtExe(const wchar_t* name) {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring self(exe);
    return self.substr(0, self.rfind(L'\\') + 1) + name;
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

}  // namespace

TEST_CASE("scaling agrees with the platform's MulDiv for every length the window uses") {
    for (int dpi : {96, 120, 144, 168, 192, 240})
        for (int n = -20; n <= 2000; ++n) {
            gDisplay.dpi = dpi;
            REQUIRE(scaled(n) == scaledAt(n, dpi));
            REQUIRE(scaledAt(n, dpi) == ::MulDiv(n, dpi, 96));
        }
    gDisplay.dpi = 96;
}

TEST_CASE("the fonts follow the DPI, and a DPI change leaves no old font behind") {
    RenderFixture f;
    gDisplay.dpi = 120;
    HFONT before = gDisplay.fontLabel.get();
    createFonts();
    LOGFONTW lf{};
    REQUIRE(::GetObjectW(gDisplay.fontButtonLarge.get(), sizeof lf, &lf) == sizeof lf);
    CHECK(lf.lfHeight == -25);
    CHECK(lf.lfWeight == 700);
    CHECK(std::wstring(lf.lfFaceName) == L"Segoe UI");
    CHECK(lf.lfQuality == CLEARTYPE_QUALITY);
    REQUIRE(::GetObjectW(gDisplay.fontLabel.get(), sizeof lf, &lf) == sizeof lf);
    CHECK(lf.lfHeight == -14);  // 13.75
    REQUIRE(::GetObjectW(gDisplay.fontValue.get(), sizeof lf, &lf) == sizeof lf);
    CHECK(lf.lfHeight == -21);
    CHECK(lf.lfWeight == 600);
    CHECK(::GetObjectType(before) == 0);  // deleted, not leaked
    gDisplay.dpi = 96;
    createFonts();
}

TEST_CASE("the built-in pictures decode to their sizes and formats") {
    RenderFixture f;
    struct Want {
        int id;
        unsigned w, h;
        Gdiplus::PixelFormat format;
    };
    for (Want want : {Want{IDR_DEFAULT_BANNER, 3400, 1000, PixelFormat24bppRGB},
                      Want{IDR_BACKGROUND, 640, 367, PixelFormat24bppRGB},
                      Want{IDR_LOGO, 128, 128, PixelFormat32bppARGB}}) {
        CAPTURE(want.id);
        ImageHandle image = decodeBuiltInImage(want.id);
        unsigned w = 0, h = 0;
        REQUIRE(imageSize(image, &w, &h));
        CHECK(w == want.w);
        CHECK(h == want.h);
        Gdiplus::PixelFormat format = 0;
        Gdiplus::DllExports::GdipGetImagePixelFormat(image.get(), &format);
        CHECK(format == want.format);
    }
}

TEST_CASE("start-up's pictures: the default banner only stands in for a missing one") {
    RenderFixture f;
    resetLauncherState();
    loadBuiltInImages();
    unsigned w = 0, h = 0;
    CHECK(imageSize(gState.bannerImage, &w, &h));
    CHECK(w == 3400);
    CHECK(imageSize(gState.backgroundImage, &w, &h));
    CHECK(imageSize(gState.logoImage, &w, &h));
    gState.bannerImage = decodeBuiltInImage(IDR_LOGO);  // as if banner.img had loaded
    loadBuiltInImages();
    CHECK(imageSize(gState.bannerImage, &w, &h));
    CHECK(w == 128);
    resetLauncherState();
}

TEST_CASE("TVLLauncher.exe carries icon group 1 with nine PNG images of 32 bits") {
    std::wstring exe = builtExe(L"TVLLauncher.exe");
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    REQUIRE(module);
    HRSRC group = ::FindResourceW(module, MAKEINTRESOURCEW(IDI_PROGRAM), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
    REQUIRE(group);
    const auto* dir = static_cast<const WORD*>(::LockResource(::LoadResource(module, group)));
    REQUIRE(dir);
    REQUIRE(dir[2] == 9);
    const auto* entries = reinterpret_cast<const IconGroupEntry*>(dir + 3);
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
    for (int i = 0; i < 9; ++i) {
        CAPTURE(i);
        CHECK((entries[i].width ? entries[i].width : 256) == sizes[i]);
        CHECK(entries[i].bitCount == 32);
        HRSRC icon = ::FindResourceW(module, MAKEINTRESOURCEW(entries[i].id), MAKEINTRESOURCEW(3) /* RT_ICON */);
        REQUIRE(icon);
        const auto* bytes = static_cast<const unsigned char*>(::LockResource(::LoadResource(module, icon)));
        CHECK(std::string(reinterpret_cast<const char*>(bytes), 8) == "\x89PNG\r\n\x1a\n");
    }
    ::FreeLibrary(module);
}

TEST_CASE("a rounded rectangle covers exactly its w x h pixels; radius 0 and 1 round the corners") {
    RenderFixture f;
    auto paint = [](Canvas& c, int radius, bool outline) {
        c.fill(0x000000);
        GraphicsHandle g = createPaintGraphics(c.dc());
        PathHandle path = roundRectPath(10, 12, 40, 30, radius);
        if (outline) strokePath(g.get(), path, 0xFFFFFFFF);
        else fillPath(g.get(), path, 0xFFFFFFFF);
    };
    for (int radius : {0, 1, 6}) {
        CAPTURE(radius);
        Canvas c(64, 64);
        REQUIRE(c.ok());
        paint(c, radius, true);
        Rect box = inkBox(c, 0x000000);
        CHECK(box.left == 10);
        CHECK(box.top == 12);
        CHECK(box.width() == 40);
        CHECK(box.height() == 30);
    }
    Canvas r0(64, 64), r1(64, 64), r2(64, 64), square(64, 64);
    paint(r0, 0, false);
    paint(r1, 1, false);
    paint(r2, 2, false);
    CHECK(samePixels(r0, r1));
    CHECK_FALSE(samePixels(r1, r2));
    // A sharp corner would be as bright as the middle of the edge.
    CHECK(channel(r0.pixel(10, 12), 0) < channel(r0.pixel(30, 12), 0));
}

TEST_CASE("text boxes show an ampersand as itself") {
    RenderFixture f;
    Canvas drawn(120, 40), literal(120, 40);
    drawn.fill(0x000000);
    literal.fill(0x000000);
    drawTextBox(drawn.dc(), gDisplay.fontBody.get(), 0xFFFFFF, 4, 4, 110, 30, L"A&B", DT_SINGLELINE);
    ::SelectObject(literal.dc(), gDisplay.fontBody.get());
    ::SetTextColor(literal.dc(), RGB(255, 255, 255));
    ::TextOutW(literal.dc(), 4, 4, L"A&B", 3);
    CHECK(inkBox(drawn, 0).width() > 0);
    CHECK(samePixels(drawn, literal));
}

TEST_CASE("a card's body shows its gradient; cover draws of nothing leave the canvas alone") {
    RenderFixture f;
    Canvas c(300, 260);
    c.fill(0x16202C);
    GraphicsHandle g = createPaintGraphics(c.dc());
    drawCard(g.get(), Rect{20, 20, 280, 220}, scaled(14));
    // Halfway down, the body is 0xE6233040-ish (between its two ends) over the base.
    CHECK(closeTo(c.pixel(150, 120), 0x222E3E, 3));
    CHECK(closeTo(c.pixel(150, 245), 0x16202C, 0));  // the shadow stops 4 px + 4 px below
    CHECK(c.pixel(150, 221) != 0x16202C);           // and darkens just under the card

    Canvas blank(50, 50);
    blank.fill(0x123456);
    GraphicsHandle bg = createPaintGraphics(blank.dc());
    ImageHandle none;
    drawImageCover(bg.get(), none, 0, 0, 50, 50);
    ImageHandle logo = decodeBuiltInImage(IDR_LOGO);
    drawImageCover(bg.get(), logo, 10, 10, 0, 30);
    CHECK(inkBox(blank, 0x123456).width() <= 0);
}
