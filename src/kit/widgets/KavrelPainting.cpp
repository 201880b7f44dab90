#include "kit/widgets/KavrelPainting.h"

#include <QImage>
#include <QPainter>
#include <QPaintDevice>

#include <algorithm>
#include <cmath>
#include <vector>

namespace KavrelPainting {

namespace {

// The corner of a continuous rounded rectangle reaches this many radii along each edge.
constexpr qreal cornerReach = 1.52866483;

// Adds one corner: `corner` is the rectangle's corner point, `along` the unit vector of the edge
// arriving at it and `turn` the unit vector of the edge leaving it.
void addCorner(QPainterPath &path, QPointF corner, QPointF along, QPointF turn, qreal r)
{
    // Points of the corner, as (distance back along the arriving edge, distance along the leaving edge).
    auto at = [&](qreal back, qreal forward) { return corner - along * (back * r) + turn * (forward * r); };
    path.lineTo(at(cornerReach, 0));
    path.cubicTo(at(1.08849323, 0), at(0.86840689, 0), at(0.66993427, 0.06549600));
    path.lineTo(at(0.63149399, 0.07491100));
    path.cubicTo(at(0.37282392, 0.16905899), at(0.16906013, 0.37282401), at(0.07491100, 0.63149399));
    path.lineTo(at(0.06549600, 0.66993427));
    path.cubicTo(at(0, 0.86840689), at(0, 1.08849323), at(0, cornerReach));
}

// Three passes of a box blur on the alpha of a premultiplied image approximate a Gaussian.
void blurAlpha(QImage &image, int radius)
{
    if (radius < 1)
        return;
    const int width = image.width();
    const int height = image.height();
    std::vector<int> line(size_t(std::max(width, height)));
    std::vector<int> out(line.size());
    auto pass = [&](int count, int length, auto get, auto set) {
        for (int index = 0; index < count; ++index) {
            for (int i = 0; i < length; ++i)
                line[size_t(i)] = get(index, i);
            int sum = 0;
            const int window = radius * 2 + 1;
            for (int i = -radius; i <= radius; ++i)
                sum += (i >= 0 && i < length) ? line[size_t(i)] : 0;
            for (int i = 0; i < length; ++i) {
                out[size_t(i)] = sum / window;
                const int leaving = i - radius;
                const int entering = i + radius + 1;
                if (leaving >= 0)
                    sum -= line[size_t(leaving)];
                if (entering < length)
                    sum += line[size_t(entering)];
            }
            for (int i = 0; i < length; ++i)
                set(index, i, out[size_t(i)]);
        }
    };
    for (int round = 0; round < 3; ++round) {
        pass(height, width, [&](int y, int x) { return int(image.scanLine(y)[x]); },
             [&](int y, int x, int v) { image.scanLine(y)[x] = uchar(v); });
        pass(width, height, [&](int x, int y) { return int(image.scanLine(y)[x]); },
             [&](int x, int y, int v) { image.scanLine(y)[x] = uchar(v); });
    }
}

} // namespace

QPainterPath continuousRoundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    if (rect.isEmpty())
        return path;
    const qreal shorter = std::min(rect.width(), rect.height());
    radius = std::max<qreal>(0, std::isfinite(radius) ? radius : 0);
    if (radius * cornerReach > shorter / 2) {
        // The smooth corner no longer fits; a plain round corner of the largest size does.
        path.addRoundedRect(rect, std::min(radius, shorter / 2), std::min(radius, shorter / 2));
        return path;
    }
    if (radius <= 0) {
        path.addRect(rect);
        return path;
    }
    const QPointF right(1, 0), down(0, 1);
    path.moveTo(rect.left() + cornerReach * radius, rect.top());
    addCorner(path, rect.topRight(), right, down, radius);
    addCorner(path, rect.bottomRight(), down, -right, radius);
    addCorner(path, rect.bottomLeft(), -right, -down, radius);
    addCorner(path, rect.topLeft(), -down, right, radius);
    path.closeSubpath();
    return path;
}

QColor blend(const QColor &from, const QColor &to, qreal progress)
{
    const auto mix = [progress](float a, float b) { return float(a + (b - a) * progress); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()), mix(from.blueF(), to.blueF()),
                            mix(from.alphaF(), to.alphaF()));
}

QPainterPath capsule(const QRectF &rect)
{
    QPainterPath path;
    if (rect.isEmpty())
        return path;
    const qreal radius = std::min(rect.width(), rect.height()) / 2;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void fillAndStroke(QPainter &painter, const QPainterPath &path, const QColor &fill, const QColor &stroke, qreal lineWidth)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, fill);
    if (stroke.alpha() > 0 && lineWidth > 0) {
        // Clip to the shape so the whole line width lies inside it, as a border does.
        painter.setClipPath(path, Qt::IntersectClip);
        QPen pen(stroke, lineWidth * 2);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.strokePath(path, pen);
    }
    painter.restore();
}

void fillGradient(QPainter &painter, const QPainterPath &path, const QColor &from, const QColor &to, bool vertical)
{
    const QRectF bounds = path.boundingRect();
    QLinearGradient gradient(bounds.topLeft(), vertical ? bounds.bottomLeft() : bounds.bottomRight());
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, gradient);
    painter.restore();
}

void drawSoftShadow(QPainter &painter, const QPainterPath &path, const QColor &color, qreal blurRadius, QPointF offset)
{
    if (path.isEmpty() || color.alpha() == 0)
        return;
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const qreal margin = std::max<qreal>(0, blurRadius) * 2;
    const QRectF area = path.boundingRect().translated(offset).adjusted(-margin, -margin, margin, margin);
    const QSize pixels(int(std::ceil(area.width() * ratio)), int(std::ceil(area.height() * ratio)));
    if (pixels.isEmpty())
        return;

    // The shape in the alpha channel only, blurred at device resolution.
    QImage mask(pixels, QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter maskPainter(&mask);
        maskPainter.setRenderHint(QPainter::Antialiasing);
        maskPainter.scale(ratio, ratio);
        maskPainter.translate(-area.topLeft() + offset);
        maskPainter.fillPath(path, Qt::black);
    }
    blurAlpha(mask, int(std::round(blurRadius * ratio / 2)));

    QImage shadow(pixels, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(color);
    {
        QPainter tint(&shadow);
        tint.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        tint.drawImage(0, 0, mask);
    }
    shadow.setDevicePixelRatio(ratio);
    painter.drawImage(area.topLeft(), shadow);
}

void drawSpinner(QPainter &painter, const QRectF &rect, const QColor &color, qreal phase)
{
    const qreal side = std::min(rect.width(), rect.height());
    const qreal width = std::max<qreal>(1.5, side / 8);
    const QRectF square(rect.center().x() - side / 2 + width / 2, rect.center().y() - side / 2 + width / 2,
                        side - width, side - width);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QColor track = color;
    track.setAlphaF(color.alphaF() * 0.2f);
    painter.setPen(QPen(track, width));
    painter.drawEllipse(square);
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    const int start = int(std::lround(-phase * 360.0 * 16)) + 90 * 16;
    painter.drawArc(square, start, -100 * 16);
    painter.restore();
}

} // namespace KavrelPainting
