#pragma once

#include <QtGui/qwindowdefs.h>

// Window-manager requests for this program's own windows on X11. Each does nothing where the
// program does not run on an X server (Wayland, offscreen tests).
namespace X11WindowPlacement {

// Shows the window on every virtual desktop (EWMH sticky, desktop 0xFFFFFFFF), asked both as
// a property for a window not mapped yet and as a request to the window manager for a mapped one.
void showOnAllDesktops(WId window);

} // namespace X11WindowPlacement
