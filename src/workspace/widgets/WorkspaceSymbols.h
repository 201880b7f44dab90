#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

// The main window's symbols that the kit does not draw (plus.circle,
// exclamationmark.triangle.fill, textformat.size.smaller/larger, rectangle.compress/expand.vertical,
// captions.bubble.fill, ear.fill, record.circle.fill); every other name goes to KavrelSymbols.
// Icons of the kit's symbols come from KavrelSymbols::icon.
namespace WorkspaceSymbols {
void paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color);
} // namespace WorkspaceSymbols
