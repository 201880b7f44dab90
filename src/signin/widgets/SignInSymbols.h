#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

// The symbols of the sign-in and onboarding screens that the kit does not draw (paper plane,
// shield, QR code, seal, ...), drawn in one colour like the kit's; every other name goes
// to KavrelSymbols.
namespace SignInSymbols {

void paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color);

} // namespace SignInSymbols
