// Paint cost of the window under the real GDI and GDI+, as shares of the
// 30 ms animation frame. The baseline in the same run is the straightforward
// frame's image work: each picture cover-drawn with bicubic scaling at its
// size and the full-window tint, which the painter's scaled copies replace.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>
#include <functional>

#include "render/display_win.h"
#include "core/launcher_state.h"
#include "app/window_rules.h"
#include "render/canvas_win.h"
#include "render/draw_win.h"
#include "render/images_win.h"
#include "render/paint_window_win.h"

namespace {

constexpr double kFrameMs = 30.0;

double nowMs() {
    LARGE_INTEGER t, f;
    ::QueryPerformanceCounter(&t);
    ::QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// The median of `runs` timings, after one untimed run.
double medianMs(int runs, const std::function<void()>& work) {
    work();
    double times[64];
    for (int i = 0; i < runs; ++i) {
        double t0 = nowMs();
        work();
        ::GdiFlush();
        times[i] = nowMs() - t0;
    }
    std::sort(times, times + runs);
    return times[runs / 2];
}

void setPhase(int phase) {
    LockHolder hold(gStateLock);
    gState.phase = phase;
    if (phase == Downloading) {
        gState.bytesTotal = 851853312;
        gState.bytesDone = 340741324;
        gState.downloadSpeed = 12.6 * 1048576;
        std::wcscpy(gState.statusText, L"Downloading TervalonGame-WindowsNoEditor_3.pak");
    }
}

void report(const char* what, double ms) { std::printf("  %-44s %7.2f ms  %5.1f %% of a frame\n", what, ms, 100 * ms / kFrameMs); }

void measure(int width, int height, int dpi, int runs) {
    gDisplay.dpi = dpi;
    createFonts();
    gLayout = layoutForClient(width, height, dpi);
    releasePaintCache();
    Canvas canvas(width, height);
    const Rect all{0, 0, width, height};
    std::printf("%d x %d at %d DPI\n", width, height, dpi);

    setPhase(Ready);
    const double t0 = nowMs();
    paintScene(canvas.dc(), all);
    report("first frame (makes the scaled copies)", nowMs() - t0);
    report("full frame, Ready", medianMs(runs, [&] { paintScene(canvas.dc(), all); }));
    setPhase(Downloading);
    report("full frame, Downloading", medianMs(runs, [&] { paintScene(canvas.dc(), all); }));
    const Rect tick = spinnerTickArea(gLayout, gUi, dpi);  // as the last full frame placed the spinner
    const Rect progress = progressArea(gLayout, dpi);
    report("progress notice (progress area)", medianMs(runs, [&] {
               gState.bytesDone += 65536;
               paintScene(canvas.dc(), progress);
           }));
    report("spinner tick (the spinner's box)", medianMs(runs, [&] {
               gUi.spinnerAngle = gUi.spinnerAngle >= 351 ? 0 : gUi.spinnerAngle + 9;
               paintScene(canvas.dc(), tick);
           }));

    // Baseline: the same pictures drawn the straightforward way, every frame.
    GraphicsHandle g = createPaintGraphics(canvas.dc());
    const Rect& banner = gLayout.bannerRect;
    const double background = medianMs(runs, [&] { drawImageCover(g.get(), gState.backgroundImage, 0, 0, width, height); });
    const double bannerDraw = medianMs(runs, [&] {
        drawImageCover(g.get(), gState.bannerImage, banner.left, banner.top, banner.width(), banner.height());
    });
    const double tint = medianMs(runs, [&] { fillRectVertical(g.get(), 0, 0, width, height, -1, height + 1, 0x460E1620, 0xB4101822); });
    report("baseline: background cover draw", background);
    report("baseline: banner cover draw", bannerDraw);
    report("baseline: full-window tint", tint);
    report("baseline: the three together", background + bannerDraw + tint);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? std::min(64, std::max(3, _wtoi(argv[1]))) : 15;
    startGdiplus();
    loadBuiltInImages();
    measure(1040, 640, 96, runs);
    measure(1920, 1080, 144, runs);
    return 0;
}
