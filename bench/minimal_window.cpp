// The baseline for the launcher's start: the least a Win32 program does to
// put a window on screen, a borderless window of the same size, centred,
// painted once in one colour, then a message loop.
#include <windows.h>

namespace {
LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(window, &ps);
        HBRUSH brush = ::CreateSolidBrush(RGB(0x20, 0x90, 0x40));
        ::FillRect(dc, &ps.rcPaint, brush);
        ::DeleteObject(brush);
        ::EndPaint(window, &ps);
        return 0;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"MinimalWindow";
    ::RegisterClassW(&wc);
    RECT work;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int w = 1040, h = 640;
    HWND window = ::CreateWindowExW(WS_EX_APPWINDOW, L"MinimalWindow", L"Minimal window", WS_POPUP,
                                    work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
                                    w, h, nullptr, nullptr, instance, nullptr);
    ::ShowWindow(window, show);
    ::UpdateWindow(window);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    return 0;
}
