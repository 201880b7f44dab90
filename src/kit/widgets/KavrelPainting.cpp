#include "kit/widgets/KavrelPainting.h"

#include <QCache>
#include <QHashFunctions>
#include <QImage>
#include <QPainter>
#include <QPaintDevice>

#include <algorithm>
#include <cmath>
#include <memory>
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

// Three passes of a box blur on the alpha of an 8-bit alpha image approximate a Gaussian. The
// pixels are reached through one pointer: scanLine() on a non-const image checks for sharing
// (and may copy) on every call.
void blurAlpha(QImage &image, int radius)
{
    if (radius < 1)
        return;
    const int width = image.width();
    const int height = image.height();
    uchar *const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    std::vector<int> line(size_t(std::max(width, height)));
    std::vector<int> out(line.size());
    // `step` walks one line (1 along a row, `stride` down a column); `next` moves to the next line.
    auto pass = [&](int count, int length, qsizetype next, qsizetype step) {
        const int window = radius * 2 + 1;
        for (int index = 0; index < count; ++index) {
            uchar *const start = bits + index * next;
            for (int i = 0; i < length; ++i)
                line[size_t(i)] = start[i * step];
            int sum = 0;
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
                start[i * step] = uchar(out[size_t(i)]);
        }
    };
    for (int round = 0; round < 3; ++round) {
        pass(height, width, stride, 1);
        pass(width, height, 1, stride);
    }
}

// A blurred shadow depends only on the shape (not where it is drawn), its colour, the blur and
// the device pixel ratio; cards and buttons repaint the same few shadows over and over.
struct ShadowKey
{
    QPainterPath shape; // moved so that its bounds start at the origin
    QRgb color;
    qreal blurRadius;
    qreal ratio;
    size_t hash;

    bool operator==(const ShadowKey &other) const
    {
        return hash == other.hash && color == other.color && blurRadius == other.blurRadius && ratio == other.ratio
               && shape == other.shape;
    }
};

size_t qHash(const ShadowKey &key, size_t seed = 0)
{
    return key.hash ^ seed;
}

ShadowKey shadowKey(const QPainterPath &path, const QColor &color, qreal blurRadius, qreal ratio)
{
    ShadowKey key{path.translated(-path.boundingRect().topLeft()), color.rgba(), blurRadius, ratio, 0};
    size_t hash = qHashMulti(0, key.color, blurRadius, ratio, key.shape.elementCount());
    for (int i = 0; i < key.shape.elementCount(); ++i) {
        const QPainterPath::Element element = key.shape.elementAt(i);
        hash = qHashMulti(hash, element.x, element.y, int(element.type));
    }
    key.hash = hash;
    return key;
}

// Shadows are drawn on the thread that paints widgets; one cache per thread needs no lock.
struct ShadowCache
{
    static constexpr qsizetype budgetBytes = 8 * 1024 * 1024;
    QCache<ShadowKey, QImage> images{budgetBytes};
    quint64 renders = 0;
};

ShadowCache &shadowCache()
{
    thread_local ShadowCache cache;
    return cache;
}

QImage renderShadow(const QPainterPath &shape, const QColor &color, qreal blurRadius, qreal ratio, QSize pixels, qreal margin)
{
    // The shape in the alpha channel only, blurred at device resolution.
    QImage mask(pixels, QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter maskPainter(&mask);
        maskPainter.setRenderHint(QPainter::Antialiasing);
        maskPainter.scale(ratio, ratio);
        maskPainter.translate(margin, margin);
        maskPainter.fillPath(shape, Qt::black);
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
    ++shadowCache().renders;
    return shadow;
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
    ShadowCache &cache = shadowCache();
    ShadowKey key = shadowKey(path, color, blurRadius, ratio);
    // Sized from the moved shape, so that one key always gives one image.
    const QSizeF size = key.shape.boundingRect().size() + QSizeF(margin * 2, margin * 2);
    const QSize pixels(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio)));
    if (pixels.isEmpty())
        return;
    if (const QImage *cached = cache.images.object(key)) {
        painter.drawImage(area.topLeft(), *cached);
        return;
    }
    auto shadow = std::make_unique<QImage>(renderShadow(key.shape, color, blurRadius, ratio, pixels, margin));
    painter.drawImage(area.topLeft(), *shadow);
    const qsizetype cost = shadow->sizeInBytes();
    // One shadow larger than the whole budget is drawn but not kept.
    if (cost <= ShadowCache::budgetBytes)
        cache.images.insert(std::move(key), shadow.release(), cost);
}

quint64 softShadowRenderCount()
{
    return shadowCache().renders;
}

void clearSoftShadowCache()
{
    shadowCache().images.clear();
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
