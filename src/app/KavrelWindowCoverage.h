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

// For a window this program has hidden: true when the windows of one application still cover
// the place it had. That application is the one whose window has the focus, or, while this
// program has it, `coveringProcessId` recorded when the window was hidden.
bool isHiddenWindowStillCovered(const std::optional<X11WindowListSnapshot> &list,
                                const std::optional<QRectF> &hiddenBounds, qint64 ownProcessId,
                                std::optional<qint64> coveringProcessId);

} // namespace KavrelWindowCoverage
