#include "screens/widgets/KavrelScreenSymbols.h"

#include "kit/widgets/KavrelSymbols.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <functional>

namespace KavrelScreenSymbols {

namespace {

// Drawings on a 24 × 24 grid; the painter comes scaled to it, its brush in the symbol's colour.
using Drawing = std::function<void(QPainter &)>;

void stroke(QPainter &painter, const QPainterPath &path, qreal width = 1.8)
{
    painter.strokePath(path, QPen(painter.brush().color(), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

QPainterPath roundedRect(qreal x, qreal y, qreal w, qreal h, qreal r)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), r, r);
    return path;
}

QPainterPath line(QPointF from, QPointF to)
{
    QPainterPath path;
    path.moveTo(from);
    path.lineTo(to);
    return path;
}

QPainterPath circle(QPointF centre, qreal radius)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

QPainterPath chevron(QPointF tip, qreal size, bool right)
{
    QPainterPath path;
    const qreal direction = right ? -1 : 1;
    path.moveTo(tip.x() + direction * size, tip.y() - size * 1.6);
    path.lineTo(tip);
    path.lineTo(tip.x() + direction * size, tip.y() + size * 1.6);
    return path;
}

QPainterPath personShape(QPointF centre, qreal scale)
{
    QPainterPath path = circle(centre + QPointF(0, -3.6 * scale), 3.4 * scale);
    QPainterPath body;
    body.moveTo(centre.x() - 6.5 * scale, centre.y() + 7.5 * scale);
    body.cubicTo(centre.x() - 6.5 * scale, centre.y() + 2 * scale, centre.x() - 3 * scale, centre.y() + 1.2 * scale,
                 centre.x(), centre.y() + 1.2 * scale);
    body.cubicTo(centre.x() + 3 * scale, centre.y() + 1.2 * scale, centre.x() + 6.5 * scale, centre.y() + 2 * scale,
                 centre.x() + 6.5 * scale, centre.y() + 7.5 * scale);
    path.addPath(body);
    return path;
}

QPainterPath arrowDown(QPointF centre, qreal size)
{
    QPainterPath path = line(centre + QPointF(0, -size), centre + QPointF(0, size));
    path.moveTo(centre + QPointF(-size * 0.75, size * 0.2));
    path.lineTo(centre + QPointF(0, size));
    path.lineTo(centre + QPointF(size * 0.75, size * 0.2));
    return path;
}

const QHash<QString, Drawing> &drawings()
{
    static const QHash<QString, Drawing> table = {
        {QStringLiteral("rectangle.split.3x1"), [](QPainter &p) {
             stroke(p, roundedRect(2.5, 5, 19, 14, 2.5));
             stroke(p, line({8.8, 5}, {8.8, 19}));
             stroke(p, line({15.2, 5}, {15.2, 19}));
         }},
        {QStringLiteral("person.crop.circle"), [](QPainter &p) {
             stroke(p, circle({12, 12}, 9.5));
             QPainterPath clip = circle({12, 12}, 9.5);
             p.save();
             p.setClipPath(clip);
             stroke(p, personShape({12, 12.6}, 0.95));
             p.restore();
         }},
        {QStringLiteral("clock.arrow.circlepath"), [](QPainter &p) {
             QPainterPath arc;
             arc.arcMoveTo(QRectF(2.5, 2.5, 19, 19), 150);
             arc.arcTo(QRectF(2.5, 2.5, 19, 19), 150, -300);
             stroke(p, arc);
             QPainterPath head;
             head.moveTo(2.2, 6.8);
             head.lineTo(4.3, 10.4);
             head.lineTo(7.9, 8.6);
             stroke(p, head);
             QPainterPath hands = line({12, 7.5}, {12, 12});
             hands.lineTo(15, 14);
             stroke(p, hands);
         }},
        {QStringLiteral("arrow.down.circle.fill"), [](QPainter &p) {
             const QColor color = p.brush().color();
             p.fillPath(circle({12, 12}, 10), color);
             QPainterPath arrow = arrowDown({12, 12}, 5.2);
             p.setCompositionMode(QPainter::CompositionMode_Clear);
             p.strokePath(arrow, QPen(Qt::black, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
         }},
        {QStringLiteral("chevron.right"), [](QPainter &p) { stroke(p, chevron({16, 12}, 4.5, true), 2.6); }},
        {QStringLiteral("arrow.up.right"), [](QPainter &p) {
             QPainterPath path = line({6, 18}, {18, 6});
             path.moveTo(8.5, 6);
             path.lineTo(18, 6);
             path.lineTo(18, 15.5);
             stroke(p, path, 2.4);
         }},
        {QStringLiteral("sidebar.left"), [](QPainter &p) {
             stroke(p, roundedRect(2.5, 4.5, 19, 15, 3));
             stroke(p, line({9, 4.5}, {9, 19.5}));
             stroke(p, line({4.9, 8.5}, {6.6, 8.5}), 1.5);
             stroke(p, line({4.9, 11.5}, {6.6, 11.5}), 1.5);
             stroke(p, line({4.9, 14.5}, {6.6, 14.5}), 1.5);
         }},
        {QStringLiteral("desktopcomputer"), [](QPainter &p) {
             stroke(p, roundedRect(2.5, 3.5, 19, 13, 2));
             stroke(p, line({12, 16.5}, {12, 20}));
             stroke(p, line({8, 20.5}, {16, 20.5}));
         }},
        {QStringLiteral("sun.max"), [](QPainter &p) {
             stroke(p, circle({12, 12}, 4.2));
             for (int i = 0; i < 8; ++i) {
                 const qreal angle = i * M_PI / 4;
                 stroke(p, line({12 + 7 * std::cos(angle), 12 + 7 * std::sin(angle)},
                                {12 + 9.6 * std::cos(angle), 12 + 9.6 * std::sin(angle)}));
             }
         }},
        {QStringLiteral("moon.fill"), [](QPainter &p) {
             QPainterPath moon = circle({11.5, 12.5}, 8.5);
             moon = moon.subtracted(circle({17, 7.5}, 7.5));
             p.fillPath(moon, p.brush());
         }},
        {QStringLiteral("macwindow.on.rectangle"), [](QPainter &p) {
             stroke(p, roundedRect(6.5, 2.5, 15, 11, 2));
             stroke(p, line({6.5, 6}, {21.5, 6}), 1.4);
             QPainterPath back;
             back.moveTo(6.5, 8.5);
             back.lineTo(4.5, 8.5);
             back.quadTo(2.5, 8.5, 2.5, 10.5);
             back.lineTo(2.5, 19.5);
             back.quadTo(2.5, 21.5, 4.5, 21.5);
             back.lineTo(14.5, 21.5);
             back.quadTo(16.5, 21.5, 16.5, 19.5);
             back.lineTo(16.5, 13.5);
             stroke(p, back);
         }},
        {QStringLiteral("creditcard"), [](QPainter &p) {
             stroke(p, roundedRect(2.5, 5, 19, 14, 2.5));
             stroke(p, line({2.5, 9.5}, {21.5, 9.5}), 2.2);
             stroke(p, line({5.5, 15}, {9.5, 15}));
         }},
        {QStringLiteral("checkmark.seal"), [](QPainter &p) {
             QPainterPath seal;
             const int points = 12;
             for (int i = 0; i <= points * 2; ++i) {
                 const qreal angle = i * M_PI / points;
                 const qreal radius = (i % 2 == 0) ? 10 : 8.6;
                 const QPointF point(12 + radius * std::cos(angle), 12 + radius * std::sin(angle));
                 if (i == 0)
                     seal.moveTo(point);
                 else
                     seal.lineTo(point);
             }
             stroke(p, seal, 1.5);
             QPainterPath check;
             check.moveTo(8, 12.2);
             check.lineTo(10.8, 15);
             check.lineTo(16, 9.2);
             stroke(p, check);
         }},
        {QStringLiteral("waveform.badge.mic"), [](QPainter &p) {
             const qreal heights[] = {4, 9, 14, 7, 11};
             for (int i = 0; i < 5; ++i) {
                 const qreal x = 2.5 + i * 3;
                 stroke(p, line({x, 12 - heights[i] / 2}, {x, 12 + heights[i] / 2}));
             }
             stroke(p, roundedRect(17, 9, 4.2, 7, 2.1), 1.5);
             QPainterPath stand;
             stand.moveTo(15.8, 14.5);
             stand.cubicTo(15.8, 18.5, 22.4, 18.5, 22.4, 14.5);
             stand.moveTo(19.1, 18);
             stand.lineTo(19.1, 20.5);
             stroke(p, stand, 1.4);
         }},
    };
    return table;
}

} // namespace

bool canDraw(const QString &symbol)
{
    return drawings().contains(symbol) || KavrelSymbols::canDraw(symbol);
}

void paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color)
{
    const auto found = drawings().constFind(symbol);
    if (found == drawings().constEnd()) {
        KavrelSymbols::paint(painter, rect, symbol, color);
        return;
    }
    // Drawn on a layer of its own so a drawing may cut holes into itself.
    KavrelSymbols::paintGridDrawing(painter, rect, color, *found);
}

} // namespace KavrelScreenSymbols
