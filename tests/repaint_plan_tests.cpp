// Which changes of the shared state repaint what. The pixel tests in
// paint_tests.cpp hold the areas against the real painter.
#include <doctest/doctest.h>

#include "core/launcher_phase.h"
#include "render/repaint_plan.h"

namespace {

PaintInputs downloading() {
    PaintInputs in;
    in.valid = true;
    in.phase = Downloading;
    in.status = L"Downloading a.pak";
    in.bytesDone = 1000;
    in.bytesTotal = 5000;
    in.steam = "stats";
    return in;
}

}  // namespace

TEST_CASE("progress notices repaint the progress area; a new status line its box too") {
    const PaintInputs shown = downloading();
    PaintInputs now = shown;
    CHECK(repaintScope(shown, now) == kRepaintNothing);
    now.bytesDone = 2000;
    CHECK(repaintScope(shown, now) == kRepaintProgress);
    now.downloadSpeed = 3.5;
    CHECK(repaintScope(shown, now) == kRepaintProgress);
    now.status = L"Downloading b.pak";
    CHECK(repaintScope(shown, now) == (kRepaintProgress | kRepaintStatus));

    PaintInputs checking = shown, checked = shown;
    checking.phase = checked.phase = Checking;
    checked.status = L"Checking game files... 40%";
    checked.bytesDone = 0;  // not shown while checking
    CHECK(repaintScope(checking, checked) == kRepaintStatus);
}

TEST_CASE("everything else repaints the whole window") {
    const PaintInputs shown = downloading();
    auto changed = [&](auto change) {
        PaintInputs now = shown;
        change(now);
        return repaintScope(shown, now);
    };
    CHECK(changed([](PaintInputs& n) { n.phase = Ready; }) == kRepaintAll);
    CHECK(changed([](PaintInputs& n) { n.lobbies = 4; }) == kRepaintAll);
    CHECK(changed([](PaintInputs& n) { n.serverOnline = 1; }) == kRepaintAll);
    CHECK(changed([](PaintInputs& n) { n.steam = "other"; }) == kRepaintAll);
    CHECK(changed([](PaintInputs& n) { n.bannerSerial = 2; }) == kRepaintAll);
    CHECK(changed([](PaintInputs& n) { n.avatar = 7; }) == kRepaintAll);
    CHECK(changed([](PaintInputs& n) { n.valid = false; }) == kRepaintAll);
    CHECK(repaintScope(PaintInputs{}, shown) == kRepaintAll);  // nothing painted yet

    // UpdateReady shows progress once bytes arrived: the statistics give way.
    PaintInputs offered = shown, resumed = shown;
    offered.phase = resumed.phase = UpdateReady;
    offered.bytesDone = 0;
    CHECK(repaintScope(offered, resumed) == kRepaintAll);
}
