#include "kit/widgets/KavrelOpaqueBackdrop.h"

#include <QEvent>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <cmath>
#include <cstring>

namespace {

bool paintsEveryPixel(const QWidget *widget)
{
    if (widget->isWindow() || widget->testAttribute(Qt::WA_OpaquePaintEvent))
        return true;
    return widget->autoFillBackground() && widget->palette().brush(widget->backgroundRole()).isOpaque();
}

bool changesTheLook(QEvent::Type type)
{
    switch (type) {
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::Show:
    case QEvent::ParentChange:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::EnabledChange:
        return true;
    default:
        return false;
    }
}

// Qt leaves an opaque widget's area out of what the widgets below it repaint. A repaint of one
// of them that reaches this area on two sides or more was a repaint of a whole of it across the
// area (a new accent, a tint); one along a single side is a neighbour's (a scroll bar beside it).
bool surrounds(const QRegion &repainted, const QRect &area)
{
    bool left = false;
    bool right = false;
    bool top = false;
    bool bottom = false;
    for (const QRect &part : repainted) {
        const bool acrossRows = part.top() <= area.bottom() && part.bottom() >= area.top();
        const bool acrossColumns = part.left() <= area.right() && part.right() >= area.left();
        left = left || (acrossRows && part.right() == area.left() - 1);
        right = right || (acrossRows && part.left() == area.right() + 1);
        top = top || (acrossColumns && part.bottom() == area.top() - 1);
        bottom = bottom || (acrossColumns && part.top() == area.bottom() + 1);
    }
    return int(left) + int(right) + int(top) + int(bottom) >= 2;
}

// The widest band of rows around the middle one that are each the same as it, in logical
// pixels: whole logical rows only.
QRect steadyRowsOf(const QImage &picture, qreal ratio)
{
    const int height = picture.height();
    if (height == 0)
        return {};
    const qsizetype rowBytes = qsizetype(picture.width()) * picture.depth() / 8;
    const int middle = height / 2;
    const auto sameAsMiddle = [&](int row) {
        return std::memcmp(picture.constScanLine(row), picture.constScanLine(middle), size_t(rowBytes)) == 0;
    };
    int top = middle;
    while (top > 0 && sameAsMiddle(top - 1))
        --top;
    int bottom = middle;
    while (bottom + 1 < height && sameAsMiddle(bottom + 1))
        ++bottom;
    const int first = int(std::ceil(top / ratio));
    const int last = int(std::floor((bottom + 1) / ratio)) - 1;
    if (last < first)
        return {};
    return QRect(0, first, int(std::ceil(picture.width() / ratio)), last - first + 1);
}

} // namespace

KavrelOpaqueBackdrop::KavrelOpaqueBackdrop(QWidget *widget, Painting painting)
    : QObject(widget), m_widget(widget), m_painting(painting), m_rewatch(this, [this] { watchAncestors(); })
{
    m_widget->setAttribute(Qt::WA_OpaquePaintEvent);
    m_widget->installEventFilter(this);
    watchAncestors();
}

void KavrelOpaqueBackdrop::watchAncestors()
{
    m_rewatch.done();
    for (const QPointer<QWidget> &below : m_below) {
        if (below)
            below->removeEventFilter(this);
    }
    m_below.clear();
    for (QWidget *below = m_widget->parentWidget(); below; below = below->parentWidget()) {
        m_below.emplace_back(below);
        below->installEventFilter(this);
        if (paintsEveryPixel(below))
            break;
    }
    invalidate();
    m_widget->update();
}

void KavrelOpaqueBackdrop::invalidate()
{
    m_picture = QPixmap();
    m_steadyRows = QRect();
}

bool KavrelOpaqueBackdrop::paint(QPainter &painter, const QRect &area)
{
    if (m_taking)
        return false;
    const qreal ratio = m_widget->devicePixelRatioF();
    if (m_picture.isNull() || m_picture.devicePixelRatio() != ratio || m_picture.size() != m_widget->size() * ratio)
        takePicture(ratio);
    painter.drawPixmap(area, m_picture, QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio));
    return true;
}

void KavrelOpaqueBackdrop::takePicture(qreal ratio)
{
    m_picture = QPixmap(m_widget->size() * ratio);
    m_picture.setDevicePixelRatio(ratio);
    // Below an opaque widget the picture has no see-through pixel: without an alpha channel
    // drawing it is a copy, not a blend.
    const QWidget *lowest = m_below.empty() ? nullptr : m_below.back().data();
    const bool opaque = lowest && paintsEveryPixel(lowest) && !lowest->testAttribute(Qt::WA_TranslucentBackground);
    m_picture.fill(opaque ? Qt::black : Qt::transparent);
    m_taking = true;
    // Each widget below paints only itself, the lowest first: children of theirs that lie over
    // this widget (a scroll bar, a floating button) are not part of what is beneath it.
    QPainter painter(&m_picture);
    for (auto below = m_below.rbegin(); below != m_below.rend(); ++below) {
        QWidget *widget = *below;
        // (Until the widgets below are looked at again after a new parent, some may be no more.)
        if (!widget || !widget->isAncestorOf(m_widget))
            continue;
        const QPoint offset = m_widget->mapTo(widget, QPoint(0, 0));
        const QRect source = QRect(offset, m_widget->size()) & widget->rect();
        if (source.isEmpty())
            continue;
        QWidget::RenderFlags flags;
        if (widget == m_below.back() || widget->autoFillBackground())
            flags |= QWidget::DrawWindowBackground;
        // render() puts the top-left of what it draws at the offset given.
        widget->render(&painter, source.topLeft() - offset, QRegion(source), flags);
    }
    painter.end();
    m_taking = false;
    ++m_pictureCount;
    m_steadyRows = steadyRowsOf(m_picture.toImage(), ratio);
}

bool KavrelOpaqueBackdrop::eventFilter(QObject *watched, QEvent *event)
{
    if (m_taking)
        return false;
    if (watched == m_widget && event->type() == QEvent::Paint) {
        // Filters see a paint event inside the widget's repaint, so painting here is allowed;
        // the widget's own painting follows on top.
        if (m_painting == Painting::beforeTheWidget) {
            QPainter painter(m_widget);
            // Part by part: a repaint of two ends of a long widget is not the length between.
            for (const QRect &part : static_cast<QPaintEvent *>(event)->region())
                paint(painter, part);
        }
        return false;
    }
    if (watched == m_widget && (event->type() == QEvent::Show || event->type() == QEvent::StyleChange)) {
        // A style polishing the widget (a scroll bar's does) may have made it see-through
        // again; both events come after the polish.
        m_widget->setAttribute(Qt::WA_OpaquePaintEvent);
    }
    if (changesTheLook(event->type())) {
        // A new parent anywhere below, or a palette that makes one of them see-through or
        // opaque, changes which widgets lie beneath. Looked at again once this event is through.
        if (event->type() == QEvent::ParentChange || event->type() == QEvent::PaletteChange)
            m_rewatch.schedule();
        invalidate();
    } else if (event->type() == QEvent::Paint && watched != m_widget) {
        auto *below = static_cast<QWidget *>(watched);
        if (!below->isAncestorOf(m_widget))
            return false;
        const QRect mine(m_widget->mapTo(below, QPoint(0, 0)), m_widget->size());
        if (surrounds(static_cast<QPaintEvent *>(event)->region(), mine)) {
            invalidate();
            m_widget->update();
        }
    }
    return false;
}
