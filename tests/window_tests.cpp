// The real launcher window under Xvfb, driven with the messages a player's
// actions produce, and with real input where the behaviour is about it.
#include <doctest/doctest.h>

#include <windows.h>
#include <objbase.h>
#include <oleacc.h>

#include <string>

#include "render/display_win.h"
#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "app/window_win.h"
#include "render/images_win.h"
#include "render/canvas_win.h"
#include "render/paint_window_win.h"
#include "render/window_controls.h"
#include "steam/game_session.h"
#include "tests/support/fresh_picture.h"
#include "tests/support/pixels.h"
#include "tests/support/processes.h"
#include "tests/support/sandbox.h"

namespace {

int gPaints = 0;
WNDPROC gLauncherProc = nullptr;

// Counts paints on their way to the launcher's own window procedure.
LRESULT CALLBACK countingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) ++gPaints;
    return ::CallWindowProcW(gLauncherProc, window, message, wParam, lParam);
}

struct WindowFixture {
    HWND window = nullptr;
    int acts = 0;  // main button activations that asked the worker to go on

    WindowFixture() {
        freshPictureState();
        window = createMainWindow(::GetModuleHandleW(nullptr), SW_SHOWNORMAL);
        REQUIRE(window);
        gLauncherProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(countingProc)));
        pump(100);
    }
    ~WindowFixture() {
        ::DestroyWindow(window);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {}  // the quit message with the rest
        gState.mainWindow = nullptr;
        gDisplay.dpi = 96;
        createFonts();
    }
    // Runs the window's messages for `ms`, taking each request to go on as
    // the worker would.
    void pump(int ms) {
        const DWORD end = ::GetTickCount() + ms;
        do {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
                takeRequest();
            }
            takeRequest();
            ::Sleep(5);
        } while (static_cast<LONG>(end - ::GetTickCount()) > 0);
    }
    void takeRequest() {
        if (gState.retryRequested.exchange(0)) ++acts;
    }
    void setPhase(int phase) {
        setStatus(phase, L"");
        pump(60);
    }
    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam) { return ::SendMessageW(window, message, wParam, lParam); }
    LPARAM client(int x, int y) { return MAKELPARAM(x, y); }
    LPARAM screen(int x, int y) {
        POINT p{x, y};
        ::ClientToScreen(window, &p);
        return MAKELPARAM(p.x, p.y);
    }
    void click(const Rect& r) {
        const LPARAM at = client((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        send(WM_LBUTTONDOWN, MK_LBUTTON, at);
        send(WM_LBUTTONUP, 0, at);
    }
};

}  // namespace

TEST_CASE("where the window is grabbed: edges resize, title strip and banner drag, the rest is client") {
    WindowFixture f;
    const int w = gLayout.clientWidth, h = gLayout.clientHeight;
    struct Case {
        int x, y;
        LRESULT code;
    };
    const Case cases[] = {
        {0, 0, HTTOPLEFT},       {w - 1, 0, HTTOPRIGHT},         {0, h - 1, HTBOTTOMLEFT},
        {w - 1, h - 1, HTBOTTOMRIGHT}, {w / 2, 5, HTTOP},         {w / 2, h - 6, HTBOTTOM},
        {5, h / 2, HTLEFT},      {w - 6, h / 2, HTRIGHT},        {200, 20, HTCAPTION},
        {975, 20, HTCLIENT},     {1013, 20, HTCLIENT},           {500, 150, HTCAPTION},
        {100, 365, HTCLIENT},    {300, 500, HTCLIENT},           {w / 2, 6, HTCAPTION},
    };
    for (const Case& c : cases) {
        CAPTURE(c.x);
        CAPTURE(c.y);
        CHECK(f.send(WM_NCHITTEST, 0, f.screen(c.x, c.y)) == c.code);
    }
}

TEST_CASE("press and release: an item acts only when both are on it; the main button only when enabled") {
    WindowFixture f;
    const Rect close = gLayout.closeButtonRect, minimize = gLayout.minimizeButtonRect;
    f.send(WM_LBUTTONDOWN, MK_LBUTTON, f.client(close.left + 5, close.top + 5));
    CHECK(::GetCapture() == f.window);
    f.send(WM_LBUTTONUP, 0, f.client(minimize.left + 5, minimize.top + 5));
    f.pump(100);
    CHECK(::IsWindowVisible(f.window));
    CHECK_FALSE(::IsIconic(f.window));
    CHECK(::GetCapture() == nullptr);

    for (int phase : {Connecting, ServerError, Checking, UpdateReady, Downloading, LocalError, Waiting, Running}) {
        CAPTURE(phase);
        f.setPhase(phase);
        f.acts = 0;
        const Rect& b = gLayout.mainButtonRect;
        f.send(WM_LBUTTONDOWN, MK_LBUTTON, f.client(b.left + 10, b.top + 10));
        CHECK(::GetCapture() == f.window);  // captured in every phase
        f.send(WM_LBUTTONUP, 0, f.client(b.left + 10, b.top + 10));
        f.takeRequest();
        CHECK(f.acts == (phaseInfo(phase).clickable ? 1 : 0));
    }
}

TEST_CASE("a real double click on the main button acts twice") {
    WindowFixture f;
    f.setPhase(UpdateReady);
    ::SetForegroundWindow(f.window);
    const Rect& b = gLayout.mainButtonRect;
    POINT p{(b.left + b.right) / 2, (b.top + b.bottom) / 2};
    ::ClientToScreen(f.window, &p);
    ::SetCursorPos(p.x, p.y);
    f.pump(100);
    INPUT clicks[4] = {};
    for (int i = 0; i < 4; ++i) {
        clicks[i].type = INPUT_MOUSE;
        clicks[i].mi.dwFlags = i % 2 ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN;
    }
    f.acts = 0;
    REQUIRE(::SendInput(4, clicks, sizeof(INPUT)) == 4);
    f.pump(300);
    CHECK(f.acts == 2);
}

TEST_CASE("Space and Enter: the game in Ready, the update in UpdateReady, nothing elsewhere") {
    WindowFixture f;
    for (int phase : {Connecting, Checking, Downloading, Running, UpdateReady}) {
        CAPTURE(phase);
        f.setPhase(phase);
        f.acts = 0;
        for (WPARAM key : {WPARAM{VK_SPACE}, WPARAM{VK_RETURN}, WPARAM{'A'}}) {
            f.send(WM_KEYDOWN, key, 0);
            f.takeRequest();
        }
        CHECK(f.acts == (phase == UpdateReady ? 2 : 0));
    }

    // Ready: the stand-in game starts from the game folder once the stand-in Steam runs.
    sandbox::useFolders("window-keys");
    const std::wstring steam = std::wstring(gState.dataFolder) + L"\\Steam";
    procs::installFake(kSteamExe, steam);
    procs::installFake(kGameExe, gState.gameFolder);
    ::SetEnvironmentVariableW(L"TVL_FAKE_STAY_MS", L"60000");
    procs::startProcess(steam + L"\\" + kSteamExe);
    REQUIRE(procs::waitUntil([] { return procs::processRunning(kSteamExe); }, 5000));
    ::SetEnvironmentVariableW(L"TVL_FAKE_STAY_MS", L"1000");
    gWaitSeam.divisor = 10;
    f.setPhase(Ready);
    f.send(WM_KEYDOWN, VK_RETURN, 0);
    CHECK(procs::waitUntil([&] {
        f.pump(20);
        return gState.phase == Running;
    }));
    CHECK(procs::waitUntil([&] {
        f.pump(20);
        return gState.phase == Ready;
    }));
    gWaitSeam.divisor = 1;
    procs::killAll(kGameExe);
    procs::killAll(kSteamExe);
}

TEST_CASE("the wheel scrolls the notes only; the next paint pulls the scroll back into range") {
    WindowFixture f;
    const Rect& n = gLayout.notesRect;
    const LPARAM overNotes = f.screen(n.left + 50, n.top + 80);
    f.send(WM_MOUSEWHEEL, MAKEWPARAM(0, -120), overNotes);
    CHECK(gUi.notesScroll == 60);
    f.send(WM_MOUSEWHEEL, MAKEWPARAM(0, -40), overNotes);
    CHECK(gUi.notesScroll == 80);
    f.send(WM_MOUSEWHEEL, MAKEWPARAM(0, 40), overNotes);
    CHECK(gUi.notesScroll == 60);
    const Rect& s = gLayout.serverRect;
    f.send(WM_MOUSEWHEEL, MAKEWPARAM(0, -120), f.screen(s.left + 50, s.top + 80));
    CHECK(gUi.notesScroll == 60);
    ::UpdateWindow(f.window);  // "No patch notes yet." fits: the paint takes the scroll back to 0
    CHECK(gUi.notesScroll == 0);
}

TEST_CASE("state changes: a burst is one paint, no change no paint, wParam 1 brings the notes to the top") {
    WindowFixture f;
    {
        LockHolder hold(gStateLock);
        gState.patchNotes = L"Patch\n- one\n- two\n- three\n- four\n- five\n- six\n- seven\n- eight";  // longer than the view
    }
    f.setPhase(Ready);
    f.pump(200);
    gUi.notesScroll = 40;
    gPaints = 0;
    for (int i = 0; i < 20; ++i) ::PostMessageW(f.window, kMsgStateChanged, 0, 0);
    f.pump(300);
    CHECK(gPaints == 0);  // nothing the painters read changed
    gState.lobbiesOpen = 77;
    for (int i = 0; i < 20; ++i) ::PostMessageW(f.window, kMsgStateChanged, 0, 0);
    f.pump(300);
    CHECK(gPaints == 1);
    CHECK(gUi.notesScroll == 40);
    ::PostMessageW(f.window, kMsgStateChanged, 1, 0);
    f.pump(100);
    CHECK(gUi.notesScroll == 0);
}

TEST_CASE("timers: the speed is smoothed while downloading; the spinner turns only in busy phases") {
    WindowFixture f;
    f.setPhase(Downloading);
    gState.downloadSpeed = 0.0;
    gState.bytesAtLastTick = 0;
    gState.bytesFromNetwork = 100;
    f.send(WM_TIMER, SpeedTimer, 0);
    CHECK(gState.downloadSpeed == 100.0);
    gState.bytesFromNetwork = 300;
    gState.bytesDone = 500000000;  // copied from an installed file: no speed
    f.send(WM_TIMER, SpeedTimer, 0);
    CHECK(gState.downloadSpeed == doctest::Approx(130.0));
    gState.bytesFromNetwork = 200;  // fell: the counter was reset
    f.send(WM_TIMER, SpeedTimer, 0);
    CHECK(gState.downloadSpeed == 0.0);

    gUi.spinnerAngle = 90;
    f.send(WM_TIMER, AnimationTimer, 0);
    CHECK(gUi.spinnerAngle == 99.0f);
    f.setPhase(UpdateReady);
    f.send(WM_TIMER, AnimationTimer, 0);
    CHECK(gUi.spinnerAngle == 99.0f);
    gState.bytesDone = 400;
    f.send(WM_TIMER, SpeedTimer, 0);
    CHECK(gState.downloadSpeed == 0.0);
}

TEST_CASE("a DPI change moves the window to the suggested rectangle and rebuilds fonts and layout") {
    WindowFixture f;
    RECT suggested{60, 40, 60 + 1560, 40 + 960};
    f.send(WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RECT now{};
    ::GetWindowRect(f.window, &now);
    CHECK(now.left == 60);
    CHECK(now.top == 40);
    CHECK(now.right - now.left == 1560);
    CHECK(now.bottom - now.top == 960);
    CHECK(gDisplay.dpi == 144);
    LOGFONTW lf{};
    ::GetObjectW(gDisplay.fontButtonLarge.get(), sizeof lf, &lf);
    CHECK(lf.lfHeight == -30);
    CHECK(gLayout.bannerRect.right == layoutForClient(1560, 960, 144).bannerRect.right);
    CHECK(gLayout.mainButtonRect.bottom == layoutForClient(1560, 960, 144).mainButtonRect.bottom);
    MINMAXINFO info{};
    f.send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    CHECK(info.ptMinTrackSize.x == 1350);
    CHECK(info.ptMinTrackSize.y == 840);
}

namespace {

// The window's pixels as the screen shows them, against a full paint of the state now.
bool screenShowsFullPaint(HWND window) {
    Canvas shown(gLayout.clientWidth, gLayout.clientHeight), full(gLayout.clientWidth, gLayout.clientHeight);
    HDC screen = ::GetDC(window);
    ::BitBlt(shown.dc(), 0, 0, shown.width(), shown.height(), screen, 0, 0, SRCCOPY);
    ::ReleaseDC(window, screen);
    paintScene(full.dc(), Rect{0, 0, full.width(), full.height()});
    return pixels::samePixels(shown, full);
}

}  // namespace

TEST_CASE("the first frame comes from roughly scaled pictures; right after, the window shows the full paint") {
    WindowFixture f;  // created, shown and pumped: the first paint and its refinement are done
    CHECK_FALSE(picturesRough());
    CHECK(screenShowsFullPaint(f.window));

    // A new size scales the pictures anew: rough first, then refined again.
    gPaints = 0;
    ::SetWindowPos(f.window, nullptr, 0, 0, 1100, 700, SWP_NOMOVE | SWP_NOZORDER);
    f.pump(300);
    CHECK_FALSE(picturesRough());
    CHECK(gPaints >= 2);
}

TEST_CASE("spinner ticks draw straight to the screen, and it shows what a full paint would") {
    WindowFixture f;
    f.setPhase(Waiting);
    f.pump(200);
    gPaints = 0;
    for (int i = 0; i < 5; ++i) f.send(WM_TIMER, AnimationTimer, 0);
    f.pump(50);
    CHECK(gPaints == 0);  // no paint message for a tick
    CHECK(gUi.spinnerAngle != 0.0f);
    CHECK(screenShowsFullPaint(f.window));
}

namespace {

// Left of the main button, on the focus ring's line and inside the glow, as the screen shows it.
uint32_t ringPixel(HWND window) {
    const Rect& b = gLayout.mainButtonRect;
    Canvas shown(1, 1);
    HDC screen = ::GetDC(window);
    ::BitBlt(shown.dc(), 0, 0, 1, 1, screen, b.left - scaled(4), (b.top + b.bottom) / 2, SRCCOPY);
    ::ReleaseDC(window, screen);
    return shown.pixel(0, 0);
}

}  // namespace

TEST_CASE("keyboard focus shows on the main button once a key is used, only while focused and clickable") {
    WindowFixture f;
    f.setPhase(UpdateReady);
    f.send(WM_SETFOCUS, 0, 0);
    f.click(gLayout.bannerRect);  // a mouse user: no ring
    f.pump(60);
    const uint32_t plain = ringPixel(f.window);

    f.send(WM_KEYDOWN, VK_TAB, 0);
    f.pump(60);
    const uint32_t ringed = ringPixel(f.window);
    CHECK(pixels::channel(ringed, 0) > pixels::channel(plain, 0) + 60);  // white over the blue glow
    CHECK(screenShowsFullPaint(f.window));

    f.send(WM_KILLFOCUS, 0, 0);
    f.pump(60);
    CHECK(ringPixel(f.window) == plain);
    f.send(WM_SETFOCUS, 0, 0);
    f.setPhase(Downloading);  // not clickable: no focus to show
    CHECK(screenShowsFullPaint(f.window));
    f.setPhase(UpdateReady);
    CHECK(ringPixel(f.window) == ringed);
    f.send(WM_KEYDOWN, VK_ESCAPE, 0);
    f.takeRequest();
    CHECK(f.acts == 0);  // Escape does nothing
    CHECK(::IsWindowVisible(f.window));
}

TEST_CASE("a reader's object acts like a click, and answers CO_E_OBJNOTCONNECTED once the window is gone") {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IAccessible* a = nullptr;
    {
        WindowFixture f;
        const LRESULT r = f.send(WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
        REQUIRE(::ObjectFromLresult(r, __uuidof(IAccessible), 0, reinterpret_cast<void**>(&a)) == S_OK);
        VARIANT button;
        button.vt = VT_I4;
        button.lVal = 3;
        f.setPhase(Downloading);
        CHECK(a->accDoDefaultAction(button) == DISP_E_MEMBERNOTFOUND);
        f.setPhase(UpdateReady);
        f.acts = 0;
        CHECK(a->accDoDefaultAction(button) == S_OK);
        CHECK(f.acts == 0);  // acts once the reader's call has returned
        f.pump(60);
        CHECK(f.acts == 1);

        ::DestroyWindow(f.window);
        BSTR name = nullptr;
        CHECK(a->get_accName(button, &name) == CO_E_OBJNOTCONNECTED);
        CHECK(name == nullptr);
        long x = 0, y = 0, w = 0, h = 0;
        CHECK(a->accLocation(&x, &y, &w, &h, button) == CO_E_OBJNOTCONNECTED);
        CHECK(a->accDoDefaultAction(button) == CO_E_OBJNOTCONNECTED);
    }
    CHECK(a->Release() == 0);  // the reader's was the last reference
}

TEST_CASE("the hand shows only over an enabled main button, and hover clears when the pointer leaves") {
    WindowFixture f;
    const HCURSOR hand = ::LoadCursorW(nullptr, IDC_HAND);
    const Rect& b = gLayout.mainButtonRect;
    const LPARAM onClient = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
    f.setPhase(Ready);
    f.send(WM_MOUSEMOVE, 0, f.client(b.left + 10, b.top + 10));
    CHECK(gUi.hoverItem == MainButton);
    CHECK(f.send(WM_SETCURSOR, reinterpret_cast<WPARAM>(f.window), onClient) == TRUE);
    CHECK(::GetCursor() == hand);
    f.setPhase(Running);
    f.send(WM_SETCURSOR, reinterpret_cast<WPARAM>(f.window), onClient);
    CHECK(::GetCursor() != hand);
    f.setPhase(Ready);
    f.send(WM_MOUSELEAVE, 0, 0);
    CHECK(gUi.hoverItem == None);
    f.send(WM_SETCURSOR, reinterpret_cast<WPARAM>(f.window), onClient);
    CHECK(::GetCursor() != hand);
}

TEST_CASE("a window whose DPI differs from the screen's: fonts and layout follow the window, its size stays") {
    const int screen = gDisplay.dpi;  // the fixture's windows open at the screen's DPI
    UINT (*const original)(HWND) = gWindowDpi;
    gWindowDpi = [](HWND) -> UINT { return 144; };
    {
        WindowFixture f;
        RECT outer{};
        ::GetWindowRect(f.window, &outer);
        CHECK(outer.right - outer.left == scaledAt(1040, screen));
        CHECK(outer.bottom - outer.top == scaledAt(640, screen));
        CHECK(gDisplay.dpi == 144);
        LOGFONTW lf{};
        ::GetObjectW(gDisplay.fontButtonLarge.get(), sizeof lf, &lf);
        CHECK(lf.lfHeight == -scaledAt(20, 144));
        const WindowLayout expected = layoutForClient(outer.right - outer.left, outer.bottom - outer.top, 144);
        CHECK(gLayout.mainButtonRect.right == expected.mainButtonRect.right);
        CHECK(gLayout.notesRect.bottom == expected.notesRect.bottom);
    }
    gWindowDpi = original;
}

TEST_CASE("the menu: its items in the system menu, greyed by phase; a chosen item reaches the worker or the settings") {
    WindowFixture f;
    sandbox::useFolders("window-menu");
    HMENU system = ::GetSystemMenu(f.window, FALSE);
    REQUIRE(system);
    auto greyed = [&](UINT id) { return (::GetMenuState(system, id, MF_BYCOMMAND) & MF_GRAYED) != 0; };
    struct Case {
        int phase;
        int running;
        bool verify, limit;
    };
    for (const Case& c : {Case{Ready, 0, true, true}, Case{Downloading, 0, false, true}, Case{Ready, 1, false, false}}) {
        CAPTURE(c.phase);
        CAPTURE(c.running);
        f.setPhase(c.phase);
        gState.gameRunning = c.running;
        f.send(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(system), MAKELPARAM(0, TRUE));
        CHECK(greyed(kMenuVerify) == !c.verify);
        CHECK(greyed(kMenuUninstall) == !c.verify);
        CHECK(greyed(speedLimitCommand(5)) == false);  // the submenu's own item greys the whole submenu
        CHECK(greyed(kMenuLimitFirst - 16) == !c.limit);
        CHECK_FALSE(greyed(kMenuOpenFolder));
        CHECK_FALSE(greyed(kMenuOpenLog));
        CHECK(greyed(kMenuPlayOffline));  // only where the server is at fault
    }
    // In ServerError with no release ever accepted here: still greyed.
    f.setPhase(ServerError);
    f.send(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(system), MAKELPARAM(0, TRUE));
    CHECK(greyed(kMenuPlayOffline));
    gState.gameRunning = 0;
    f.setPhase(Downloading);
    f.send(WM_SYSCOMMAND, kMenuVerify, 0);
    CHECK(gState.playerCommand == kNoCommand);  // greyed now, whatever the menu showed when it opened
    f.send(WM_SYSCOMMAND, speedLimitCommand(5), 0);
    CHECK(gState.speedLimit == 5 * kBytesPerMB);
    CHECK(sandbox::readFile(std::wstring(gState.dataFolder) + L"\\settings.txt") == "speed_limit=5\n");
    f.send(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(system), MAKELPARAM(0, TRUE));
    CHECK((::GetMenuState(system, speedLimitCommand(5), MF_BYCOMMAND) & MF_CHECKED) != 0);
    CHECK((::GetMenuState(system, speedLimitCommand(0), MF_BYCOMMAND) & MF_CHECKED) == 0);
    f.setPhase(Ready);
    f.send(WM_SYSCOMMAND, kMenuVerify | 0x0004, 0);  // the system keeps the low four bits for itself
    CHECK(gState.playerCommand == kCommandVerify);
    gState.playerCommand = kNoCommand;
    gState.speedLimit = 0;
}
