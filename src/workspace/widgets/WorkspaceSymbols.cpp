#include "workspace/widgets/WorkspaceSymbols.h"

#include "kit/widgets/KavrelSymbols.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace WorkspaceSymbols {
namespace {

// Drawings on a 24 × 24 grid, pen and brush in the symbol's colour.
using Drawing = std::function<void(QPainter &, const QColor &)>;

void stroke(QPainter &p, const QPainterPath &path, const QColor &color, qreal width)
{
    p.strokePath(path, QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

QPainterPath arrowHead(QPointF tip, bool pointsUp)
{
    QPainterPath path;
    const qreal dy = pointsUp ? 4 : -4;
    path.moveTo(tip.x() - 4, tip.y() + dy);
    path.lineTo(tip);
    path.lineTo(tip.x() + 4, tip.y() + dy);
    return path;
}

void sizeLetter(QPainter &p, const QColor &color, qreal height)
{
    // A capital A standing on the baseline of the grid.
    QPainterPath path;
    const qreal base = 20;
    const qreal half = height * 0.42;
    path.moveTo(12 - half, base);
    path.lineTo(12, base - height);
    path.lineTo(12 + half, base);
    path.moveTo(12 - half * 0.55, base - height * 0.38);
    path.lineTo(12 + half * 0.55, base - height * 0.38);
    stroke(p, path, color, 2.2);
}

const QHash<QString, Drawing> &drawings()
{
    static const QHash<QString, Drawing> table = {
        {QStringLiteral("plus.circle"), [](QPainter &p, const QColor &c) {
             QPainterPath path;
             path.addEllipse(QPointF(12, 12), 9, 9);
             path.moveTo(12, 7.5);
             path.lineTo(12, 16.5);
             path.moveTo(7.5, 12);
             path.lineTo(16.5, 12);
             stroke(p, path, c, 1.9);
         }},
        {QStringLiteral("exclamationmark.triangle.fill"), [](QPainter &p, const QColor &c) {
             QPainterPath path;
             path.moveTo(12, 2.5);
             path.lineTo(22.5, 20.5);
             path.lineTo(1.5, 20.5);
             path.closeSubpath();
             p.drawPath(path);
             p.setCompositionMode(QPainter::CompositionMode_Clear);
             QPainterPath mark;
             mark.moveTo(12, 8.5);
             mark.lineTo(12, 14);
             stroke(p, mark, c, 2.4);
             p.drawEllipse(QPointF(12, 17.4), 1.3, 1.3);
             p.setCompositionMode(QPainter::CompositionMode_SourceOver);
         }},
        {QStringLiteral("textformat.size.smaller"), [](QPainter &p, const QColor &c) { sizeLetter(p, c, 12); }},
        {QStringLiteral("textformat.size.larger"), [](QPainter &p, const QColor &c) { sizeLetter(p, c, 18); }},
        {QStringLiteral("rectangle.expand.vertical"), [](QPainter &p, const QColor &c) {
             QPainterPath path;
             path.addRoundedRect(QRectF(4, 8, 16, 8), 2, 2);
             path.moveTo(12, 2);
             path.lineTo(12, 6);
             path.moveTo(12, 18);
             path.lineTo(12, 22);
             path.addPath(arrowHead({12, 2}, true));
             path.addPath(arrowHead({12, 22}, false));
             stroke(p, path, c, 1.8);
         }},
        {QStringLiteral("rectangle.compress.vertical"), [](QPainter &p, const QColor &c) {
             QPainterPath path;
             path.addRoundedRect(QRectF(4, 9, 16, 6), 2, 2);
             path.moveTo(12, 1.5);
             path.lineTo(12, 6.5);
             path.moveTo(12, 17.5);
             path.lineTo(12, 22.5);
             path.addPath(arrowHead({12, 6.5}, false));
             path.addPath(arrowHead({12, 17.5}, true));
             stroke(p, path, c, 1.8);
         }},
        {QStringLiteral("captions.bubble.fill"), [](QPainter &p, const QColor &c) {
             QPainterPath bubble;
             bubble.addRoundedRect(QRectF(2.5, 4, 19, 13), 4, 4);
             bubble.moveTo(7, 16);
             bubble.lineTo(6, 21);
             bubble.lineTo(12, 16.5);
             p.drawPath(bubble.simplified());
             p.setCompositionMode(QPainter::CompositionMode_Clear);
             QPainterPath lines;
             lines.moveTo(6.5, 9);
             lines.lineTo(17.5, 9);
             lines.moveTo(6.5, 12.5);
             lines.lineTo(13.5, 12.5);
             stroke(p, lines, c, 1.8);
             p.setCompositionMode(QPainter::CompositionMode_SourceOver);
         }},
        {QStringLiteral("ear.fill"), [](QPainter &p, const QColor &c) {
             QPainterPath ear;
             ear.moveTo(8, 9);
             ear.cubicTo(8, 4.5, 11, 2.5, 13.5, 2.5);
             ear.cubicTo(16.5, 2.5, 19, 5, 19, 8.5);
             ear.cubicTo(19, 12, 16, 12.5, 15, 15);
             ear.cubicTo(14, 18, 14, 21.5, 10.5, 21.5);
             ear.cubicTo(8.5, 21.5, 7.5, 20, 7.5, 19);
             stroke(p, ear, c, 2.2);
             QPainterPath inner;
             inner.moveTo(11.5, 9.5);
             inner.cubicTo(11.5, 7, 13, 6, 14.5, 6.5);
             inner.cubicTo(16, 7, 16, 9, 14.5, 10.5);
             stroke(p, inner, c, 1.8);
         }},
        {QStringLiteral("record.circle.fill"), [](QPainter &p, const QColor &) {
             QPainterPath ring;
             ring.addEllipse(QPointF(12, 12), 10.5, 10.5);
             ring.addEllipse(QPointF(12, 12), 8.5, 8.5);
             p.drawPath(ring);
             p.drawEllipse(QPointF(12, 12), 5.5, 5.5);
         }},
    };
    return table;
}

} // namespace

void paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color)
{
    const auto drawing = drawings().constFind(symbol);
    if (drawing == drawings().constEnd()) {
        KavrelSymbols::paint(painter, rect, symbol, color);
        return;
    }
    // Cut-outs clear to transparency: the kit draws on a layer of its own first.
    const Drawing &draw = *drawing;
    KavrelSymbols::paintGridDrawing(painter, rect, color, [&draw, &color](QPainter &p) { draw(p, color); });
}

} // namespace WorkspaceSymbols
