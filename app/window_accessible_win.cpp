#include "app/window_accessible_win.h"

#include <oleacc.h>

#include <string>

#include "core/launcher_state.h"
#include "render/accessible_model.h"
#include "render/display_win.h"
#include "render/paint_window_win.h"
#include "render/window_controls.h"

namespace {

// What readers read, taken fresh at every call: readers ask seldom, and
// a copy could only go stale.
struct Snapshot {
    PaintInputs in;
    AccessibleExtras extras;
};

Snapshot snapshot(HWND window) {
    Snapshot s;
    s.in = capturePaintInputs();
    s.extras.focused = ::GetFocus() == window;
    LockHolder hold(gStateLock);
    if (gState.patchNotes) s.extras.notes = *gState.patchNotes;
    return s;
}

LONG roleCode(AccessibleRole role) {
    switch (role) {
        case AccessibleRole::Client: return ROLE_SYSTEM_CLIENT;
        case AccessibleRole::PushButton: return ROLE_SYSTEM_PUSHBUTTON;
        case AccessibleRole::ProgressBar: return ROLE_SYSTEM_PROGRESSBAR;
        case AccessibleRole::StaticText: return ROLE_SYSTEM_STATICTEXT;
        case AccessibleRole::Text: return ROLE_SYSTEM_TEXT;
    }
    return ROLE_SYSTEM_CLIENT;
}

LONG stateCode(uint32_t state) {
    LONG code = 0;
    if (state & kAccessibleUnavailable) code |= STATE_SYSTEM_UNAVAILABLE;
    if (state & kAccessibleInvisible) code |= STATE_SYSTEM_INVISIBLE;
    if (state & kAccessibleReadOnly) code |= STATE_SYSTEM_READONLY;
    if (state & kAccessibleFocusable) code |= STATE_SYSTEM_FOCUSABLE;
    if (state & kAccessibleFocused) code |= STATE_SYSTEM_FOCUSED;
    if (state & kAccessibleHasPopup) code |= STATE_SYSTEM_HASPOPUP;
    return code;
}

// An empty text is "no such property": S_FALSE and a null BSTR.
HRESULT giveText(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (text.empty()) return S_FALSE;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

void giveChild(LONG child, VARIANT* out) {
    out->vt = VT_I4;
    out->lVal = child;
}

class WindowAccessible final : public IAccessible {
public:
    explicit WindowAccessible(HWND window) : window_(window) {}
    void disconnect() { window_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(IAccessible)) *out = this;
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: readers use the IAccessible methods, never Invoke.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!window_) return CO_E_OBJNOTCONNECTED;
        if (!parent) return E_POINTER;
        return ::CreateStdAccessibleObject(window_, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!window_) return CO_E_OBJNOTCONNECTED;
        if (!count) return E_POINTER;
        *count = kAccessibleChildCount;
        return S_OK;
    }
    // The children are simple elements, read through this object.
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        LONG id = 0;
        const HRESULT hr = childId(child, &id);
        return FAILED(hr) ? hr : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
        return textOf(child, out, [](const AccessibleElement& e) { return e.name; });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
        return textOf(child, out, [](const AccessibleElement& e) { return e.value; });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
        return textOf(child, out, [](const AccessibleElement& e) { return e.description; });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override {
        return textOf(child, out, [](const AccessibleElement&) { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (!window_) return CO_E_OBJNOTCONNECTED;
        if (file) *file = nullptr;
        if (topic) *topic = 0;
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
        return textOf(child, out, [](const AccessibleElement&) { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
        return textOf(child, out, [](const AccessibleElement& e) { return e.defaultAction; });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
        AccessibleElement e;
        const HRESULT hr = element(child, out, &e);
        if (hr == S_OK) giveChild(roleCode(e.role), out);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
        AccessibleElement e;
        const HRESULT hr = element(child, out, &e);
        if (hr == S_OK) giveChild(stateCode(e.state), out);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override {
        if (!window_) return CO_E_OBJNOTCONNECTED;
        if (!out) return E_POINTER;
        ::VariantInit(out);
        if (::GetFocus() != window_) return S_FALSE;
        giveChild(mainButtonEnabled(gState.phase) ? kAccessibleMainButton : CHILDID_SELF, out);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override {
        if (!window_) return CO_E_OBJNOTCONNECTED;
        if (!out) return E_POINTER;
        ::VariantInit(out);
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) override {
        return window_ ? DISP_E_MEMBERNOTFOUND : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h, VARIANT child) override {
        if (!x || !y || !w || !h) return E_POINTER;
        *x = *y = *w = *h = 0;
        VARIANT ignored;
        AccessibleElement e;
        const HRESULT hr = element(child, &ignored, &e);
        if (hr != S_OK) return hr;
        POINT origin{e.location.left, e.location.top};
        ::ClientToScreen(window_, &origin);
        *x = origin.x;
        *y = origin.y;
        *w = e.location.width();
        *h = e.location.height();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* out) override {
        if (!out) return E_POINTER;
        ::VariantInit(out);
        LONG from = 0;
        const HRESULT hr = childId(start, &from);
        if (FAILED(hr)) return hr;
        LONG to = 0;
        if (from == CHILDID_SELF && direction == NAVDIR_FIRSTCHILD) to = 1;
        else if (from == CHILDID_SELF && direction == NAVDIR_LASTCHILD) to = kAccessibleChildCount;
        else if (from != CHILDID_SELF && direction == NAVDIR_NEXT) to = from + 1;
        else if (from != CHILDID_SELF && direction == NAVDIR_PREVIOUS) to = from - 1;
        if (to < 1 || to > kAccessibleChildCount) return S_FALSE;
        giveChild(to, out);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
        if (!window_) return CO_E_OBJNOTCONNECTED;
        if (!out) return E_POINTER;
        ::VariantInit(out);
        POINT p{x, y};
        ::ScreenToClient(window_, &p);
        const LONG hit = accessibleHitTest(capturePaintInputs(), gLayout, gDisplay.dpi, p.x, p.y);
        if (hit < 0) return S_FALSE;
        giveChild(hit, out);
        return S_OK;
    }
    // Acts after the reader's call returns, as a click would.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        LONG id = 0;
        const HRESULT hr = childId(child, &id);
        if (FAILED(hr)) return hr;
        const bool acts = id == kAccessibleMinimize || id == kAccessibleClose || id == kAccessibleMenu ||
                          (id == kAccessibleMainButton && mainButtonEnabled(gState.phase));
        if (!acts) return DISP_E_MEMBERNOTFOUND;
        return ::PostMessageW(window_, kMsgAccessibleAction, static_cast<WPARAM>(id), 0) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    HRESULT childId(const VARIANT& child, LONG* id) const {
        if (!window_) return CO_E_OBJNOTCONNECTED;
        if (child.vt != VT_I4 || child.lVal < 0 || child.lVal > kAccessibleChildCount) return E_INVALIDARG;
        *id = child.lVal;
        return S_OK;
    }
    HRESULT element(const VARIANT& child, VARIANT* out, AccessibleElement* e) const {
        if (!out) return E_POINTER;
        ::VariantInit(out);
        LONG id = 0;
        const HRESULT hr = childId(child, &id);
        if (FAILED(hr)) return hr;
        const Snapshot s = snapshot(window_);
        *e = accessibleElement(id, s.in, s.extras, gLayout, gDisplay.dpi);
        return S_OK;
    }
    template <class Field>
    HRESULT textOf(const VARIANT& child, BSTR* out, Field field) const {
        if (!out) return E_POINTER;
        *out = nullptr;
        VARIANT ignored;
        AccessibleElement e;
        const HRESULT hr = element(child, &ignored, &e);
        return hr == S_OK ? giveText(field(e), out) : hr;
    }

    HWND window_;
    LONG references_ = 1;  // the window's own
};

WindowAccessible* gAccessible = nullptr;

struct Announcements {
    bool valid = false;
    AccessibleAnnounced told;  // what readers were last told
    DWORD percentTick = 0;
};
Announcements gTold;

void tell(HWND window, DWORD event, LONG child) { ::NotifyWinEvent(event, window, OBJID_CLIENT, child); }

}  // namespace

LRESULT answerGetObject(HWND window, WPARAM wParam, LPARAM lParam) {
    if (static_cast<DWORD>(lParam) != static_cast<DWORD>(OBJID_CLIENT))
        return ::DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    if (!gAccessible) gAccessible = new WindowAccessible(window);
    return ::LresultFromObject(__uuidof(IAccessible), wParam, gAccessible);
}

void announceChanges(HWND window, const PaintInputs& now) {
    const AccessibleAnnounced seen = accessibleAnnounced(now);
    if (!gTold.valid) {
        gTold = {true, seen, ::GetTickCount()};
        return;
    }
    AccessibleAnnounced& told = gTold.told;
    const uint32_t events = accessibleEvents(told, seen);
    if (events & kAnnounceLabel) tell(window, EVENT_OBJECT_NAMECHANGE, kAccessibleMainButton);
    if (events & kAnnounceAvailable) tell(window, EVENT_OBJECT_STATECHANGE, kAccessibleMainButton);
    if (events & kAnnounceProgressShown) {
        tell(window, seen.progressShown ? EVENT_OBJECT_SHOW : EVENT_OBJECT_HIDE, kAccessibleProgress);
        tell(window, EVENT_OBJECT_STATECHANGE, kAccessibleProgress);
    }
    if (events & kAnnounceStatus) tell(window, EVENT_OBJECT_DESCRIPTIONCHANGE, CHILDID_SELF);
    const int32_t toldPercent = told.percent;
    told = seen;
    if (!(events & kAnnouncePercent)) return;
    const DWORD tick = ::GetTickCount();
    if (tick - gTold.percentTick < static_cast<DWORD>(kPercentEventGapMs)) {
        told.percent = toldPercent;  // told later, by a later call
        return;
    }
    gTold.percentTick = tick;
    tell(window, EVENT_OBJECT_VALUECHANGE, kAccessibleProgress);
}

void announceFocus(HWND window) {
    if (mainButtonEnabled(gState.phase)) tell(window, EVENT_OBJECT_FOCUS, kAccessibleMainButton);
}

void disconnectAccessible() {
    if (gAccessible) {
        gAccessible->disconnect();
        gAccessible->Release();
        gAccessible = nullptr;
    }
    gTold = {};
}
