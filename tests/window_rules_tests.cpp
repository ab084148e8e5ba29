// The window's rules, natively and under Wine.
#include <doctest/doctest.h>

#include "app/window_rules.h"
#include "core/launcher_phase.h"
#include "render/window_controls.h"

TEST_CASE("grabbing the frame: edges and corners resize, title strip and banner drag") {
    const WindowLayout l = layoutForClient(1040, 640, 96);
    CHECK(frameHitTest(l, 0, 0, 96) == FrameHit::TopLeft);
    CHECK(frameHitTest(l, 5, 5, 96) == FrameHit::TopLeft);
    CHECK(frameHitTest(l, 1039, 0, 96) == FrameHit::TopRight);
    CHECK(frameHitTest(l, 1034, 5, 96) == FrameHit::TopRight);
    CHECK(frameHitTest(l, 0, 639, 96) == FrameHit::BottomLeft);
    CHECK(frameHitTest(l, 1039, 639, 96) == FrameHit::BottomRight);
    CHECK(frameHitTest(l, 500, 5, 96) == FrameHit::Top);
    CHECK(frameHitTest(l, 500, 634, 96) == FrameHit::Bottom);
    CHECK(frameHitTest(l, 5, 300, 96) == FrameHit::Left);
    CHECK(frameHitTest(l, 1034, 300, 96) == FrameHit::Right);
    CHECK(frameHitTest(l, 6, 6, 96) == FrameHit::Caption);      // just inside the sizing border
    CHECK(frameHitTest(l, 100, 20, 96) == FrameHit::Caption);   // the title pill drags too
    CHECK(frameHitTest(l, 970, 20, 96) == FrameHit::Client);    // minimise button
    CHECK(frameHitTest(l, 1010, 20, 96) == FrameHit::Client);   // close button
    CHECK(frameHitTest(l, 994, 20, 96) == FrameHit::Caption);   // the gap between them
    CHECK(frameHitTest(l, 930, 20, 96) == FrameHit::Client);    // the menu button
    CHECK(frameHitTest(l, 955, 20, 96) == FrameHit::Caption);   // between it and minimise
    CHECK(frameHitTest(l, 500, 200, 96) == FrameHit::Caption);  // the banner
    CHECK(frameHitTest(l, 500, 315, 96) == FrameHit::Client);   // between banner and bar
    CHECK(frameHitTest(l, 100, 360, 96) == FrameHit::Client);   // the main button
    const WindowLayout big = layoutForClient(1560, 960, 144);
    CHECK(frameHitTest(big, 8, 300, 144) == FrameHit::Left);  // E = S(6) = 9
    CHECK(frameHitTest(big, 9, 300, 144) == FrameHit::Client);
}

TEST_CASE("the window opens centred in the work area, never larger than it") {
    WindowPlacement p = initialPlacement(96, Rect{0, 0, 1920, 1040});
    CHECK(p.width == 1040);
    CHECK(p.height == 640);
    CHECK(p.x == 440);
    CHECK(p.y == 200);
    p = initialPlacement(144, Rect{0, 0, 1280, 720});
    CHECK(p.width == 1280);
    CHECK(p.height == 720);
    CHECK(p.x == 0);
    CHECK(p.y == 0);
    p = initialPlacement(96, Rect{-1280, 100, 0, 1124});  // a work area left of the primary origin
    CHECK(p.x == -1280 + 120);
    CHECK(p.y == 100 + 192);
}

TEST_CASE("wheel, speed and spinner") {
    CHECK(wheelScrolled(0, -120, 96) == 60);
    CHECK(wheelScrolled(60, 120, 96) == 0);
    CHECK(wheelScrolled(0, -40, 96) == 20);
    CHECK(wheelScrolled(0, 40, 96) == -20);
    CHECK(wheelScrolled(0, -120, 144) == 90);
    CHECK(wheelScrolled(INT32_MAX, -120, 96) == INT32_MAX);
    double speed = smoothedSpeed(0.0, 100, true);
    CHECK(speed == 100.0);
    speed = smoothedSpeed(speed, 200, true);
    CHECK(speed == doctest::Approx(130.0));
    CHECK(smoothedSpeed(speed, 200, false) == 0.0);
    CHECK(smoothedSpeed(speed, -5, true) == 0.0);
    CHECK(advancedSpinner(0.0f) == 9.0f);
    CHECK(advancedSpinner(351.0f) == 0.0f);
    CHECK(advancedSpinner(355.0f) == 4.0f);
}

TEST_CASE("the menu acts only where it can: idle phases for the game's files, the folder always") {
    // verify, move and uninstall; the speed limit; the folder
    struct Case {
        int32_t phase;
        bool running, files, limit;
    };
    const Case cases[] = {
        {Ready, false, true, true},         {UpdateReady, false, true, true},   {LocalError, false, true, true},
        {Connecting, false, false, true},   {ServerError, false, false, true},  {Checking, false, false, true},
        {Downloading, false, false, true},  {Waiting, false, false, false},     {Running, false, false, false},
        {Ready, true, false, false},        {42, false, false, true},
    };
    for (const Case& c : cases) {
        CAPTURE(c.phase);
        CAPTURE(c.running);
        for (uint32_t command : {kMenuVerify, kMenuMove, kMenuUninstall})
            CHECK(menuItemEnabled(command, c.phase, c.running) == c.files);
        CHECK(menuItemEnabled(speedLimitCommand(25), c.phase, c.running) == c.limit);
        CHECK(menuItemEnabled(kMenuOpenFolder, c.phase, c.running));
        CHECK(menuItemEnabled(kMenuOpenLog, c.phase, c.running));
    }
    for (int32_t mbps : kSpeedLimitChoices) CHECK(speedLimitOfCommand(speedLimitCommand(mbps)) == mbps);
    CHECK(speedLimitCommand(3) == kMenuNone);  // not offered
    const uint32_t others[] = {kMenuNone, kMenuVerify, kMenuLimitFirst + 8, kMenuLimitFirst + 16 * 7, 0xF060};
    for (uint32_t other : others)
        CHECK(speedLimitOfCommand(other) == -1);
    CHECK(speedLimitLabel(0) == L"No limit");
    CHECK(speedLimitLabel(25) == L"25 MB/s");
}

TEST_CASE("Play offline: only where the server is at fault, no game runs and the files are fit") {
    CHECK(playOfflineEnabled(ServerError, false, false, true));
    CHECK(playOfflineEnabled(LocalError, true, false, true));     // a download the server broke off
    CHECK_FALSE(playOfflineEnabled(LocalError, false, false, true));  // the files' own trouble: no disk space
    CHECK_FALSE(playOfflineEnabled(ServerError, false, false, false));
    CHECK_FALSE(playOfflineEnabled(ServerError, false, true, true));
    for (int32_t phase : {Connecting, Checking, UpdateReady, Downloading, Ready, Waiting, Running})
        CHECK_FALSE(playOfflineEnabled(phase, true, false, true));
    CHECK_FALSE(menuItemEnabled(kMenuPlayOffline, ServerError, false));  // never by the general rule
}
