#pragma once

#include <QColor>

class QPainter;
class QPainterPath;
class QPalette;
class QWidget;

// The one focus indication every control of the program draws, as the desktop's toolkits draw
// theirs: a solid ring in the accent colour along the control's edge, shown while the control
// has the keyboard and its window is being used from the keyboard (any key pressed in it since
// the last click there; a click or a newly shown window shows none). A text field shows it
// whenever it has the keyboard, as the desktop's entries do. Main thread only.
namespace KavrelFocusRing {

// The ring's line width, in device-independent pixels.
inline constexpr double width = 2;

// Whether the control should draw its focus ring now.
bool shows(const QWidget *control);

// The ring's colour where it lies over `under` (a control's face, or what lies behind it; a
// translucent colour counts as laid over the palette's window colour): the accent, made lighter
// or darker until it stands out from `under` well beyond the 3 : 1 a focus indication needs.
QColor color(const QPalette &palette, const QColor &under);

// Strokes `centreLine` with the ring when the control shows it. The caller gives the line
// `width` / 2 inside the control's edge so the ring keeps within the control.
void paint(QPainter &painter, const QWidget *control, const QPainterPath &centreLine, const QColor &under);

} // namespace KavrelFocusRing
