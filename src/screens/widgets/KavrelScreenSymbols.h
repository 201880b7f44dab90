#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

// The symbols of the shell, settings and profile screens that the kit does not draw
// (sections, settings, account and billing rows). Anything else goes to KavrelSymbols.
namespace KavrelScreenSymbols {

bool canDraw(const QString &symbol);
// Paints the symbol into `rect` (kept square, centred) in `color`.
void paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color);

} // namespace KavrelScreenSymbols
