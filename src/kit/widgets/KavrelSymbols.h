#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>
#include <QString>

#include <functional>

class QPainter;

// Symbols by their design names ("mic.fill", "stop.fill", "checkmark", ...). Each one is looked
// up in the desktop's icon theme by its freedesktop name first; where the theme lacks it, the
// program draws it. Either way it comes out in one colour, the one the caller resolved from
// the palette, and is drawn at the device's resolution.
namespace KavrelSymbols {

// The freedesktop icon names tried for a symbol, best first; empty for symbols no theme has.
QStringList themeNames(const QString &symbol);
// True when the program can draw the symbol itself.
bool canDraw(const QString &symbol);

// Paints the symbol into `rect` (kept square, centred) in `color`.
void paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color);
// Paints a screen's own drawing made on the symbols' 24 × 24 grid into `rect` (kept square,
// centred), with `color` as brush and no pen. It is drawn on a transparent layer of its own
// first, so a drawing may clear holes into itself.
void paintGridDrawing(QPainter &painter, const QRectF &rect, const QColor &color,
                      const std::function<void(QPainter &)> &draw);
// The same as an icon for menus and actions; disabled modes are drawn at half opacity.
QIcon icon(const QString &symbol, const QColor &color);

// Skips the icon theme, for screenshots that must not depend on the machine's theme.
void setUsesIconTheme(bool enabled);

} // namespace KavrelSymbols
