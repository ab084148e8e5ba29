#include "app/window_win.h"

#include <dwmapi.h>
#include <windowsx.h>

#include "render/display_win.h"
#include "core/launcher_state.h"
#include "app/window_accessible_win.h"
#include "app/window_menu_win.h"
#include "app/window_rules.h"
#include "render/accessible_model.h"
#include "render/paint_window_win.h"
#include "render/window_controls.h"
#include "resources/resource_ids.h"
#include "steam/game_session.h"

namespace {

void invalidateAll(HWND window) { ::InvalidateRect(window, nullptr, FALSE); }

void invalidateArea(HWND window, const Rect& area) {
    const RECT r{area.left, area.top, area.right, area.bottom};
    ::InvalidateRect(window, &r, FALSE);
}

// What the painters read as of the last state-change repaint.
PaintInputs gShown;
bool gNotesReplaced = false;

// Repaints only what the state changes since the last time reach: a
// download's progress notices touch the progress area alone.
void invalidateChanges(HWND window) {
    PaintInputs now = capturePaintInputs();
    const uint32_t scope = gNotesReplaced ? kRepaintAll : repaintScope(gShown, now);
    gNotesReplaced = false;
    announceChanges(window, now);
    if (scope & kRepaintAll) invalidateAll(window);
    else
        for (const Rect& area : repaintAreas(scope, gLayout, gDisplay.dpi)) invalidateArea(window, area);
    gShown = std::move(now);
}

// A hover or press moved from one item to another: those two repaint.
void invalidateItems(HWND window, int32_t before, int32_t after) {
    for (int32_t item : {before, after})
        if (item != None) invalidateArea(window, itemArea(gLayout, item, gDisplay.dpi));
}

POINT clientPoint(HWND window, LPARAM lParam) {
    POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::ScreenToClient(window, &p);
    return p;
}

LRESULT hitCode(FrameHit hit) {
    switch (hit) {
        case FrameHit::Caption: return HTCAPTION;
        case FrameHit::Left: return HTLEFT;
        case FrameHit::Right: return HTRIGHT;
        case FrameHit::Top: return HTTOP;
        case FrameHit::Bottom: return HTBOTTOM;
        case FrameHit::TopLeft: return HTTOPLEFT;
        case FrameHit::TopRight: return HTTOPRIGHT;
        case FrameHit::BottomLeft: return HTBOTTOMLEFT;
        case FrameHit::BottomRight: return HTBOTTOMRIGHT;
        case FrameHit::Client: break;
    }
    return HTCLIENT;
}

void setWindowIcons(HWND window) {
    HINSTANCE self = ::GetModuleHandleW(nullptr);
    const struct {
        int width, height;
        WPARAM which;
    } sizes[] = {{::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), ICON_BIG},
                 {::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), ICON_SMALL}};
    for (const auto& s : sizes) {
        HANDLE icon = ::LoadImageW(self, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, s.width, s.height, LR_DEFAULTCOLOR);
        if (icon) ::SendMessageW(window, WM_SETICON, s.which, reinterpret_cast<LPARAM>(icon));
    }
}

LRESULT onCreate(HWND window) {
    computeLayout(window);
    const MARGINS margins{0, 0, 0, 1};
    ::DwmExtendFrameIntoClientArea(window, &margins);
    const DWORD round = 2, dark = 1;  // DWMWCP_ROUND; dark mode on
    ::DwmSetWindowAttribute(window, 33 /* DWMWA_WINDOW_CORNER_PREFERENCE */, &round, sizeof round);
    ::DwmSetWindowAttribute(window, 20 /* DWMWA_USE_IMMERSIVE_DARK_MODE */, &dark, sizeof dark);
    ::SetTimer(window, SpeedTimer, kSpeedPeriodMs, nullptr);
    ::SetTimer(window, AnimationTimer, kAnimationPeriodMs, nullptr);
    setWindowIcons(window);
    addMenuToSystemMenu(window);
    ::SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    return 0;
}

LRESULT onSetCursor(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (LOWORD(lParam) == HTCLIENT && gUi.hoverItem == MainButton && mainButtonEnabled(gState.phase)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT onGetMinMaxInfo(LPARAM lParam) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize.x = scaled(900);
    info->ptMinTrackSize.y = scaled(560);
    return 0;
}

LRESULT onNcHitTest(HWND window, LPARAM lParam) {
    const POINT p = clientPoint(window, lParam);
    return hitCode(frameHitTest(gLayout, p.x, p.y, gDisplay.dpi));
}

// Keyboard focus shows once a key has been used, as Windows does it, and
// only while the window has the focus.
void showFocusRing(HWND window, bool keyboardCues, bool focused) {
    if (gUi.keyboardCues == keyboardCues && gUi.focused == focused) return;
    gUi.keyboardCues = keyboardCues;
    gUi.focused = focused;
    invalidateItems(window, MainButton, None);
}

LRESULT onKeyDown(HWND window, WPARAM key) {
    showFocusRing(window, true, gUi.focused);
    if ((key == VK_SPACE || key == VK_RETURN) && mainButtonEnabled(gState.phase)) activateMainButton();
    return 0;
}

LRESULT onFocus(HWND window, bool focused) {
    showFocusRing(window, gUi.keyboardCues, focused);
    if (focused) announceFocus(window);
    return 0;
}

// The button stays pressed for as long as its menu shows, and no longer:
// a chosen item may open a dialog of its own.
void showMenu(HWND window) {
    gUi.menuOpen = true;
    invalidateItems(window, MenuButton, None);
    ::UpdateWindow(window);
    const uint32_t command = openMenuPopup(window);
    gUi.menuOpen = false;
    invalidateItems(window, MenuButton, None);
    if (command) runMenuCommand(window, command);
}

// What a click on an item does; a reader's default action does the same.
void actOnItem(HWND window, int32_t item) {
    if (item == MenuButton) showMenu(window);
    if (item == MainButton && mainButtonEnabled(gState.phase)) activateMainButton();
    if (item == MinimizeButton) ::ShowWindow(window, SW_MINIMIZE);
    if (item == CloseButton) ::PostMessageW(window, WM_CLOSE, 0, 0);
}

LRESULT onAccessibleAction(HWND window, WPARAM child) {
    if (child == kAccessibleMainButton) actOnItem(window, MainButton);
    if (child == kAccessibleMinimize) actOnItem(window, MinimizeButton);
    if (child == kAccessibleClose) actOnItem(window, CloseButton);
    if (child == kAccessibleMenu) actOnItem(window, MenuButton);
    return 0;
}

void onSpeedTick(HWND window) {
    const int64_t done = gState.bytesFromNetwork;  // a copy from the installed file is no speed
    const int64_t delta = done - gState.bytesAtLastTick;
    gState.bytesAtLastTick = done;
    gState.downloadSpeed = smoothedSpeed(gState.downloadSpeed, delta, gState.phase == Downloading);
    announceChanges(window, capturePaintInputs());  // a percentage held back by the gap
}

void onAnimationTick(HWND window) {
    if (!phaseInfo(gState.phase).spins) return;
    gUi.spinnerAngle = advancedSpinner(gUi.spinnerAngle);
    const Rect area = spinnerTickArea(gLayout, gUi, gDisplay.dpi);
    if (!paintNow(window, area)) invalidateArea(window, area);
}

LRESULT onTimer(HWND window, WPARAM id) {
    switch (id) {
        case RepaintTimer:
            ::KillTimer(window, RepaintTimer);
            gUi.repaintPending = false;
            invalidateChanges(window);
            break;
        case SpeedTimer: onSpeedTick(window); break;
        case AnimationTimer: onAnimationTick(window); break;
        default: break;
    }
    return 0;
}

LRESULT onMouseMove(HWND window, LPARAM lParam) {
    const HitItem item = hitTestItem(gLayout, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    if (item == gUi.hoverItem) return 0;
    invalidateItems(window, gUi.hoverItem, item);
    gUi.hoverItem = item;
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
    ::TrackMouseEvent(&track);
    return 0;
}

LRESULT onMouseLeave(HWND window) {
    invalidateItems(window, gUi.hoverItem, None);
    gUi.hoverItem = None;
    return 0;
}

LRESULT onLButtonDown(HWND window, LPARAM lParam) {
    gUi.pressedItem = hitTestItem(gLayout, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    if (gUi.pressedItem != None) ::SetCapture(window);
    invalidateItems(window, gUi.pressedItem, None);
    return 0;
}

// An item acts only when pressed and released on it.
LRESULT onLButtonUp(HWND window, LPARAM lParam) {
    const HitItem item = hitTestItem(gLayout, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    const int32_t held = gUi.pressedItem;
    gUi.pressedItem = None;
    ::ReleaseCapture();
    invalidateItems(window, held, None);
    if (item == held) actOnItem(window, item);
    return 0;
}

LRESULT onMouseWheel(HWND window, WPARAM wParam, LPARAM lParam) {
    const POINT p = clientPoint(window, lParam);
    if (!gLayout.notesRect.contains(p.x, p.y)) return 0;
    gUi.notesScroll = wheelScrolled(gUi.notesScroll, GET_WHEEL_DELTA_WPARAM(wParam), gDisplay.dpi);
    invalidateAll(window);
    return 0;
}

LRESULT onDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
    gDisplay.dpi = HIWORD(wParam);
    createFonts();
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    ::SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    computeLayout(window);
    invalidateAll(window);
    return 0;
}

// A first frame of roughly scaled pictures is on screen: now the real ones.
LRESULT onPaint(HWND window) {
    paintWindow(window);
    if (picturesRough()) ::PostMessageW(window, kMsgRefinePictures, 0, 0);
    return 0;
}

LRESULT onRefinePictures(HWND window) {
    if (!picturesRough()) return 0;
    refinePictures();
    invalidateAll(window);
    return 0;
}

// Any number of state changes within 33 ms become one repaint.
LRESULT onStateChanged(HWND window, WPARAM wParam) {
    if (wParam == 1) {
        gUi.notesScroll = 0;  // new notes start at the top
        gNotesReplaced = true;
    }
    if (gUi.repaintPending) return 0;
    gUi.repaintPending = true;
    ::SetTimer(window, RepaintTimer, kRepaintDelayMs, nullptr);
    return 0;
}

}  // namespace

void activateMainButton() {
    if (gState.phase == Ready) launchGame();
    else gState.retryRequested = 1;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: return onCreate(window);
        case WM_DESTROY:
            disconnectAccessible();
            ::PostQuitMessage(0);
            return 0;
        case WM_SIZE: computeLayout(window); invalidateAll(window); return 0;
        case WM_PAINT: return onPaint(window);
        case kMsgRefinePictures: return onRefinePictures(window);
        case WM_ERASEBKGND: return 1;
        case WM_SETCURSOR: return onSetCursor(window, message, wParam, lParam);
        case WM_GETMINMAXINFO: return onGetMinMaxInfo(lParam);
        case WM_NCCALCSIZE:
            if (wParam) return 0;  // the client area is the whole window: no frame, no caption
            break;
        case WM_NCHITTEST: return onNcHitTest(window, lParam);
        case WM_KEYDOWN: return onKeyDown(window, wParam);
        case WM_SYSKEYDOWN: showFocusRing(window, true, gUi.focused); break;  // Alt+F4, Alt+Space: the system's
        case WM_SETFOCUS: return onFocus(window, true);
        case WM_KILLFOCUS: return onFocus(window, false);
        case WM_INITMENUPOPUP: refreshMenu(reinterpret_cast<HMENU>(wParam)); break;
        case WM_SYSCOMMAND:
            if (runMenuCommand(window, static_cast<uint32_t>(wParam & 0xFFF0))) return 0;
            break;
        case WM_GETOBJECT: return answerGetObject(window, wParam, lParam);
        case kMsgAccessibleAction: return onAccessibleAction(window, wParam);
        case WM_TIMER: return onTimer(window, wParam);
        case WM_MOUSEMOVE: return onMouseMove(window, lParam);
        case WM_MOUSELEAVE: return onMouseLeave(window);
        case WM_LBUTTONDOWN: return onLButtonDown(window, lParam);
        case WM_LBUTTONUP: return onLButtonUp(window, lParam);
        case WM_MOUSEWHEEL: return onMouseWheel(window, wParam, lParam);
        case WM_DPICHANGED: return onDpiChanged(window, wParam, lParam);
        case kMsgStateChanged: return onStateChanged(window, wParam);
        default: break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

namespace {

void registerWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    if (!wc.hIcon) wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    ::RegisterClassExW(&wc);
}

int screenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// GetDpiForWindow where the system has it (Windows 10 1607 on); 0 elsewhere.
UINT systemWindowDpi(HWND window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    auto getDpi = reinterpret_cast<GetDpi>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return getDpi ? getDpi(window) : 0;
}

// The window's own DPI, where the system can tell it.
void followWindowDpi(HWND window) {
    const UINT own = gWindowDpi(window);
    if (own == 0 || static_cast<int>(own) == gDisplay.dpi) return;
    gDisplay.dpi = static_cast<int>(own);
    createFonts();
    computeLayout(window);  // the window keeps the size it was made with
}

}  // namespace

UINT (*gWindowDpi)(HWND) = systemWindowDpi;

HWND createMainWindow(HINSTANCE instance, int showCommand) {
    gDisplay.dpi = screenDpi();
    createFonts();
    registerWindowClass(instance);
    RECT work{0, 0, 1024, 768};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const WindowPlacement at = initialPlacement(gDisplay.dpi, Rect{work.left, work.top, work.right, work.bottom});
    HWND window = ::CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, kWindowTitle,
                                    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                                    at.x, at.y, at.width, at.height, nullptr, nullptr, instance, nullptr);
    if (!window) return nullptr;
    gState.mainWindow = window;
    followWindowDpi(window);
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);
    return window;
}
