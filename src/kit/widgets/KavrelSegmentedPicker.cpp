#include "kit/widgets/KavrelSegmentedPicker.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

KavrelSegmentedPicker::KavrelSegmentedPicker(QList<Segment> segments, QWidget *parent)
    : QWidget(parent), m_segments(std::move(segments))
{
    KavrelAccessibleFactory::registerWidget(staticMetaObject, QAccessible::PageTabList);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KavrelSegmentedPicker::setValue(const QString &value)
{
    if (value == m_value)
        return;
    m_value = value;
    update();
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.selected = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
    announceSelectedTab(this);
}

void KavrelSegmentedPicker::setSegmentNames(const QStringList &names)
{
    for (qsizetype i = 0; i < std::min(names.size(), m_segments.size()); ++i)
        m_segments[i].name = names.at(i);
}

qsizetype KavrelSegmentedPicker::selectedIndex() const
{
    for (qsizetype i = 0; i < m_segments.size(); ++i) {
        if (m_segments[i].value == m_value)
            return i;
    }
    return -1;
}

void KavrelSegmentedPicker::pick(qsizetype index)
{
    if (index < 0 || index >= m_segments.size())
        return;
    setValue(m_segments[index].value);
    Q_EMIT picked(m_segments[index].value);
}

QSize KavrelSegmentedPicker::sizeHint() const
{
    return QSize(int(34 * m_segments.size()), 24);
}

QRectF KavrelSegmentedPicker::segmentRect(qsizetype index) const
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
    for (qsizetype i = 0; i < m_segments.size(); ++i) {
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
    for (qsizetype i = 0; i < m_segments.size(); ++i) {
        if (segmentRect(i).contains(event->position())) {
            pick(i);
            return;
        }
    }
}

void KavrelSegmentedPicker::keyPressEvent(QKeyEvent *event)
{
    const qsizetype count = m_segments.size();
    const qsizetype current = selectedIndex();
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        if (current > 0)
            pick(current - 1);
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        if (current + 1 < count)
            pick(current + 1);
        break;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (count > 0)
            pick((current + 1) % count);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void KavrelSegmentedPicker::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    keyboardCameTo(this);
}
