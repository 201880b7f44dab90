#pragma once

// Whether a control's focus indication shows on the real screen: the pixels of the control as
// the X server holds them, before and after it takes the keyboard, must differ, and what changed
// must stand out from what was there at 3 : 1 (a focus indication's contrast) over at least a
// line of one pixel round half of the control.

#include <QImage>
#include <QRect>
#include <QString>

class QWidget;

namespace FocusRingCheck {

// The area of `window` (in its own coordinates) as the X server shows it now.
QImage grab(QWidget *window, const QRect &area);
// The control's whole rectangle as the server shows it now.
QImage grab(QWidget *control);

// Empty when `after` shows a focus indication over `before`; else what falls short.
QString problem(const QImage &before, const QImage &after);

// Waits (a few seconds at most) for the area to show a focus indication over `before`, as the
// control repaints; returns the last problem, empty once it shows.
QString waitForRing(QWidget *window, const QRect &area, const QImage &before, QImage *after = nullptr);

} // namespace FocusRingCheck
