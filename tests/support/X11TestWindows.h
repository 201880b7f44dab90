#pragma once

// What another client of the test services' X server sees of the windows, and what the window
// manager does to them at a user's request: asked of the server on a connection of its own.

#include <QString>
#include <QtGlobal>

class QWidget;

#include <optional>
#include <vector>

namespace X11TestWindows {

// Whether the server shows the window (mapped, and every ancestor too).
bool isViewable(quint32 window);

// The process that owns the window the window manager made active (_NET_ACTIVE_WINDOW's
// _NET_WM_PID); none when no window is active or it does not say.
std::optional<qint64> activeWindowProcessId();

// The window the window manager made active (_NET_ACTIVE_WINDOW); none when no window is.
std::optional<quint32> activeWindow();

// The window that has the X server's keyboard focus; none when the focus is on no window
// (PointerRoot or None).
std::optional<quint32> inputFocus();

// The window's title (_NET_WM_NAME); empty when it has none.
QString title(quint32 window);

// The windows the window manager manages, bottom first (_NET_CLIENT_LIST_STACKING).
std::vector<quint32> stackingOrder();

// Waits (5 s at most) until `window` has had the keyboard, as the window manager and Qt both see
// it, for `forMs` without a break. Just activated, a window may still lose the keyboard and get it
// back while the window manager catches up with what came before (windows closed, others shown);
// a key pressed meanwhile is cut in two: its release finds the control no longer pressed.
bool settledActive(const QWidget *window, int forMs = 250);

// Asks the window manager to minimize the window, as its title bar's button or a taskbar does
// (an ICCCM WM_CHANGE_STATE request for the iconic state).
void iconify(quint32 window);

} // namespace X11TestWindows
