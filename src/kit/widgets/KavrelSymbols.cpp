#include "kit/widgets/KavrelSymbols.h"

#include "kit/widgets/KavrelPaintedIcon.h"

#include <QHash>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>

namespace KavrelSymbols {

namespace {

bool usesIconTheme = true;

// Drawings on a 24 × 24 grid. Each gets a painter already scaled to that grid, with the pen and
// brush in the symbol's colour.
using Drawing = std::function<void(QPainter &)>;

QPen strokePen(QPainter &painter, qreal width)
{
    QPen pen(painter.brush().color(), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    return pen;
}

void strokePath(QPainter &painter, const QPainterPath &path, qreal width)
{
    painter.strokePath(path, strokePen(painter, width));
}

QPainterPath micBody()
{
    QPainterPath path;
    path.addRoundedRect(QRectF(8.5, 2.5, 7, 12), 3.5, 3.5);
    return path;
}

QPainterPath micStand()
{
    QPainterPath stand;
    stand.moveTo(5.5, 11);
    stand.cubicTo(5.5, 15, 8.5, 17.5, 12, 17.5);
    stand.cubicTo(15.5, 17.5, 18.5, 15, 18.5, 11);
    stand.moveTo(12, 17.5);
    stand.lineTo(12, 21);
    stand.moveTo(9, 21);
    stand.lineTo(15, 21);
    return stand;
}

QPainterPath arrowLine(QPointF from, QPointF to)
{
    // A line with open arrow heads at both ends.
    QPainterPath path;
    path.moveTo(from);
    path.lineTo(to);
    const QPointF direction = (to - from) / std::hypot(to.x() - from.x(), to.y() - from.y());
    const QPointF normal(-direction.y(), direction.x());
    for (const auto &[tip, back] : {std::pair{to, -direction}, std::pair{from, direction}}) {
        path.moveTo(tip + back * 4 + normal * 4);
        path.lineTo(tip);
        path.lineTo(tip + back * 4 - normal * 4);
    }
    return path;
}

const QHash<QString, Drawing> &drawings()
{
    static const QHash<QString, Drawing> table = {
        {QStringLiteral("mic"), [](QPainter &p) {
             strokePath(p, micBody(), 1.8);
             strokePath(p, micStand(), 1.8);
         }},
        {QStringLiteral("mic.fill"), [](QPainter &p) {
             p.fillPath(micBody(), p.brush());
             strokePath(p, micStand(), 1.8);
         }},
        {QStringLiteral("mic.slash.fill"), [](QPainter &p) {
             // The microphone with a gap cut out on either side of the slash.
             QPainterPath gap;
             gap.moveTo(3.5, 2.5);
             gap.lineTo(20.5, 21.5);
             QPainterPathStroker stroker;
             stroker.setWidth(4.6);
             stroker.setCapStyle(Qt::RoundCap);
             QPainterPath visible;
             visible.addRect(QRectF(0, 0, 24, 24));
             p.save();
             p.setClipPath(visible.subtracted(stroker.createStroke(gap)), Qt::IntersectClip);
             p.fillPath(micBody(), p.brush());
             strokePath(p, micStand(), 1.8);
             p.restore();
             QPainterPath slash;
             slash.moveTo(4, 3);
             slash.lineTo(20, 21);
             strokePath(p, slash, 1.9);
         }},
        {QStringLiteral("stop.fill"), [](QPainter &p) {
             QPainterPath path;
             path.addRoundedRect(QRectF(5, 5, 14, 14), 2.5, 2.5);
             p.fillPath(path, p.brush());
         }},
        {QStringLiteral("ellipsis"), [](QPainter &p) {
             for (qreal x : {5.0, 12.0, 19.0})
                 p.drawEllipse(QPointF(x, 12), 2.1, 2.1);
         }},
        {QStringLiteral("checkmark"), [](QPainter &p) {
             QPainterPath path;
             path.moveTo(4.5, 12.5);
             path.lineTo(9.5, 17.5);
             path.lineTo(19.5, 6.5);
             strokePath(p, path, 2.4);
         }},
        {QStringLiteral("waveform"), [](QPainter &p) {
             QPainterPath path;
             const qreal heights[] = {4, 10, 16, 8, 13, 6, 3};
             for (int i = 0; i < 7; ++i) {
                 const qreal x = 3 + i * 3;
                 path.moveTo(x, 12 - heights[i] / 2);
                 path.lineTo(x, 12 + heights[i] / 2);
             }
             strokePath(p, path, 1.8);
         }},
        {QStringLiteral("character.bubble"), [](QPainter &p) {
             QPainterPath bubble;
             bubble.addRoundedRect(QRectF(2.5, 3.5, 19, 14), 5, 5);
             bubble.moveTo(7, 17.5);
             bubble.lineTo(5.5, 21.5);
             bubble.lineTo(11, 17.5);
             strokePath(p, bubble, 1.7);
             QPainterPath letter;
             letter.moveTo(8.5, 14);
             letter.lineTo(12, 6.5);
             letter.lineTo(15.5, 14);
             letter.moveTo(9.7, 11.5);
             letter.lineTo(14.3, 11.5);
             strokePath(p, letter, 1.6);
         }},
        {QStringLiteral("eye.slash"), [](QPainter &p) {
             QPainterPath eye;
             eye.moveTo(2.5, 12);
             eye.cubicTo(6, 6, 18, 6, 21.5, 12);
             eye.cubicTo(18, 18, 6, 18, 2.5, 12);
             eye.addEllipse(QPointF(12, 12), 3, 3);
             strokePath(p, eye, 1.7);
             QPainterPath slash;
             slash.moveTo(4, 4);
             slash.lineTo(20, 20);
             strokePath(p, slash, 1.8);
         }},
        {QStringLiteral("arrow.up.and.down"), [](QPainter &p) { strokePath(p, arrowLine({12, 3}, {12, 21}), 2.2); }},
        {QStringLiteral("arrow.left.and.right"), [](QPainter &p) { strokePath(p, arrowLine({3, 12}, {21, 12}), 2.2); }},
        {QStringLiteral("rectangle.split.2x1"), [](QPainter &p) {
             QPainterPath path;
             path.addRoundedRect(QRectF(2.5, 5, 19, 14), 2.5, 2.5);
             path.moveTo(12, 5);
             path.lineTo(12, 19);
             strokePath(p, path, 1.7);
         }},
        {QStringLiteral("rectangle.split.1x2"), [](QPainter &p) {
             QPainterPath path;
             path.addRoundedRect(QRectF(4, 2.5, 16, 19), 2.5, 2.5);
             path.moveTo(4, 12);
             path.lineTo(20, 12);
             strokePath(p, path, 1.7);
         }},
        {QStringLiteral("xmark"), [](QPainter &p) {
             QPainterPath path;
             path.moveTo(6, 6);
             path.lineTo(18, 18);
             path.moveTo(18, 6);
             path.lineTo(6, 18);
             strokePath(p, path, 2.2);
         }},
        {QStringLiteral("play.fill"), [](QPainter &p) {
             QPainterPath path;
             path.moveTo(7, 4);
             path.lineTo(20, 12);
             path.lineTo(7, 20);
             path.closeSubpath();
             p.drawPath(path);
         }},
        {QStringLiteral("envelope"), [](QPainter &p) {
             QPainterPath path;
             path.addRoundedRect(QRectF(2.5, 5, 19, 14), 2, 2);
             path.moveTo(3, 6);
             path.lineTo(12, 13);
             path.lineTo(21, 6);
             strokePath(p, path, 1.8);
         }},
        {QStringLiteral("gearshape"), [](QPainter &p) {
             QPainterPath gear;
             constexpr int teeth = 8;
             for (int i = 0; i < teeth * 2; ++i) {
                 const qreal angle = (i * M_PI) / teeth;
                 const qreal radius = (i % 2 == 0) ? 9.6 : 7.4;
                 for (qreal step : {-0.17, 0.17}) {
                     const QPointF point(12 + radius * std::cos(angle + step), 12 + radius * std::sin(angle + step));
                     if (gear.elementCount() == 0)
                         gear.moveTo(point);
                     else
                         gear.lineTo(point);
                 }
             }
             gear.closeSubpath();
             gear.addEllipse(QPointF(12, 12), 3.2, 3.2);
             strokePath(p, gear, 1.6);
         }},
        {QStringLiteral("chevron.up.chevron.down"), [](QPainter &p) {
             QPainterPath path;
             path.moveTo(8, 9.5);
             path.lineTo(12, 5.5);
             path.lineTo(16, 9.5);
             path.moveTo(8, 14.5);
             path.lineTo(12, 18.5);
             path.lineTo(16, 14.5);
             strokePath(p, path, 2);
         }},
        // History browser.
        {QStringLiteral("clock"), [](QPainter &p) {
             QPainterPath path;
             path.addEllipse(QPointF(12, 12), 9, 9);
             path.moveTo(12, 7);
             path.lineTo(12, 12);
             path.lineTo(15.5, 14);
             strokePath(p, path, 1.8);
         }},
        {QStringLiteral("calendar"), [](QPainter &p) {
             QPainterPath path;
             path.addRoundedRect(QRectF(3.5, 5, 17, 15.5), 3, 3);
             path.moveTo(3.5, 10);
             path.lineTo(20.5, 10);
             path.moveTo(8, 3);
             path.lineTo(8, 6.5);
             path.moveTo(16, 3);
             path.lineTo(16, 6.5);
             strokePath(p, path, 1.7);
         }},
        {QStringLiteral("text.alignleft"), [](QPainter &p) {
             QPainterPath path;
             const qreal widths[] = {16, 11, 16, 9};
             for (int i = 0; i < 4; ++i) {
                 path.moveTo(4, 6 + i * 4);
                 path.lineTo(4 + widths[i], 6 + i * 4);
             }
             strokePath(p, path, 1.9);
         }},
        {QStringLiteral("text.word.spacing"), [](QPainter &p) {
             QPainterPath path;
             path.moveTo(3, 9);
             path.lineTo(3, 15);
             path.lineTo(21, 15);
             path.lineTo(21, 9);
             path.moveTo(7, 12);
             path.lineTo(10, 12);
             path.moveTo(14, 12);
             path.lineTo(17, 12);
             strokePath(p, path, 1.8);
         }},
        {QStringLiteral("globe"), [](QPainter &p) {
             QPainterPath path;
             path.addEllipse(QPointF(12, 12), 9, 9);
             path.addEllipse(QPointF(12, 12), 4, 9);
             path.moveTo(3, 12);
             path.lineTo(21, 12);
             strokePath(p, path, 1.6);
         }},
        {QStringLiteral("number"), [](QPainter &p) {
             QPainterPath path;
             path.moveTo(10, 4);
             path.lineTo(8, 20);
             path.moveTo(16, 4);
             path.lineTo(14, 20);
             path.moveTo(4.5, 9);
             path.lineTo(20, 9);
             path.moveTo(4, 15);
             path.lineTo(19.5, 15);
             strokePath(p, path, 1.8);
         }},
        {QStringLiteral("sparkles"), [](QPainter &p) {
             auto star = [](QPointF c, qreal r) {
                 QPainterPath s;
                 s.moveTo(c.x(), c.y() - r);
                 s.quadTo(c, QPointF(c.x() + r, c.y()));
                 s.quadTo(c, QPointF(c.x(), c.y() + r));
                 s.quadTo(c, QPointF(c.x() - r, c.y()));
                 s.quadTo(c, QPointF(c.x(), c.y() - r));
                 return s;
             };
             p.fillPath(star(QPointF(10, 13), 8), p.brush());
             p.fillPath(star(QPointF(18.5, 5.5), 3.5), p.brush());
         }},
        {QStringLiteral("doc.on.doc"), [](QPainter &p) {
             QPainterPath back;
             back.moveTo(8, 5.5);
             back.lineTo(8, 4.5);
             back.quadTo(8, 3, 9.5, 3);
             back.lineTo(18.5, 3);
             back.quadTo(20, 3, 20, 4.5);
             back.lineTo(20, 15.5);
             back.quadTo(20, 17, 18.5, 17);
             back.lineTo(17, 17);
             strokePath(p, back, 1.7);
             QPainterPath front;
             front.addRoundedRect(QRectF(4, 7, 12, 14), 1.8, 1.8);
             strokePath(p, front, 1.7);
         }},
        {QStringLiteral("eye"), [](QPainter &p) {
             QPainterPath eye;
             eye.moveTo(2.5, 12);
             eye.cubicTo(6, 6, 18, 6, 21.5, 12);
             eye.cubicTo(18, 18, 6, 18, 2.5, 12);
             strokePath(p, eye, 1.7);
             p.drawEllipse(QPointF(12, 12), 3.2, 3.2);
         }},
        {QStringLiteral("trash"), [](QPainter &p) {
             QPainterPath path;
             path.moveTo(4, 6.5);
             path.lineTo(20, 6.5);
             path.moveTo(9, 6.5);
             path.lineTo(9.5, 3.5);
             path.lineTo(14.5, 3.5);
             path.lineTo(15, 6.5);
             path.moveTo(6, 6.5);
             path.lineTo(7, 20.5);
             path.lineTo(17, 20.5);
             path.lineTo(18, 6.5);
             path.moveTo(10, 10);
             path.lineTo(10.3, 17);
             path.moveTo(14, 10);
             path.lineTo(13.7, 17);
             strokePath(p, path, 1.7);
         }},
        {QStringLiteral("magnifyingglass"), [](QPainter &p) {
             QPainterPath path;
             path.addEllipse(QPointF(10.5, 10.5), 6.5, 6.5);
             path.moveTo(15.3, 15.3);
             path.lineTo(20.5, 20.5);
             strokePath(p, path, 2.2);
         }},
        {QStringLiteral("xmark.circle.fill"), [](QPainter &p) {
             QPainterPath circle;
             circle.addEllipse(QPointF(12, 12), 10, 10);
             QPainterPath cross;
             cross.moveTo(8.5, 8.5);
             cross.lineTo(15.5, 15.5);
             cross.moveTo(15.5, 8.5);
             cross.lineTo(8.5, 15.5);
             QPainterPathStroker stroker;
             stroker.setWidth(2.2);
             stroker.setCapStyle(Qt::RoundCap);
             p.fillPath(circle.subtracted(stroker.createStroke(cross)), p.brush());
         }},
        {QStringLiteral("person"), [](QPainter &p) {
             QPainterPath path;
             path.addEllipse(QPointF(12, 8), 4, 4);
             path.moveTo(4.5, 20.5);
             path.cubicTo(5, 15, 8, 13.5, 12, 13.5);
             path.cubicTo(16, 13.5, 19, 15, 19.5, 20.5);
             strokePath(p, path, 1.8);
         }},
    };
    return table;
}

// The theme's icon in one colour: its shape (alpha) filled with the colour.
bool paintThemeIcon(QPainter &painter, const QRectF &square, const QString &symbol, const QColor &color)
{
    if (!usesIconTheme)
        return false;
    for (const QString &name : themeNames(symbol)) {
        if (!QIcon::hasThemeIcon(name))
            continue;
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const int side = std::max(1, int(std::lround(square.width())));
        QPixmap pixmap = QIcon::fromTheme(name).pixmap(QSize(side, side), ratio);
        if (pixmap.isNull())
            continue;
        {
            QPainter tint(&pixmap);
            tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tint.fillRect(QRectF(QPointF(0, 0), pixmap.deviceIndependentSize()), color);
        }
        painter.drawPixmap(square, pixmap, QRectF(QPointF(0, 0), QSizeF(pixmap.size())));
        return true;
    }
    return false;
}

} // namespace

QStringList themeNames(const QString &symbol)
{
    static const QHash<QString, QStringList> names = {
        {QStringLiteral("mic"), {QStringLiteral("audio-input-microphone-symbolic"), QStringLiteral("audio-input-microphone")}},
        {QStringLiteral("mic.fill"), {QStringLiteral("audio-input-microphone-symbolic"), QStringLiteral("audio-input-microphone")}},
        {QStringLiteral("mic.slash.fill"), {QStringLiteral("microphone-disabled-symbolic"), QStringLiteral("audio-input-microphone-muted")}},
        {QStringLiteral("stop.fill"), {QStringLiteral("media-playback-stop-symbolic"), QStringLiteral("media-playback-stop")}},
        {QStringLiteral("ellipsis"), {QStringLiteral("view-more-horizontal-symbolic"), QStringLiteral("view-more-horizontal")}},
        {QStringLiteral("checkmark"), {QStringLiteral("object-select-symbolic"), QStringLiteral("object-select")}},
        {QStringLiteral("eye.slash"), {QStringLiteral("view-conceal-symbolic"), QStringLiteral("view-hidden")}},
        {QStringLiteral("xmark"), {QStringLiteral("window-close-symbolic"), QStringLiteral("window-close")}},
    };
    return names.value(symbol);
}

bool canDraw(const QString &symbol)
{
    return drawings().contains(symbol);
}

void paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color)
{
    const qreal side = std::min(rect.width(), rect.height());
    if (side <= 0)
        return;
    const QRectF square(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!paintThemeIcon(painter, square, symbol, color)) {
        painter.translate(square.topLeft());
        painter.scale(side / 24.0, side / 24.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        const auto drawing = drawings().constFind(symbol);
        if (drawing != drawings().constEnd()) {
            (*drawing)(painter);
        } else {
            // An unknown symbol still takes its place, as a dot.
            painter.drawEllipse(QPointF(12, 12), 3, 3);
        }
    }
    painter.restore();
}

void paintGridDrawing(QPainter &painter, const QRectF &rect, const QColor &color,
                      const std::function<void(QPainter &)> &draw)
{
    const qreal side = std::min(rect.width(), rect.height());
    if (side <= 0)
        return;
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const int pixels = std::max(1, int(std::ceil(side * ratio)));
    QImage layer(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    {
        QPainter layerPainter(&layer);
        layerPainter.setRenderHint(QPainter::Antialiasing);
        layerPainter.scale(side / 24.0, side / 24.0);
        layerPainter.setPen(Qt::NoPen);
        layerPainter.setBrush(color);
        draw(layerPainter);
    }
    const QRectF square(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(square, layer);
    painter.restore();
}

QIcon icon(const QString &symbol, const QColor &color)
{
    return kavrelPaintedIcon([symbol, color](QPainter &painter, const QRectF &rect, QIcon::Mode mode) {
        QColor shown = color;
        if (mode == QIcon::Disabled)
            shown.setAlphaF(shown.alphaF() * 0.5f);
        paint(painter, rect, symbol, shown);
    });
}

void setUsesIconTheme(bool enabled)
{
    usesIconTheme = enabled;
}

} // namespace KavrelSymbols
