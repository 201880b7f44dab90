#include "signin/widgets/SignInSymbols.h"

#include "kit/widgets/KavrelSymbols.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <functional>

namespace SignInSymbols {

namespace {

// Drawings on a 24 × 24 grid, like the kit's: the painter is scaled to the grid, the brush
// holds the colour.
using Drawing = std::function<void(QPainter &)>;

void stroke(QPainter &painter, const QPainterPath &path, qreal width)
{
    painter.strokePath(path, QPen(painter.brush().color(), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

QPainterPath checkTick(QPointF origin, qreal scale)
{
    QPainterPath path;
    path.moveTo(origin + QPointF(-4, 0) * scale);
    path.lineTo(origin + QPointF(-1, 3) * scale);
    path.lineTo(origin + QPointF(4.5, -3.5) * scale);
    return path;
}

QPainterPath shield()
{
    QPainterPath path;
    path.moveTo(12, 2.5);
    path.cubicTo(15, 4.2, 17.5, 5, 20, 5.2);
    path.cubicTo(20, 13, 17.5, 18.5, 12, 21.5);
    path.cubicTo(6.5, 18.5, 4, 13, 4, 5.2);
    path.cubicTo(6.5, 5, 9, 4.2, 12, 2.5);
    path.closeSubpath();
    return path;
}

const QHash<QString, Drawing> &drawings()
{
    static const QHash<QString, Drawing> table = {
        {QStringLiteral("paperplane"), [](QPainter &p) {
             QPainterPath path;
             path.moveTo(21, 3);
             path.lineTo(3, 10.5);
             path.lineTo(10, 13.5);
             path.lineTo(13.5, 21);
             path.closeSubpath();
             path.moveTo(21, 3);
             path.lineTo(10, 13.5);
             stroke(p, path, 1.8);
         }},
        {QStringLiteral("lock.shield"), [](QPainter &p) {
             stroke(p, shield(), 1.7);
             p.drawRoundedRect(QRectF(8.5, 11, 7, 5.5), 1, 1);
             QPainterPath shackle;
             shackle.moveTo(10, 11);
             shackle.lineTo(10, 9.5);
             shackle.cubicTo(10, 7, 14, 7, 14, 9.5);
             shackle.lineTo(14, 11);
             stroke(p, shackle, 1.5);
         }},
        {QStringLiteral("checkmark.shield"), [](QPainter &p) {
             stroke(p, shield(), 1.7);
             stroke(p, checkTick(QPointF(12, 12), 0.8), 1.9);
         }},
        {QStringLiteral("person.badge.plus"), [](QPainter &p) {
             p.drawEllipse(QPointF(9.5, 7.5), 3.8, 3.8);
             QPainterPath body;
             body.moveTo(2.5, 20.5);
             body.cubicTo(2.5, 15, 6, 13, 9.5, 13);
             body.cubicTo(13, 13, 16.5, 15, 16.5, 20.5);
             body.closeSubpath();
             p.drawPath(body);
             QPainterPath plus;
             plus.moveTo(19, 8);
             plus.lineTo(19, 14);
             plus.moveTo(16, 11);
             plus.lineTo(22, 11);
             stroke(p, plus, 1.9);
         }},
        {QStringLiteral("qrcode"), [](QPainter &p) {
             for (const QPointF corner : {QPointF(3, 3), QPointF(14, 3), QPointF(3, 14)}) {
                 QPainterPath frame;
                 frame.addRoundedRect(QRectF(corner, QSizeF(7, 7)), 1.2, 1.2);
                 stroke(p, frame, 1.6);
                 p.drawRect(QRectF(corner + QPointF(2.3, 2.3), QSizeF(2.4, 2.4)));
             }
             for (const QPointF cell : {QPointF(14, 14), QPointF(18.5, 14), QPointF(16.25, 16.5), QPointF(14, 19),
                                        QPointF(18.5, 19)})
                 p.drawRect(QRectF(cell, QSizeF(2.5, 2.5)));
         }},
        {QStringLiteral("exclamationmark"), [](QPainter &p) {
             QPainterPath bar;
             bar.moveTo(12, 4);
             bar.lineTo(12, 14.5);
             stroke(p, bar, 3.2);
             p.drawEllipse(QPointF(12, 19.5), 1.9, 1.9);
         }},
        {QStringLiteral("mic.badge.plus"), [](QPainter &p) {
             QPainterPath body;
             body.addRoundedRect(QRectF(6, 2.5, 7, 12), 3.5, 3.5);
             p.drawPath(body);
             QPainterPath stand;
             stand.moveTo(3.5, 11);
             stand.cubicTo(3.5, 15, 6.5, 17.5, 9.5, 17.5);
             stand.cubicTo(12.5, 17.5, 15.5, 15, 15.5, 11);
             stand.moveTo(9.5, 17.5);
             stand.lineTo(9.5, 21);
             stroke(p, stand, 1.7);
             QPainterPath plus;
             plus.moveTo(19.5, 13);
             plus.lineTo(19.5, 20);
             plus.moveTo(16, 16.5);
             plus.lineTo(23, 16.5);
             stroke(p, plus, 1.9);
         }},
        {QStringLiteral("clock.fill"), [](QPainter &p) {
             QPainterPath face;
             face.addEllipse(QPointF(12, 12), 9.5, 9.5);
             QPainterPath hands;
             hands.moveTo(12, 6.5);
             hands.lineTo(12, 12);
             hands.lineTo(15.5, 14);
             QPainterPathStroker stroker;
             stroker.setWidth(2);
             stroker.setCapStyle(Qt::RoundCap);
             p.drawPath(face.subtracted(stroker.createStroke(hands)));
         }},
        {QStringLiteral("checkmark.circle.fill"), [](QPainter &p) {
             QPainterPath face;
             face.addEllipse(QPointF(12, 12), 9.5, 9.5);
             QPainterPathStroker stroker;
             stroker.setWidth(2.2);
             stroker.setCapStyle(Qt::RoundCap);
             stroker.setJoinStyle(Qt::RoundJoin);
             p.drawPath(face.subtracted(stroker.createStroke(checkTick(QPointF(12, 12.3), 1.0))));
         }},
        {QStringLiteral("circle.dashed"), [](QPainter &p) {
             QPen pen(p.brush().color(), 1.8, Qt::CustomDashLine, Qt::RoundCap);
             pen.setDashPattern({1.6, 2.2});
             p.strokePath([] {
                 QPainterPath circle;
                 circle.addEllipse(QPointF(12, 12), 9, 9);
                 return circle;
             }(), pen);
         }},
        {QStringLiteral("checkmark.seal.fill"), [](QPainter &p) {
             QPainterPath seal;
             constexpr int points = 12;
             for (int i = 0; i < points * 2; ++i) {
                 const qreal angle = M_PI * 2 * i / (points * 2) - M_PI / 2;
                 const qreal radius = i % 2 == 0 ? 10.5 : 8.8;
                 const QPointF point(12 + radius * std::cos(angle), 12 + radius * std::sin(angle));
                 if (i == 0)
                     seal.moveTo(point);
                 else
                     seal.lineTo(point);
             }
             seal.closeSubpath();
             QPainterPathStroker stroker;
             stroker.setWidth(2.2);
             stroker.setCapStyle(Qt::RoundCap);
             stroker.setJoinStyle(Qt::RoundJoin);
             p.drawPath(seal.subtracted(stroker.createStroke(checkTick(QPointF(12, 12.3), 0.95))));
         }},
        {QStringLiteral("menubar.rectangle"), [](QPainter &p) {
             QPainterPath frame;
             frame.addRoundedRect(QRectF(2.5, 4, 19, 16), 2.5, 2.5);
             stroke(p, frame, 1.7);
             p.drawRect(QRectF(3, 4.5, 18, 4));
         }},
        {QStringLiteral("waveform.badge.magnifyingglass"), [](QPainter &p) {
             QPainterPath wave;
             const qreal heights[] = {4, 10, 16, 8, 12};
             for (int i = 0; i < 5; ++i) {
                 const qreal x = 2.5 + i * 3.2;
                 wave.moveTo(x, 12 - heights[i] / 2);
                 wave.lineTo(x, 12 + heights[i] / 2);
             }
             stroke(p, wave, 1.8);
             QPainterPath glass;
             glass.addEllipse(QPointF(17.5, 15.5), 3.6, 3.6);
             glass.moveTo(20.2, 18.2);
             glass.lineTo(22.5, 20.5);
             stroke(p, glass, 1.8);
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
    KavrelSymbols::paintGridDrawing(painter, rect, color, *drawing);
}

} // namespace SignInSymbols
