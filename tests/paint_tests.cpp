// The whole window painted into the off-screen canvas, checked where the
// look is exact: colours, geometry and what is left out. Text is checked
// through the measured layout, never by glyphs (Wine has no "Segoe UI").
#include <doctest/doctest.h>

#include <objidl.h>
#include <gdiplus.h>

#include <array>
#include <memory>

#include "render/display_win.h"
#include "core/launcher_state.h"
#include "app/window_rules.h"
#include "render/canvas_win.h"
#include "render/cards_win.h"
#include "render/draw_win.h"
#include "render/formatting.h"
#include "render/images_win.h"
#include "render/paint_window_win.h"
#include "tests/support/fresh_picture.h"
#include "tests/support/pixels.h"

namespace {

struct PaintFixture {
    PaintFixture() {
        freshPictureState();
        setSize(1040, 640, 96);
    }
    ~PaintFixture() {
        releasePaintCache();
        resetLauncherState();
        gUi = {};
    }
    void setSize(int w, int h, int dpi) {
        gDisplay.dpi = dpi;
        createFonts();
        gLayout = layoutForClient(w, h, dpi);
    }
    void setPhase(int phase) {
        LockHolder hold(gStateLock);
        gState.phase = phase;
    }
    std::unique_ptr<Canvas> paint() {
        auto canvas = std::make_unique<Canvas>(gLayout.clientWidth, gLayout.clientHeight);
        REQUIRE(canvas->ok());
        paintScene(canvas->dc(), Rect{0, 0, gLayout.clientWidth, gLayout.clientHeight});
        return canvas;
    }
};

// The button body low in its left part: below the gloss, clear of icon and label.
uint32_t buttonBody(const Canvas& c) {
    const Rect& b = gLayout.mainButtonRect;
    return c.pixel(b.left + 6, b.bottom - 6);
}

uint32_t gradientAt(uint32_t top, uint32_t bottom, double f) {
    uint32_t out = 0;
    for (int shift : {0, 8, 16}) {
        double v = ((top >> shift) & 0xFF) * (1 - f) + ((bottom >> shift) & 0xFF) * f;
        out |= static_cast<uint32_t>(v + 0.5) << shift;
    }
    return out;
}

}  // namespace

TEST_CASE("the main button's look follows phase, hover and press") {
    PaintFixture f;
    // The sample row sits 43.5 of the gradient line's 50 px down.
    const double at = 43.5 / 50.0;
    struct Case {
        int phase, hover, pressed;
        uint32_t top, bottom;
    };
    const Case cases[] = {
        {Ready, None, None, 0x6EDC5A, 0x38A83A},
        {Ready, MainButton, None, 0x84EC6A, 0x4ABE46},
        {Ready, MainButton, MainButton, 0x46AA3C, 0x2C842E},
        {Ready, None, MainButton, 0x6EDC5A, 0x38A83A},  // pressed, then the pointer left
        {UpdateReady, None, None, 0x48ACFF, 0x1C7CE6},
        {Waiting, MainButton, None, 0x64C0FF, 0x2C92F5},
        {LocalError, MainButton, MainButton, 0x1E78D2, 0x125CB4},
        {Checking, MainButton, MainButton, 0x2E80D6, 0x1C5CAA},  // busy ignores the pointer
        {Running, None, None, 0x2E80D6, 0x1C5CAA},
        {Connecting, MainButton, None, 0x3E4856, 0x303844},
        {42, None, None, 0x3E4856, 0x303844},
    };
    for (const Case& c : cases) {
        CAPTURE(c.phase);
        CAPTURE(c.hover);
        f.setPhase(c.phase);
        gUi.hoverItem = c.hover;
        gUi.pressedItem = c.pressed;
        auto canvas = f.paint();
        CHECK(pixels::closeTo(buttonBody(*canvas), gradientAt(c.top, c.bottom, at), 3));
    }
    // The halo: green under a Ready button, none at all while connecting.
    const Rect& b = gLayout.mainButtonRect;
    const int y = b.bottom + 4;
    gUi = {};
    f.setPhase(Ready);
    auto ready = f.paint();
    CHECK(pixels::channel(ready->pixel(b.left + 50, y), 8) > pixels::channel(ready->pixel(b.right + 100, y), 8) + 2);
    f.setPhase(Connecting);
    auto grey = f.paint();
    CHECK(pixels::closeTo(grey->pixel(b.left + 50, y), grey->pixel(b.right + 100, y), 1));
}

TEST_CASE("window buttons: only the one under the pointer changes, the close button turns red") {
    PaintFixture f;
    const Rect& close = gLayout.closeButtonRect;
    const Rect& minimize = gLayout.minimizeButtonRect;
    auto sample = [](const Canvas& c, const Rect& r) { return c.pixel(r.left + 5, (r.top + r.bottom) / 2); };
    auto plain = f.paint();
    gUi.hoverItem = CloseButton;
    auto overClose = f.paint();
    gUi.hoverItem = MinimizeButton;
    auto overMinimize = f.paint();
    const uint32_t red = sample(*overClose, close);
    CHECK(pixels::channel(red, 16) > 190);
    CHECK(pixels::channel(red, 8) < 70);
    CHECK(sample(*overClose, minimize) == sample(*plain, minimize));
    CHECK(pixels::channel(sample(*overMinimize, minimize), 8) > pixels::channel(sample(*plain, minimize), 8) + 60);
    CHECK(sample(*overMinimize, close) == sample(*plain, close));
}

TEST_CASE("the menu button at 96 and 144 DPI: three bars, lighter under the pointer, lighter still held or open") {
    PaintFixture f;
    for (auto size : {std::array<int, 3>{1040, 640, 96}, std::array<int, 3>{1560, 960, 144}}) {
        CAPTURE(size[2]);
        f.setSize(size[0], size[1], size[2]);
        releasePaintCache();
        const Rect& r = gLayout.menuButtonRect;
        const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
        auto fill = [&](const Canvas& c) { return pixels::channel(c.pixel(r.left + scaled(5), cy), 8); };
        auto state = [&](int32_t hover, int32_t pressed, bool open) {
            gUi.hoverItem = hover;
            gUi.pressedItem = pressed;
            gUi.menuOpen = open;
            return f.paint();
        };
        auto plain = state(None, None, false);
        for (int bar : {-scaled(4), 0, scaled(4)}) CHECK(pixels::channel(plain->pixel(cx, cy + bar), 8) > 200);
        for (int gap : {-scaled(2), scaled(2)}) CHECK(pixels::channel(plain->pixel(cx, cy + gap), 8) < 120);
        CHECK(pixels::channel(plain->pixel(cx - scaled(7), cy), 8) < 120);  // the bars end where minimise's dash does
        auto hover = state(MenuButton, None, false);
        auto held = state(MenuButton, MenuButton, false);
        auto open = state(None, None, true);
        auto heldAway = state(None, MenuButton, false);  // pressed, then the pointer left
        CHECK(fill(*hover) > fill(*plain) + 60);
        CHECK(fill(*held) > fill(*hover) + 20);
        CHECK(fill(*open) == fill(*held));
        CHECK(fill(*heldAway) == fill(*plain));
        const Rect& m = gLayout.minimizeButtonRect;
        CHECK(hover->pixel(m.left + scaled(5), cy) == plain->pixel(m.left + scaled(5), cy));
    }
}

TEST_CASE("the server pill says OFFLINE in red while the server errs, even when it was online") {
    PaintFixture f;
    const Rect& r = gLayout.serverRect;
    auto accent = [&](const Canvas& c) { return c.pixel(r.left + scaled(20) + 1, r.top + scaled(24)); };
    auto dot = [&](const Canvas& c, const wchar_t* text) {
        Canvas probe(8, 8);
        const int pill = textWidth(probe.dc(), gDisplay.fontLabel.get(), text) + scaled(36);
        return c.pixel(r.right - pill - scaled(22) + scaled(12) + 4, r.top + scaled(20) + 4);
    };
    gState.serverOnline = 1;
    f.setPhase(ServerError);
    auto error = f.paint();
    CHECK(pixels::closeTo(accent(*error), 0xF05C5C, 2));
    CHECK(pixels::closeTo(dot(*error, L"OFFLINE"), 0xF05C5C, 12));
    f.setPhase(Ready);
    auto ready = f.paint();
    CHECK(pixels::closeTo(accent(*ready), 0x66D65C, 2));
    CHECK(pixels::closeTo(dot(*ready, L"ONLINE"), 0x66D65C, 12));
    gState.serverOnline = 0;
    f.setPhase(Connecting);
    auto connecting = f.paint();
    CHECK(pixels::closeTo(accent(*connecting), 0xB0BCCA, 2));
}

TEST_CASE("a sliver of progress is drawn 10 px wide; nothing done leaves the track empty") {
    PaintFixture f;
    f.setPhase(Downloading);
    gState.bytesTotal = 1000;
    gState.bytesDone = 3;  // 494 x 0.003: one pixel
    const int u = gLayout.mainButtonRect.right + scaled(30);
    const int row = gLayout.actionBarRect.top - scaled(8) + scaled(54) + 5;
    auto sliver = f.paint();
    CHECK(pixels::channel(sliver->pixel(u + 6, row), 0) > 200);  // the blue fill
    CHECK(pixels::closeTo(sliver->pixel(u + 16, row), 0x324052, 2));
    gState.bytesDone = 0;
    auto empty = f.paint();
    CHECK(pixels::closeTo(empty->pixel(u + 6, row), 0x324052, 2));
}

TEST_CASE("a bottom card 70 px high is left out; at 71 px it is drawn") {
    PaintFixture f;
    f.setSize(1040, 410, 96);
    REQUIRE(gLayout.notesRect.height() == 70);
    auto low = f.paint();
    const Rect& n = gLayout.notesRect;
    const uint32_t bare = low->pixel((n.left + n.right) / 2, (n.top + n.bottom) / 2);
    CHECK(pixels::channel(bare, 8) < 0x20);  // the tinted backdrop
    f.setSize(1040, 411, 96);
    auto drawn = f.paint();
    const Rect& m = gLayout.notesRect;
    CHECK(pixels::channel(drawn->pixel((m.left + m.right) / 2, (m.top + m.bottom) / 2), 8) > 0x28);
}

TEST_CASE("scrolled past the end, the notes come back to their last line and the thumb meets the bottom") {
    PaintFixture f;
    {
        LockHolder hold(gStateLock);
        gState.patchNotes = L"Patch 12\n- one\n- two\n- three\n- four\n- five\n- six\n- seven\n- eight\n- nine";
    }
    gUi.notesScroll = 100000;
    auto canvas = f.paint();
    const Rect& n = gLayout.notesRect;
    const int view = n.height() - scaled(72), top = n.top + scaled(60);
    REQUIRE(view == 133);
    const int total = gUi.notesContentHeight;
    REQUIRE(total > view);
    CHECK(gUi.notesScroll == total - view);
    ScrollThumb thumb;
    REQUIRE(notesScrollThumb(view, total, gUi.notesScroll, scaled(30), &thumb));
    // Scan the thumb's column for its lit rows; its rounded, anti-aliased
    // ends may light the first and last row only faintly.
    const int x = n.right - scaled(12) + 1;  // the middle of the 4 px thumb
    const uint32_t card = canvas->pixel(x, top - 4);
    int first = -1, last = -1;
    for (int y = top - 2; y < top + view + 2; ++y)
        if (pixels::channel(canvas->pixel(x, y), 8) > pixels::channel(card, 8) + 8) {
            if (first < 0) first = y;
            last = y;
        }
    CHECK(std::abs(first - (top + thumb.top)) <= 1);
    CHECK(std::abs(last + 1 - (top + view)) <= 1);
    CHECK(std::abs(last + 1 - first - thumb.height) <= 2);
}

TEST_CASE("a spinner tick repaints only the spinner, and exactly as a full paint would") {
    PaintFixture f;
    f.setPhase(Downloading);
    gState.bytesTotal = 1000;
    gState.bytesDone = 400;
    auto kept = f.paint();  // the back buffer as the last full paint left it
    auto before = f.paint();
    for (float angle = 9; angle < 360; angle += 9) {  // a whole turn, tick by tick
        gUi.spinnerAngle = angle;
        const Rect tick = spinnerTickArea(gLayout, gUi, gDisplay.dpi);
        CHECK(tick.width() < gLayout.mainButtonRect.width() / 3);
        paintScene(kept->dc(), tick);
    }
    auto full = f.paint();
    CHECK(pixels::samePixels(*kept, *full));
    CHECK_FALSE(pixels::samePixels(*before, *full));  // the arrow did turn
}

TEST_CASE("the banner's shadow looks the same whether or not the banner hides part of it") {
    PaintFixture f;
    f.setPhase(Ready);
    auto opaque = f.paint();
    // The same banner with an alpha channel: the painter can no longer
    // count on it hiding the shadow, so it fills every layer whole.
    unsigned w = 0, h = 0;
    REQUIRE(imageSize(gState.bannerImage, &w, &h));
    Gdiplus::GpBitmap* withAlpha = nullptr;
    REQUIRE(Gdiplus::DllExports::GdipCloneBitmapAreaI(0, 0, w, h, PixelFormat32bppARGB,
                                                      static_cast<Gdiplus::GpBitmap*>(gState.bannerImage.get()),
                                                      &withAlpha) == Gdiplus::Ok);
    gState.bannerImage.reset(withAlpha);
    ++gState.bannerSerial;
    auto whole = f.paint();
    CHECK(pixels::samePixels(*opaque, *whole));
}

TEST_CASE("a download's notices repaint only their areas, and the picture stays the full paint's") {
    PaintFixture f;
    for (auto size : {std::array<int, 3>{1040, 640, 96}, std::array<int, 3>{1920, 1080, 144}}) {
        CAPTURE(size[2]);
        f.setSize(size[0], size[1], size[2]);
        releasePaintCache();
        gState.gameInstalled = 1;
        gState.bytesTotal = 851853312;
        gState.bytesDone = 1000;
        setStatus(Downloading, L"Downloading Level 1.pak");
        auto live = f.paint();
        PaintInputs shown = capturePaintInputs();
        struct Step {
            int64_t done;
            double speed;
            const wchar_t* status;
        } steps[] = {{340741324, 12.6 * 1048576, nullptr},
                     {340800000, 12.6 * 1048576, L"Downloading TervalonGame-WindowsNoEditor_3.pak"},
                     {851853312, 0.0, nullptr}};
        for (const Step& step : steps) {
            gState.bytesDone = step.done;
            gState.downloadSpeed = step.speed;
            if (step.status) setStatus(-1, step.status);
            PaintInputs now = capturePaintInputs();
            const uint32_t scope = repaintScope(shown, now);
            CHECK((scope & kRepaintAll) == 0);
            CHECK(scope != kRepaintNothing);
            for (const Rect& area : repaintAreas(scope, gLayout, gDisplay.dpi)) paintScene(live->dc(), area);
            shown = now;
            CHECK(pixels::samePixels(*live, *f.paint()));
        }
    }
}

TEST_CASE("hover and press repaint only the items they concern, and the picture stays the full paint's") {
    PaintFixture f;
    f.setPhase(Ready);
    auto live = f.paint();
    const int32_t moves[][2] = {{MainButton, None}, {MainButton, MainButton}, {CloseButton, None},
                                {MinimizeButton, None}, {MenuButton, MenuButton}, {None, None}};
    for (const auto& m : moves) {
        const int32_t before[] = {gUi.hoverItem, gUi.pressedItem};
        gUi.hoverItem = m[0];
        gUi.pressedItem = m[1];
        for (int32_t item : {before[0], before[1], m[0], m[1]})
            if (item != None) paintScene(live->dc(), itemArea(gLayout, item, gDisplay.dpi));
        CAPTURE(m[0]);
        CHECK(pixels::samePixels(*live, *f.paint()));
    }
}

TEST_CASE("card frames and banner from the backdrop copy give the picture drawn live, at every size") {
    PaintFixture f;
    const std::array<int, 3> sizes[] = {{1040, 640, 96}, {1920, 1080, 144}, {1350, 840, 144}, {900, 560, 96}};
    for (const auto& size : sizes) {
        for (int phase : {Ready, Downloading, ServerError}) {
            CAPTURE(size[0]);
            CAPTURE(phase);
            f.setSize(size[0], size[1], size[2]);
            gState.bytesTotal = 851853312;
            gState.bytesDone = 340741324;
            gUi.hoverItem = phase == Ready ? MainButton : CloseButton;
            f.setPhase(phase);
            setCardFramesCached(false);
            releasePaintCache();
            auto live = f.paint();
            setCardFramesCached(true);
            releasePaintCache();
            CHECK(pixels::samePixels(*live, *f.paint()));
        }
    }
}

namespace {

// Pixels of `c` in `area` that differ from `other`.
int differing(const Canvas& c, const Canvas& other, const Rect& area) {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) n += c.pixel(x, y) != other.pixel(x, y);
    return n;
}

// The box of the pixels in `area` that `keep` accepts.
template <class Keep>
Rect inkIn(const Canvas& c, const Rect& area, Keep keep) {
    Rect box{area.right, area.bottom, area.left, area.top};
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (keep(c.pixel(x, y))) {
                box = Rect{std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
                           std::max(box.bottom, y + 1)};
            }
    return box;
}

bool greenText(uint32_t p) {
    const int r = pixels::channel(p, 16), g = pixels::channel(p, 8), b = pixels::channel(p, 0);
    return g > r + 40 && g > b + 40;
}

void withSteam(bool valid) {
    LockHolder hold(gStateLock);
    gState.steamStats.valid = valid;
    std::wcscpy(gState.steamStats.personaName, L"Aria");
    gState.steamStats.playtimeMinutes = 600;
    gState.steamStats.lastPlayed = 0;
}

}  // namespace

TEST_CASE("the action bar: progress in UpdateReady once bytes are done; the rate only while downloading faster than 1 byte/s, ending before the divider") {
    PaintFixture f;
    f.setSize(900, 560, 96);  // the narrowest window, where the rate comes closest to the divider
    const ProgressBox box = progressBox(gLayout, 96);
    const Rect track{box.left, box.top + scaled(54), box.right, box.top + scaled(64)};
    const Rect rateRow{box.left, box.top + scaled(25), box.right, box.top + scaled(45)};
    gState.bytesTotal = 1000LL << 20;

    f.setPhase(UpdateReady);
    gState.bytesDone = 0;
    auto statistics = f.paint();
    CHECK_FALSE(pixels::closeTo(statistics->pixel(track.right - 20, track.top + 5), 0x324052, 2));
    gState.bytesDone = 400LL << 20;
    auto paused = f.paint();
    CHECK(pixels::closeTo(paused->pixel(track.right - 20, track.top + 5), 0x324052, 2));  // the empty track
    gState.downloadSpeed = 12.6 * 1048576;
    CHECK(differing(*f.paint(), *paused, rateRow) == 0);  // no rate outside Downloading

    f.setPhase(Downloading);
    gState.downloadSpeed = 0.0;
    auto still = f.paint();
    gState.downloadSpeed = 1.0;
    CHECK(differing(*f.paint(), *still, rateRow) == 0);
    gState.downloadSpeed = 12.6 * 1048576;
    auto moving = f.paint();
    CHECK(differing(*moving, *still, rateRow) > 0);
    const Rect beforeDivider{box.right - scaled(8), rateRow.top, box.right + 1, rateRow.bottom};
    CHECK(differing(*moving, *still, beforeDivider) == 0);
}

TEST_CASE("the main button's arrow stands still in ServerError, UpdateReady and LocalError, and turns in Waiting") {
    PaintFixture f;
    for (int phase : {ServerError, UpdateReady, LocalError, Waiting}) {
        CAPTURE(phase);
        f.setPhase(phase);
        gUi.spinnerAngle = 0.0f;
        auto first = f.paint();
        gUi.spinnerAngle = 123.0f;
        auto turned = f.paint();
        CHECK((differing(*first, *turned, gLayout.mainButtonRect) > 0) == (phase == Waiting));
    }
}

TEST_CASE("the identity block: \"Steam not found\" without Steam, the persona's status, \"In game\" while running") {
    PaintFixture f;
    const Rect& a = gLayout.actionBarRect;
    const int x = a.right - scaled(250), y = a.top + scaled(19);
    const Rect statusRow{x + scaled(58), y + scaled(27), a.right, y + scaled(47)};  // right of the avatar's green ring
    const Rect nameRow{x, y + scaled(2), a.right, y + scaled(26)};
    auto inkWidthOf = [&](HFONT font, const wchar_t* text) {
        Canvas probe(1, 1);
        return textWidth(probe.dc(), font, text);
    };

    withSteam(true);
    f.setPhase(Ready);
    const Rect connected = inkIn(*f.paint(), statusRow, greenText);
    f.setPhase(Running);
    const Rect inGame = inkIn(*f.paint(), statusRow, greenText);
    const int dot = scaled(14);  // the green dot before the words
    CHECK(std::abs(connected.width() - dot - inkWidthOf(gDisplay.fontSmall.get(), L"Connected with Steam")) <= 4);
    CHECK(std::abs(inGame.width() - dot - inkWidthOf(gDisplay.fontSmall.get(), L"In game")) <= 4);

    withSteam(false);
    auto noSteam = f.paint();
    CHECK(inkIn(*noSteam, statusRow, greenText).width() <= 0);
    const Rect words = inkIn(*noSteam, nameRow, [](uint32_t p) { return pixels::channel(p, 0) > 120; });
    CHECK(std::abs(words.left - x) <= 2);
    CHECK(std::abs(words.width() - inkWidthOf(gDisplay.fontSubtitle.get(), L"Steam not found")) <= 4);
}

TEST_CASE("without GDI+ the window still shows its texts on the base colour, not a black window") {
    PaintFixture f;
    setStatus(Ready, L"Up to date \u2022 version 15");
    auto whole = f.paint();
    releasePaintCache();
    gRefusePaintGraphics = true;
    auto plain = f.paint();
    gRefusePaintGraphics = false;
    releasePaintCache();
    CHECK(pixels::closeTo(plain->pixel(3, gLayout.clientHeight - 3), 0x16202C, 1));
    const Rect status = serverStatusBox(gLayout, 96);
    const Rect text = inkIn(*plain, status, [](uint32_t p) { return pixels::channel(p, 0) > 120; });
    CHECK(text.width() > scaled(60));  // the status line, drawn by plain GDI
    CHECK(inkIn(*whole, status, [](uint32_t p) { return pixels::channel(p, 0) > 120; }).left == text.left);
}

namespace {

int32_t lineHeight(HFONT font) {
    Canvas probe(1, 1);
    HGDIOBJ previous = ::SelectObject(probe.dc(), font);
    TEXTMETRICW tm{};
    ::GetTextMetricsW(probe.dc(), &tm);
    ::SelectObject(probe.dc(), previous);
    return tm.tmHeight;
}

void setNotes(const wchar_t* notes) {
    LockHolder hold(gStateLock);
    if (notes) gState.patchNotes = std::wstring(notes);
    else gState.patchNotes.reset();
}

int32_t notesHeight(const wchar_t* notes) {
    setNotes(notes);
    Canvas probe(1, 1);
    return layoutPatchNotes(probe.dc(), nullptr, 0, 0, 600, true);
}

}  // namespace

TEST_CASE("patch notes at 144 DPI: heading, blank line and bullets are spaced and indented exactly") {
    PaintFixture f;
    f.setSize(1560, 960, 144);
    const int32_t heading = lineHeight(gDisplay.fontHeading.get()), body = lineHeight(gDisplay.fontBody.get());
    CHECK(notesHeight(L"Patch 5\r\n\r\n* Faster loading\r\n* Fewer crashes") ==
          heading + 18 + 15 + 2 * (body + 9));  // S(12), S(10), S(6) at 144 DPI
    CHECK(notesHeight(L"\r\nPatch 5") == 15 + heading + 18);  // a blank line is never the heading
    CHECK(notesHeight(nullptr) == heading + 18);              // the placeholder is laid out as the heading
    CHECK(notesHeight(L"") == heading + 18);

    // The bullet's words start S(22) in, its dot before them.
    setNotes(L"Patch 5\r\n* Faster loading");
    Canvas c(700, 200);
    {
        GraphicsHandle g = createPaintGraphics(c.dc());
        ::SetBkMode(c.dc(), TRANSPARENT);
        layoutPatchNotes(c.dc(), g.get(), 10, 0, 600, false);
    }
    const Rect bulletRow{0, heading + 18, 700, heading + 18 + body};
    const Rect words = inkIn(c, bulletRow, [](uint32_t p) { return pixels::channel(p, 16) > 150; });
    const Rect dot = inkIn(c, bulletRow, [](uint32_t p) { return pixels::channel(p, 0) > 150 && pixels::channel(p, 16) < 120; });
    CHECK(words.left >= 10 + 33);
    CHECK(words.left <= 10 + 33 + 3);
    CHECK(dot.left >= 10);
    CHECK(dot.right <= 10 + 33);
}

TEST_CASE("the version pill shows only once the server gave a version") {
    PaintFixture f;
    const Rect& r = gLayout.notesRect;
    const int x = r.right - scaled(60), y = r.top + scaled(24);  // inside the pill, clear of its words
    const int empty = (r.left + r.right) / 2;                      // the same row, where nothing is drawn
    gState.serverVersion = 0;
    auto none = f.paint();
    CHECK(pixels::closeTo(none->pixel(x, y), none->pixel(empty, y), 2));
    gState.serverVersion = 15;
    auto pill = f.paint();
    CHECK(pixels::channel(pill->pixel(x, y), 0) > pixels::channel(pill->pixel(empty, y), 0) + 10);
}
