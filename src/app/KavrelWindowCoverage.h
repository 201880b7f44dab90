#pragma once

#include "platform/X11WindowList.h"

#include <QRectF>

#include <optional>
#include <vector>

// Whether a window of this program is out of sight behind the windows of other applications,
// decided from the window manager's list of on-screen windows (front to back). Every missing
// or unreadable piece of the list makes the tests answer conservatively; nothing throws.
namespace KavrelWindowCoverage {

// A sampling test: `rect` is divided into 12 columns and 8 rows, and it counts as covered when
// the centres of at least 91 of the 96 cells lie in one of `rects`.
bool isCovered(const QRectF &rect, const std::vector<QRectF> &rects);

// The on-screen bounds of a window, or none when the list is unreadable or lacks it.
std::optional<QRectF> boundsOfWindow(const std::optional<X11WindowListSnapshot> &list, quint32 windowId);

// True when windows of other applications in front of the given window cover it: windows on
// the normal layer, of a known process other than `ownProcessId`, more than 5 % opaque, that
// overlap it. An unreadable list answers false; an empty list, or one without the window, true
// (the window is not on screen).
bool isWindowFullyCoveredByOtherApps(const std::optional<X11WindowListSnapshot> &list, quint32 windowId,
                                     qint64 ownProcessId);

// The application that covers the given window: the one whose window has the focus, when that
// is another application; else, while this program has the focus or nobody does, the owner of
// the frontmost window of another application over it. None when no such window lies over it.
std::optional<qint64> coveringProcess(const std::optional<X11WindowListSnapshot> &list, quint32 windowId,
                                      qint64 ownProcessId);

// For a window this program has hidden: true when the windows of one application still cover
// the place it had. That application is the one whose window has the focus. While this program
// has the focus (a click on the mini window gives it) or nobody has it (the focus on its way
// between windows), it is `coveringProcessId` recorded when the window was hidden, and without
// one, any other application: what happens in this program's own windows never uncovers it.
bool isHiddenWindowStillCovered(const std::optional<X11WindowListSnapshot> &list,
                                const std::optional<QRectF> &hiddenBounds, qint64 ownProcessId,
                                std::optional<qint64> coveringProcessId);

} // namespace KavrelWindowCoverage
