#include "kit/widgets/KavrelSegmentedPicker.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"

#include <QMouseEvent>
#include <QPainter>

KavrelSegmentedPicker::KavrelSegmentedPicker(QList<Segment> segments, QWidget *parent)
    : QWidget(parent), m_segments(std::move(segments))
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KavrelSegmentedPicker::setValue(const QString &value)
{
    if (value == m_value)
        return;
    m_value = value;
    update();
}

QSize KavrelSegmentedPicker::sizeHint() const
{
    return QSize(int(34 * m_segments.size()), 24);
}

QRectF KavrelSegmentedPicker::segmentRect(int index) const
{
    const qreal width = qreal(this->width()) / std::max<qsizetype>(1, m_segments.size());
    return QRectF(index * width, 0, width, height());
}

void KavrelSegmentedPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    KavrelPainting::fillAndStroke(painter, KavrelPainting::capsule(area),
                                  KavrelSystemColors::secondaryLabel.resolve(palette(), 0.1),
                                  KavrelSystemColors::secondaryLabel.resolve(palette(), 0.18));
    for (int i = 0; i < m_segments.size(); ++i) {
        const QRectF segment = segmentRect(i);
        const bool selected = m_segments[i].value == m_value;
        if (selected) {
            const QRectF chip = segment.adjusted(2, 2, -2, -2);
            KavrelPainting::drawSoftShadow(painter, KavrelPainting::capsule(chip), QColor(0, 0, 0, 40), 3, QPointF(0, 1));
            KavrelPainting::fillAndStroke(painter, KavrelPainting::capsule(chip),
                                          KavrelSystemColors::textBackground.resolve(palette()), Qt::transparent);
        }
        const qreal side = std::min<qreal>(14, segment.height() - 8);
        const QRectF symbol(segment.center().x() - side / 2, segment.center().y() - side / 2, side, side);
        KavrelSymbols::paint(painter, symbol, m_segments[i].symbol,
                             (selected ? KavrelSystemColors::label : KavrelSystemColors::secondaryLabel).resolve(palette()));
    }
    const double ring = KavrelFocusRing::width / 2;
    KavrelFocusRing::paint(painter, this, KavrelPainting::capsule(QRectF(rect()).adjusted(ring, ring, -ring, -ring)),
                           palette().color(QPalette::Window));
}

void KavrelSegmentedPicker::mouseReleaseEvent(QMouseEvent *event)
{
    for (int i = 0; i < m_segments.size(); ++i) {
        if (segmentRect(i).contains(event->position())) {
            setValue(m_segments[i].value);
            Q_EMIT picked(m_segments[i].value);
            return;
        }
    }
}
