// What a screen reader is told, for the states a player meets.
#include <doctest/doctest.h>

#include "core/launcher_phase.h"
#include "render/accessible_model.h"

namespace {

PaintInputs inputs(int32_t phase, int32_t online, int32_t lobbies, int32_t players) {
    PaintInputs in;
    in.valid = true;
    in.phase = phase;
    in.serverOnline = online;
    in.lobbies = lobbies;
    in.players = players;
    return in;
}

std::wstring serverText(const PaintInputs& in) {
    return accessibleElement(kAccessibleServer, in, {}, layoutForClient(1040, 640, 96), 96).name;
}

}  // namespace

TEST_CASE("the server state reads as the card shows it: an erring server is offline, unknown counts say so") {
    CHECK(serverText(inputs(Ready, 1, 3, 12)) == L"Server: Online. Lobbies open: 3. In matches: 12.");
    CHECK(serverText(inputs(ServerError, 1, 3, 12)) == L"Server: Offline. Lobbies open: 3. In matches: 12.");
    CHECK(serverText(inputs(Connecting, 0, -1, -1)) == L"Server: Connecting. Lobbies open: unknown. In matches: unknown.");
    CHECK(serverText(inputs(Ready, 1, 0, 0)) == L"Server: Online. Lobbies open: 0. In matches: 0.");
}

TEST_CASE("progress: read and hit only while it shows; its percentage told only while it shows") {
    const WindowLayout layout = layoutForClient(1040, 640, 96);
    const Rect area = progressArea(layout, 96);
    PaintInputs in = inputs(Downloading, 1, 3, 12);
    in.bytesTotal = 1000;
    in.bytesDone = 396;
    const AccessibleElement shown = accessibleElement(kAccessibleProgress, in, {}, layout, 96);
    CHECK(shown.value == L"39 %");
    CHECK((shown.state & kAccessibleInvisible) == 0);
    CHECK(accessibleHitTest(in, layout, 96, area.left + 5, area.top + 5) == kAccessibleProgress);
    CHECK(accessibleElement(kAccessibleMainButton, in, {}, layout, 96).state == kAccessibleUnavailable);

    PaintInputs ready = in;
    ready.phase = Ready;
    CHECK((accessibleElement(kAccessibleProgress, ready, {}, layout, 96).state & kAccessibleInvisible) != 0);
    CHECK(accessibleHitTest(ready, layout, 96, area.left + 5, area.top + 5) == kAccessibleSelf);
    CHECK(accessibleHitTest(ready, layout, 96, -1, 5) == -1);

    const uint32_t toReady = accessibleEvents(accessibleAnnounced(in), accessibleAnnounced(ready));
    CHECK(toReady == (kAnnounceLabel | kAnnounceAvailable | kAnnounceProgressShown));
    PaintInputs further = in;
    further.bytesDone = 500;
    CHECK(accessibleEvents(accessibleAnnounced(in), accessibleAnnounced(further)) == kAnnouncePercent);
    further.bytesDone = 509;  // the same whole percent: nothing to tell
    PaintInputs at50 = in;
    at50.bytesDone = 500;
    CHECK(accessibleEvents(accessibleAnnounced(at50), accessibleAnnounced(further)) == 0);
}
