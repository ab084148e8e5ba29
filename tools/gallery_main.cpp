// TVLGallery: paints the launcher's window into PNGs, one per phase and a
// few sizes and DPIs, with the real painter and the real built-in pictures.
//
//   TVLGallery.exe OUT_FOLDER AVATAR_PNG
//
// The shared state of each picture is set here by hand, as the worker, the
// window and the Steam reader would leave it.
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "render/display_win.h"
#include "core/launcher_state.h"
#include "render/canvas_win.h"
#include "render/images_win.h"
#include "render/paint_window_win.h"
#include "steam/steam_stats.h"

namespace {

constexpr wchar_t kNotes[] =
    L"Patch 1.4 \u2014 The Ember Tides\n"
    L"The harbour district of Tervalon opens with this update, together with a new ranked season.\n"
    L"\n"
    L"- New map: Ember Harbour, a 5 v 5 arena on the flooded docks\n"
    L"- Ranked season 3 starts with fresh placement matches\n"
    L"- Matchmaking finds a lobby up to 40% faster at night\n"
    L"- Fixed a crash when a player left during the loading screen\n"
    L"* Bows draw 10% faster; crossbows reload 5% slower\n"
    L"\n"
    L"Thanks for playing, and see you on the docks!\n"
    L"- Known issue: the replay viewer may show the old map list\n"
    L"- Known issue: controller vibration stays on after a match\n"
    L"- Reworked: the spectator camera follows the ball carrier\n"
    L"- Reworked: guild banners load in the background\n";

struct Picture {
    const wchar_t* name;
    std::function<void()> set;
};

ImageHandle gAvatar;

void online(int version) {
    gState.serverOnline = 1;
    gState.serverVersion = version;
    gState.lobbiesOpen = 14;
    gState.playersInMatches = 212;
    LockHolder hold(gStateLock);
    gState.patchNotes = kNotes;
}

void status(int phase, const wchar_t* text) {
    LockHolder hold(gStateLock);
    gState.phase = phase;
    std::wcsncpy(gState.statusText, text, kStatusTextUnits - 1);
}

void withSteam() {
    SteamStats s{};
    s.valid = 1;
    std::wcscpy(s.personaName, L"Ashwyn of Tervalon");
    s.playtimeMinutes = 74090;
    s.lastPlayed = ::_time64(nullptr) - 26 * 3600;
    publishSteamStats(s);
    unsigned w, h;
    if (imageSize(gAvatar, &w, &h)) {
        LockHolder hold(gImageLock);
        gState.avatarImage.reset();
        std::swap(gState.avatarImage, gAvatar);
    }
}

const Picture kPictures[] = {
    {L"connecting", [] {}},
    {L"server-error",
     [] {
         gState.serverOnline = 1;  // the last answer was fine, but not this one
         status(ServerError, L"Can't reach the server. Check your internet connection, then press Retry.");
     }},
    {L"not-signed",
     [] {
         online(15);
         gState.gameInstalled = 1;
         status(ServerError, L"The server offers version 14, older than the installed version 15, so it was refused. "
                             L"Retrying automatically...");
     }},
    {L"key-malformed",
     [] {
         online(15);
         status(LocalError, L"The manifest_key in TVLLauncher.ini is not a valid key, so no update can be trusted. "
                            L"Fix it, then restart.");
     }},
    {L"checking",
     [] {
         online(14);
         status(Checking, L"Checking game files... 62%");
         gUi.spinnerAngle = 117;
     }},
    {L"verifying",
     [] {
         online(15);
         status(Checking, L"Verifying game files \u2022 1,204 of 2,000");
         gUi.spinnerAngle = 200;
     }},
    {L"install",
     [] {
         online(14);
         status(UpdateReady, L"Ready to install \u2022 version 14 \u2022 1,284 file(s), 18.42 GB");
     }},
    {L"update",
     [] {
         online(15);
         gState.gameInstalled = 1;
         status(UpdateReady, L"Update available \u2022 version 15 \u2022 37 file(s), 812.4 MB");
         withSteam();
     }},
    {L"downloading",
     [] {
         online(15);
         gState.gameInstalled = 1;
         gState.bytesTotal = 851853312;
         gState.bytesDone = 340741324;
         gState.downloadSpeed = 12.6 * 1048576;
         status(Downloading, L"Downloading TervalonGame-WindowsNoEditor_3.pak");
         gUi.spinnerAngle = 243;
         withSteam();
     }},
    {L"ready",
     [] {
         online(15);
         gState.gameInstalled = 1;
         status(Ready, L"Up to date \u2022 version 15");
         withSteam();
     }},
    {L"ready-hover",
     [] {
         online(15);
         gState.gameInstalled = 1;
         status(Ready, L"Up to date \u2022 version 15");
         gUi.hoverItem = MainButton;
         withSteam();
     }},
    {L"ready-keyboard",
     [] {
         online(15);
         gState.gameInstalled = 1;
         status(Ready, L"Up to date \u2022 version 15");
         gUi.keyboardCues = gUi.focused = true;
         withSteam();
     }},
    {L"ready-no-steam",
     [] {
         online(15);
         gState.gameInstalled = 1;
         status(Ready, L"Up to date \u2022 version 15");
     }},
    {L"running",
     [] {
         online(15);
         gState.gameInstalled = 1;
         status(Running, L"Tervalon is running. Have fun!");
         withSteam();
     }},
    {L"local-error",
     [] {
         online(15);
         status(LocalError, L"Not enough disk space: 18.9 GB free space needed. Free some space and press Retry.");
         gUi.hoverItem = CloseButton;
     }},
    {L"waiting",
     [] {
         online(15);
         status(Waiting, L"The server is preparing the game files (the first start after an update can take a few "
                         L"minutes). Retrying automatically...");
         gUi.spinnerAngle = 45;
     }},
    {L"notes-scrolled",
     [] {
         online(15);
         gState.gameInstalled = 1;
         status(Ready, L"Up to date \u2022 version 15");
         withSteam();
         gUi.notesScroll = 1000000;  // clamped to the end by the paint, then halved below
     }},
};

struct Size {
    int width, height, dpi;
    const wchar_t* suffix;
    bool everyPicture;
};

const Size kSizes[] = {
    {1040, 640, 96, L"", true},
    {1560, 960, 144, L"-144dpi", false},
    {1350, 840, 144, L"-144dpi-smallest", false},
    {900, 560, 96, L"-900x560", false},
    {1920, 1080, 96, L"-1920x1080", false},
};

bool paintOne(const Picture& picture, const Size& size, const std::wstring& folder) {
    resetLauncherState();
    gUi = {};
    {
        LockHolder hold(gImageLock);
        loadBuiltInImages();
    }
    picture.set();
    gDisplay.dpi = size.dpi;
    createFonts();
    gLayout = layoutForClient(size.width, size.height, size.dpi);
    Canvas canvas(size.width, size.height);
    const Rect all{0, 0, size.width, size.height};
    paintScene(canvas.dc(), all);
    if (std::wstring(picture.name) == L"notes-scrolled") {  // half-way down the longest scroll
        gUi.notesScroll /= 2;
        paintScene(canvas.dc(), all);
    }
    std::wstring path = folder + L"\\" + picture.name + size.suffix + L".png";
    bool saved = canvas.savePng(path.c_str());
    std::printf("%ls %ls\n", saved ? L"wrote" : L"FAILED", path.c_str());
    return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: TVLGallery OUT_FOLDER AVATAR_PNG\n");
        return 2;
    }
    startGdiplus();
    ::CreateDirectoryW(argv[1], nullptr);
    ByteBuffer avatar = readWholeFile(argv[2]);
    bool ok = true;
    for (const Size& size : kSizes)
        for (const Picture& picture : kPictures) {
            bool wanted = size.everyPicture || std::wstring(picture.name) == L"ready" ||
                          std::wstring(picture.name) == L"downloading" || std::wstring(picture.name) == L"server-error" ||
                          std::wstring(picture.name) == L"ready-keyboard";
            if (!wanted) continue;
            gAvatar = avatar ? decodeImage(avatar.data, avatar.size) : ImageHandle();
            ok = paintOne(picture, size, argv[1]) && ok;
        }
    return ok ? 0 : 1;
}
