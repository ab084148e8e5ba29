#include "render/accessible_model.h"

#include <cwchar>

#include "core/launcher_phase.h"
#include "core/window_title.h"
#include "render/formatting.h"
#include "render/patch_notes.h"
#include "render/window_controls.h"

namespace {

std::wstring count(int32_t value) { return value >= 0 ? std::to_wstring(value) : std::wstring(L"unknown"); }

// The pill's words, as the server card paints them.
std::wstring serverName(const PaintInputs& in) {
    const bool online = in.serverOnline == 1 && in.phase != ServerError;
    const wchar_t* state = online ? L"Online" : in.phase == Connecting ? L"Connecting" : L"Offline";
    return std::wstring(L"Server: ") + state + L". Lobbies open: " + count(in.lobbies) +
           L". In matches: " + count(in.players) + L".";
}

AccessibleElement button(const wchar_t* name, const Rect& where) {
    AccessibleElement e;
    e.name = name;
    e.role = AccessibleRole::PushButton;
    e.defaultAction = L"Press";
    e.state = kAccessibleFocusable;
    e.location = where;
    return e;
}

AccessibleElement mainButton(const PaintInputs& in, bool focused, const WindowLayout& layout) {
    AccessibleElement e = button(mainButtonLabel(in.phase, in.gameInstalled != 0), layout.mainButtonRect);
    if (!mainButtonEnabled(in.phase)) e.state = kAccessibleUnavailable;
    else if (focused) e.state |= kAccessibleFocused;
    return e;
}

AccessibleElement progress(const PaintInputs& in, const WindowLayout& layout, int32_t dpi) {
    AccessibleElement e;
    e.name = L"Download progress";
    e.role = AccessibleRole::ProgressBar;
    e.state = kAccessibleReadOnly;
    e.location = progressArea(layout, dpi);
    if (showsProgress(in.phase, in.bytesDone)) e.value = accessiblePercent(in.bytesDone, in.bytesTotal);
    else e.state |= kAccessibleInvisible;
    return e;
}

AccessibleElement text(AccessibleRole role, std::wstring name, const Rect& where) {
    AccessibleElement e;
    e.name = std::move(name);
    e.role = role;
    e.state = kAccessibleReadOnly;
    e.location = where;
    return e;
}

}  // namespace

std::wstring accessiblePercent(int64_t bytesDone, int64_t bytesTotal) {
    return std::to_wstring(progressPercent(bytesDone, bytesTotal)) + L" %";
}

AccessibleElement accessibleElement(int32_t child, const PaintInputs& in, const AccessibleExtras& extras,
                                    const WindowLayout& layout, int32_t dpi) {
    switch (child) {
        case kAccessibleSelf: {
            AccessibleElement e = text(AccessibleRole::Client, kWindowTitle,
                                       Rect{0, 0, layout.clientWidth, layout.clientHeight});
            e.description = in.status;
            e.state = kAccessibleFocusable | (extras.focused ? kAccessibleFocused : 0);
            return e;
        }
        case kAccessibleMinimize: return button(L"Minimize", layout.minimizeButtonRect);
        case kAccessibleClose: return button(L"Close", layout.closeButtonRect);
        case kAccessibleMainButton: return mainButton(in, extras.focused, layout);
        case kAccessibleProgress: return progress(in, layout, dpi);
        case kAccessibleServer: return text(AccessibleRole::StaticText, serverName(in), layout.serverRect);
        case kAccessibleMenu: {
            AccessibleElement e = button(L"Menu", layout.menuButtonRect);
            e.defaultAction = L"Open";
            e.state |= kAccessibleHasPopup;
            return e;
        }
        case kAccessibleNotes: {
            AccessibleElement e = text(AccessibleRole::Text, L"Patch notes", layout.notesRect);
            e.value = extras.notes.empty() ? std::wstring(kNoNotes) : extras.notes;
            return e;
        }
        default: return AccessibleElement{};
    }
}

int32_t accessibleHitTest(const PaintInputs& in, const WindowLayout& layout, int32_t dpi, int32_t x, int32_t y) {
    const AccessibleExtras none;
    for (int32_t child = 1; child <= kAccessibleChildCount; ++child) {
        const AccessibleElement e = accessibleElement(child, in, none, layout, dpi);
        if (!(e.state & kAccessibleInvisible) && e.location.contains(x, y)) return child;
    }
    return Rect{0, 0, layout.clientWidth, layout.clientHeight}.contains(x, y) ? kAccessibleSelf : -1;
}

AccessibleAnnounced accessibleAnnounced(const PaintInputs& in) {
    AccessibleAnnounced a;
    a.label = mainButtonLabel(in.phase, in.gameInstalled != 0);
    a.available = mainButtonEnabled(in.phase);
    a.progressShown = showsProgress(in.phase, in.bytesDone);
    a.percent = a.progressShown ? progressPercent(in.bytesDone, in.bytesTotal) : -1;
    a.status = in.status;
    return a;
}

uint32_t accessibleEvents(const AccessibleAnnounced& before, const AccessibleAnnounced& now) {
    uint32_t events = 0;
    if (before.label != now.label) events |= kAnnounceLabel;
    if (before.available != now.available) events |= kAnnounceAvailable;
    if (before.progressShown != now.progressShown) events |= kAnnounceProgressShown;
    if (now.progressShown && before.percent != now.percent) events |= kAnnouncePercent;
    if (before.status != now.status) events |= kAnnounceStatus;
    return events;
}
