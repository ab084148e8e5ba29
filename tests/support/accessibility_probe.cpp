// Reads the launcher's window the way a screen reader does: from another
// process, through AccessibleObjectFromWindow(OBJID_CLIENT) and win events.
//   accessibility_probe check LABEL NOTES_START   names, roles, states, places
//   accessibility_probe wait-name CHILD TEXT SECONDS
//   accessibility_probe wait-progress SECONDS      prints the value once shown
//   accessibility_probe press CHILD                its default action
//   accessibility_probe events SECONDS             prints name/value/state events
//   accessibility_probe hold SECONDS               keeps the object past the window
//   accessibility_probe menu open|closed SECONDS   the system menu
// Exit 0 when what was asked held, 1 otherwise.
#include <windows.h>
#include <objbase.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "render/layout.h"

namespace {

int gFaults = 0;

void fault(const char* what, long child, const std::wstring& detail) {
    std::printf("FAULT child %ld: %s (%ls)\n", child, what, detail.c_str());
    ++gFaults;
}

HWND findLauncher(int seconds) {
    const DWORD end = ::GetTickCount() + seconds * 1000;
    for (;;) {
        HWND w = ::FindWindowW(L"UE4TVLLauncher", nullptr);
        if (w && ::IsWindowVisible(w)) return w;
        if (static_cast<LONG>(end - ::GetTickCount()) <= 0) return nullptr;
        ::Sleep(100);
    }
}

IAccessible* clientObject(HWND window) {
    IAccessible* object = nullptr;
    if (FAILED(::AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                                            reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

VARIANT child(long id) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::wstring text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), IAccessible* a, long id) {
    BSTR b = nullptr;
    std::wstring out;
    if ((a->*get)(child(id), &b) == S_OK && b) out.assign(b, ::SysStringLen(b));
    ::SysFreeString(b);
    return out;
}
std::wstring nameOf(IAccessible* a, long id) { return text(&IAccessible::get_accName, a, id); }
std::wstring valueOf(IAccessible* a, long id) { return text(&IAccessible::get_accValue, a, id); }

long number(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), IAccessible* a, long id) {
    VARIANT v;
    ::VariantInit(&v);
    return (a->*get)(child(id), &v) == S_OK && v.vt == VT_I4 ? v.lVal : -1;
}
long roleOf(IAccessible* a, long id) { return number(&IAccessible::get_accRole, a, id); }
long stateOf(IAccessible* a, long id) { return number(&IAccessible::get_accState, a, id); }

// The DPI the launcher opened at: the screen's, which a DPI-aware process
// reads. (Wine's GetDpiForWindow answers 96 for another process's window.)
int windowDpi(HWND) {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

void expectPlace(IAccessible* a, HWND window, long id, const Rect& painted) {
    long x = 0, y = 0, w = 0, h = 0;
    POINT origin{painted.left, painted.top};
    ::ClientToScreen(window, &origin);
    if (a->accLocation(&x, &y, &w, &h, child(id)) != S_OK || x != origin.x || y != origin.y ||
        w != painted.width() || h != painted.height()) {
        wchar_t detail[160];
        std::swprintf(detail, 160, L"at %ld,%ld %ldx%ld, painted at %ld,%ld %dx%d", x, y, w, h, origin.x, origin.y,
                      painted.width(), painted.height());
        fault("location", id, detail);
    }
}

void expectHit(IAccessible* a, HWND window, const Rect& r, long id) {
    POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(window, &centre);
    VARIANT hit;
    ::VariantInit(&hit);
    if (a->accHitTest(centre.x, centre.y, &hit) != S_OK || hit.vt != VT_I4 || hit.lVal != id)
        fault("hit test at the centre", id, std::to_wstring(hit.vt == VT_I4 ? hit.lVal : -1));
}

int check(HWND window, IAccessible* a, const std::wstring& label, const std::wstring& notesStart) {
    long count = 0;
    if (a->get_accChildCount(&count) != S_OK || count != 7) fault("child count", 0, std::to_wstring(count));
    if (nameOf(a, CHILDID_SELF) != L"TVL UE4 Launcher") fault("client name", 0, nameOf(a, CHILDID_SELF));
    if (roleOf(a, CHILDID_SELF) != ROLE_SYSTEM_CLIENT) fault("client role", 0, L"");
    if (text(&IAccessible::get_accDescription, a, CHILDID_SELF).empty()) fault("the status line as description", 0, L"");
    const long roles[] = {ROLE_SYSTEM_PUSHBUTTON, ROLE_SYSTEM_PUSHBUTTON, ROLE_SYSTEM_PUSHBUTTON,
                          ROLE_SYSTEM_PROGRESSBAR, ROLE_SYSTEM_STATICTEXT, ROLE_SYSTEM_TEXT, ROLE_SYSTEM_PUSHBUTTON};
    for (long id = 1; id <= 7; ++id)
        if (roleOf(a, id) != roles[id - 1]) fault("role", id, std::to_wstring(roleOf(a, id)));
    if (nameOf(a, 1) != L"Minimize") fault("name", 1, nameOf(a, 1));
    if (nameOf(a, 2) != L"Close") fault("name", 2, nameOf(a, 2));
    if (nameOf(a, 3) != label) fault("name", 3, nameOf(a, 3));
    if (stateOf(a, 3) & STATE_SYSTEM_UNAVAILABLE) fault("the clickable button is unavailable", 3, L"");
    if (!(stateOf(a, 4) & STATE_SYSTEM_INVISIBLE)) fault("progress visible before any download", 4, L"");
    if (nameOf(a, 5).find(L"Online") == std::wstring::npos) fault("server state", 5, nameOf(a, 5));
    if (valueOf(a, 6).rfind(notesStart, 0) != 0) fault("patch notes", 6, valueOf(a, 6));
    if (text(&IAccessible::get_accDefaultAction, a, 3) != L"Press") fault("default action", 3, L"");
    if (nameOf(a, 7) != L"Menu") fault("name", 7, nameOf(a, 7));
    if (text(&IAccessible::get_accDefaultAction, a, 7) != L"Open") fault("default action", 7, L"");
    if (!(stateOf(a, 7) & STATE_SYSTEM_HASPOPUP)) fault("the menu button has no popup state", 7, L"");

    RECT client{};
    ::GetClientRect(window, &client);
    const int dpi = windowDpi(window);
    const WindowLayout layout = layoutForClient(client.right, client.bottom, dpi);
    expectPlace(a, window, CHILDID_SELF, Rect{0, 0, client.right, client.bottom});
    expectPlace(a, window, 1, layout.minimizeButtonRect);
    expectPlace(a, window, 2, layout.closeButtonRect);
    expectPlace(a, window, 3, layout.mainButtonRect);
    expectPlace(a, window, 4, progressArea(layout, dpi));
    expectPlace(a, window, 5, layout.serverRect);
    expectPlace(a, window, 6, layout.notesRect);
    expectPlace(a, window, 7, layout.menuButtonRect);
    expectHit(a, window, layout.menuButtonRect, 7);
    expectHit(a, window, layout.mainButtonRect, 3);
    expectHit(a, window, layout.closeButtonRect, 2);
    expectHit(a, window, layout.notesRect, 6);
    std::printf("checked at %d DPI, %ldx%ld: %d faults\n", dpi, client.right, client.bottom, gFaults);
    return gFaults == 0 ? 0 : 1;
}

bool waitFor(int seconds, bool (*done)(IAccessible*, void*), IAccessible* a, void* context) {
    const DWORD end = ::GetTickCount() + seconds * 1000;
    while (!done(a, context)) {
        if (static_cast<LONG>(end - ::GetTickCount()) <= 0) return false;
        ::Sleep(50);
    }
    return true;
}

struct NameWanted {
    long id;
    std::wstring name;
};

bool progressShown(IAccessible* a, void*) {
    const long state = stateOf(a, 4);
    const std::wstring value = valueOf(a, 4);
    return state >= 0 && !(state & STATE_SYSTEM_INVISIBLE) && value.size() > 2 && value.size() <= 5 &&
           value.compare(value.size() - 2, 2, L" %") == 0 && value.find_first_not_of(L"0123456789") == value.size() - 2;
}

void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG id, DWORD, DWORD) {
    if (object != OBJID_CLIENT || ::GetClassNameW(window, nullptr, 0) < 0) return;
    IAccessible* a = nullptr;
    VARIANT v;
    ::VariantInit(&v);
    if (FAILED(::AccessibleObjectFromEvent(window, object, id, &a, &v)) || !a) return;
    const wchar_t* kind = event == EVENT_OBJECT_NAMECHANGE    ? L"name"
                          : event == EVENT_OBJECT_VALUECHANGE ? L"value"
                          : event == EVENT_OBJECT_STATECHANGE ? L"state"
                                                              : L"other";
    std::wstring what;
    if (event == EVENT_OBJECT_NAMECHANGE) what = nameOf(a, v.lVal);
    if (event == EVENT_OBJECT_VALUECHANGE) what = valueOf(a, v.lVal);
    if (event == EVENT_OBJECT_STATECHANGE) {
        const long state = stateOf(a, v.lVal);
        what = state < 0 ? L"?" : (state & STATE_SYSTEM_UNAVAILABLE) ? L"unavailable" : L"available";
        if (state >= 0 && (state & STATE_SYSTEM_INVISIBLE)) what += L" invisible";
    }
    std::printf("%ls %ld %ls\n", kind, v.lVal, what.c_str());
    std::fflush(stdout);
    a->Release();
}

int events(HWND window, int seconds) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, onEvent,
                                           process, 0, WINEVENT_OUTOFCONTEXT);
    if (!hook) return 1;
    std::printf("listening\n");
    std::fflush(stdout);
    const DWORD end = ::GetTickCount() + seconds * 1000;
    while (static_cast<LONG>(end - ::GetTickCount()) > 0 && ::IsWindow(window)) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
    ::UnhookWinEvent(hook);
    return 0;
}

// A reader that keeps the object after the window is gone must get errors,
// never a crash or a hang.
int hold(HWND window, IAccessible* a, int seconds) {
    const DWORD end = ::GetTickCount() + seconds * 1000;
    while (::IsWindow(window)) {
        if (static_cast<LONG>(end - ::GetTickCount()) <= 0) return 1;
        ::Sleep(20);
    }
    BSTR name = nullptr;
    const HRESULT hr = a->get_accName(child(3), &name);
    ::SysFreeString(name);
    std::printf("after the window: 0x%08lx\n", static_cast<unsigned long>(hr));
    a->Release();
    return FAILED(hr) ? 0 : 1;
}

bool systemMenuOpen() {
    HWND menu = ::FindWindowW(L"#32768", nullptr);
    return menu && ::IsWindowVisible(menu);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    ::SetProcessDPIAware();  // as screen readers are: coordinates in real pixels at any DPI
    const std::wstring command = argv[1];
    auto arg = [&](int i) { return i < argc ? std::wstring(argv[i]) : std::wstring(); };
    if (command == L"menu") {
        const bool open = arg(2) == L"open";
        const DWORD end = ::GetTickCount() + _wtoi(arg(3).c_str()) * 1000;
        while (systemMenuOpen() != open)
            if (static_cast<LONG>(end - ::GetTickCount()) <= 0) return 1;
            else ::Sleep(50);
        std::printf("system menu %ls\n", arg(2).c_str());
        return 0;
    }
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HWND window = findLauncher(60);
    if (!window) {
        std::printf("no launcher window\n");
        return 1;
    }
    if (command == L"events") return events(window, _wtoi(arg(2).c_str()));
    IAccessible* a = clientObject(window);
    if (!a) {
        std::printf("no accessible object\n");
        return 1;
    }
    if (command == L"check") return check(window, a, arg(2), arg(3));
    if (command == L"press") {
        const HRESULT hr = a->accDoDefaultAction(child(_wtol(arg(2).c_str())));
        std::printf("default action: 0x%08lx\n", static_cast<unsigned long>(hr));
        return hr == S_OK ? 0 : 1;
    }
    if (command == L"wait-name") {
        NameWanted wanted{_wtol(arg(2).c_str()), arg(3)};
        const bool seen = waitFor(
            _wtoi(arg(4).c_str()),
            [](IAccessible* o, void* c) {
                auto* w = static_cast<NameWanted*>(c);
                return nameOf(o, w->id) == w->name;
            },
            a, &wanted);
        std::printf("child %ld: %ls\n", wanted.id, nameOf(a, wanted.id).c_str());
        return seen ? 0 : 1;
    }
    if (command == L"wait-progress") {
        if (!waitFor(_wtoi(arg(2).c_str()), progressShown, a, nullptr)) return 1;
        const bool busy = stateOf(a, 3) & STATE_SYSTEM_UNAVAILABLE;
        std::printf("progress %ls, button %ls %ls\n", valueOf(a, 4).c_str(), nameOf(a, 3).c_str(),
                    busy ? L"unavailable" : L"available");
        return busy ? 0 : 1;
    }
    if (command == L"hold") return hold(window, a, _wtoi(arg(2).c_str()));
    return 2;
}
