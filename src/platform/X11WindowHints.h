#pragma once

#include <QtGlobal>

// Requests to the X11 window manager about the program's own windows. Every call does nothing
// when the program does not run on X11 (Wayland, the offscreen platform of tests).
namespace X11WindowHints {

// True on the X11 platform.
bool isX11();
// True when a compositing manager runs, so that translucent window areas show what lies below.
bool isCompositing();
// Asks the window manager to keep a mapped window on every desktop, above normal windows,
// with no taskbar or pager entry. Sent as requests to the root window, as the window
// manager expects for a window it already manages.
void keepOnAllDesktopsAbove(quint32 windowId);
// Names `ownerId` as the window `windowId` belongs to (WM_TRANSIENT_FOR), for a window already
// on the screen: the window manager reads the property again when it changes, and keeps the
// window in front of its owner from then on.
void setTransientFor(quint32 windowId, quint32 ownerId);

} // namespace X11WindowHints
