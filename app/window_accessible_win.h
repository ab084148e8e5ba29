// The window as screen readers see it: an IAccessible for OBJID_CLIENT that
// reads the painters' inputs, and the events that tell readers what changed.
// Window thread only.
#pragma once

#include <windows.h>

#include "render/repaint_plan.h"

// Posted by a reader's default action; wParam is the child id. The window
// acts on it as on a click, after the reader's call has returned.
constexpr UINT kMsgAccessibleAction = WM_APP + 3;

// WM_GETOBJECT: our object for OBJID_CLIENT; anything else is the system's.
LRESULT answerGetObject(HWND window, WPARAM wParam, LPARAM lParam);

// Tells readers what changed since the last call: the main button's name
// and availability, the progress shown and its percentage (at most every
// kPercentEventGapMs), the status line.
void announceChanges(HWND window, const PaintInputs& now);

// Tells readers the keyboard focus is on the main button.
void announceFocus(HWND window);

// The window is being destroyed: readers that still hold the object get
// CO_E_OBJNOTCONNECTED from now on, and the next window starts afresh.
void disconnectAccessible();
