#include "render/repaint_plan.h"

#include "core/launcher_phase.h"

bool showsProgress(int32_t phase, int64_t bytesDone) {
    return phase == Downloading || (phase == UpdateReady && bytesDone > 0);
}

uint32_t repaintScope(const PaintInputs& shown, const PaintInputs& now) {
    if (!shown.valid || !now.valid) return kRepaintAll;
    const bool progress = showsProgress(now.phase, now.bytesDone);
    if (shown.phase != now.phase || progress != showsProgress(shown.phase, shown.bytesDone) ||
        shown.gameInstalled != now.gameInstalled || shown.serverOnline != now.serverOnline ||
        shown.lobbies != now.lobbies || shown.players != now.players || shown.serverVersion != now.serverVersion ||
        shown.bannerSerial != now.bannerSerial || shown.banner != now.banner || shown.avatar != now.avatar ||
        shown.background != now.background || shown.logo != now.logo || shown.steam != now.steam)
        return kRepaintAll;
    uint32_t scope = kRepaintNothing;
    const bool counters = shown.bytesDone != now.bytesDone || shown.bytesTotal != now.bytesTotal ||
                          shown.downloadSpeed != now.downloadSpeed;
    if (progress && counters) scope |= kRepaintProgress;
    if (shown.status != now.status) {
        scope |= kRepaintStatus;
        if (progress) scope |= kRepaintProgress;  // the status line sits above the track
    }
    return scope;
}

std::vector<Rect> repaintAreas(uint32_t scope, const WindowLayout& layout, int32_t dpi) {
    std::vector<Rect> areas;
    if (scope & kRepaintProgress) areas.push_back(progressArea(layout, dpi));
    if (scope & kRepaintStatus) areas.push_back(serverStatusBox(layout, dpi));
    return areas;
}

Rect itemArea(const WindowLayout& layout, int32_t item, int32_t dpi) {
    const Rect none{};
    const Rect& r = item == MainButton       ? layout.mainButtonRect
                    : item == MinimizeButton ? layout.minimizeButtonRect
                    : item == CloseButton    ? layout.closeButtonRect
                    : item == MenuButton     ? layout.menuButtonRect
                                             : none;
    const int32_t grow = scaledAt(item == MainButton ? 12 : 2, dpi);  // the button's glow reaches S(12)
    if (r.width() <= 0) return none;
    return Rect{r.left - grow, r.top - grow, r.right + grow, r.bottom + grow};
}
