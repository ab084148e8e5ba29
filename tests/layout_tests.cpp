// Layout geometry and scaling, natively and under Wine.
#include <doctest/doctest.h>

#include "render/layout.h"
#include "render/image_cover.h"

namespace {

struct Expected {
    int w, h, dpi;
    Rect banner, actionBar, mainButton, notes, server;
};

void checkRect(const Rect& got, const Rect& want) {
    CHECK(got.left == want.left);
    CHECK(got.top == want.top);
    CHECK(got.right == want.right);
    CHECK(got.bottom == want.bottom);
}

}  // namespace

TEST_CASE("scaled lengths round halves away from zero, each constant on its own") {
    CHECK(scaledAt(18, 96) == 18);
    CHECK(scaledAt(2, 144) == 3);
    CHECK(scaledAt(5, 144) == 8);  // 7.5
    CHECK(scaledAt(900, 144) == 1350);
    CHECK(scaledAt(11, 120) == 14);  // 13.75
    CHECK(scaledAt(-5, 144) == -8);
    CHECK(scaledAt(5, 144) + scaledAt(5, 144) == 16);  // S(10) would be 15
}

TEST_CASE("the layout at the sizes players see") {
    // The sizes players see at 96 DPI, and one at 144 DPI worked by hand:
    // M 24, T 69, a = 10 * (1560 - 48) / 38 = 397, b = 960 - (69+18+126+18+267+24) = 438, h = 397.
    const Expected cases[] = {
        {1040, 640, 96, {16, 46, 1024, 311}, {16, 323, 1024, 407}, {34, 341, 230, 389}, {16, 419, 682, 624},
         {694, 419, 1024, 624}},
        {900, 560, 96, {16, 46, 884, 258}, {16, 270, 884, 354}, {34, 288, 230, 336}, {16, 366, 542, 544},
         {554, 366, 884, 544}},
        {1920, 1080, 96, {16, 46, 1904, 426}, {16, 438, 1904, 522}, {34, 456, 230, 504}, {16, 534, 1562, 1064},
         {1574, 534, 1904, 1064}},
        {1560, 960, 144, {24, 69, 1536, 466}, {24, 484, 1536, 610}, {51, 511, 345, 583}, {24, 628, 1023, 936},
         {1041, 628, 1536, 936}},
    };
    for (const Expected& e : cases) {
        CAPTURE(e.w);
        CAPTURE(e.dpi);
        WindowLayout l = layoutForClient(e.w, e.h, e.dpi);
        checkRect(l.bannerRect, e.banner);
        checkRect(l.actionBarRect, e.actionBar);
        checkRect(l.mainButtonRect, e.mainButton);
        checkRect(l.notesRect, e.notes);
        checkRect(l.serverRect, e.server);
    }
    WindowLayout l = layoutForClient(1040, 640, 96);
    checkRect(l.menuButtonRect, {920, 9, 954, 37});
    checkRect(l.minimizeButtonRect, {958, 9, 992, 37});
    checkRect(l.closeButtonRect, {996, 9, 1030, 37});
    checkRect(l.titleRect, {16, 9, 266, 37});
    CHECK(layoutForClient(900, 560, 96).notesRect.height() == 178);  // the minimum window keeps 178 px cards
}

TEST_CASE("the banner stays between its floor and its cap; the floor wins") {
    CHECK(layoutForClient(3000, 1400, 96).bannerRect.height() == 380);
    CHECK(layoutForClient(3000, 1400, 144).bannerRect.height() == 570);
    WindowLayout low = layoutForClient(1040, 400, 96);
    CHECK(low.bannerRect.height() == 170);
    CHECK(low.notesRect.height() == 400 - 16 - (46 + 170 + 12 + 84 + 12));  // the cards lose height
    CHECK(layoutForClient(300, 700, 96).bannerRect.height() == 170);      // narrow: a would be 70
}

TEST_CASE("hit-testing the three clickable items, edges half-open") {
    WindowLayout l = layoutForClient(1040, 640, 96);
    CHECK(hitTestItem(l, 34, 341) == MainButton);
    CHECK(hitTestItem(l, 229, 388) == MainButton);
    CHECK(hitTestItem(l, 230, 388) == None);
    CHECK(hitTestItem(l, 229, 389) == None);
    CHECK(hitTestItem(l, 958, 9) == MinimizeButton);
    CHECK(hitTestItem(l, 953, 36) == MenuButton);
    CHECK(hitTestItem(l, 994, 20) == None);  // the 4 px gap between the window buttons
    CHECK(hitTestItem(l, 1029, 36) == CloseButton);
    CHECK(hitTestItem(l, 500, 200) == None);
}

TEST_CASE("the cover crop keeps the aspect ratio and centres the overflow") {
    SourceWindow s;
    REQUIRE(coverSourceWindow(3400, 1000, 1000, 300, &s));
    CHECK(s.x == 33);
    CHECK(s.y == 0);
    CHECK(s.width == 3333);
    CHECK(s.height == 1000);
    REQUIRE(coverSourceWindow(640, 367, 1040, 640, &s));
    CHECK(s.x == 22);
    CHECK(s.width == 596);
    CHECK(s.height == 367);
    REQUIRE(coverSourceWindow(640, 367, 300, 900, &s));  // tall box: crop the sides
    CHECK(s.height == 367);
    CHECK(s.width == 122);
    CHECK(s.x == 259);
    CHECK_FALSE(coverSourceWindow(640, 367, 0, 100, &s));
    CHECK_FALSE(coverSourceWindow(0, 367, 100, 100, &s));
    CHECK_FALSE(coverSourceWindow(16384, 1, 1, 16384, &s));  // rounds to an empty source
}
