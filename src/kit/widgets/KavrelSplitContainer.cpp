#include "kit/widgets/KavrelSplitContainer.h"

#include "kit/KavrelSplitGeometry.h"

#include <QEvent>
#include <QResizeEvent>

#include <cmath>

KavrelSplitContainer::KavrelSplitContainer(QWidget *parent)
    : QWidget(parent), m_divider(new KavrelSplitDivider(this))
{
    connect(m_divider, &KavrelSplitDivider::dragged, this, [this](double position) {
        const double available = m_orientation == Qt::Horizontal ? width() : height();
        const double fraction = KavrelSplitGeometry::fractionForDrag(position, available, m_style.lowestFraction,
                                                                     m_style.highestFraction, m_fraction);
        setFraction(fraction);
        Q_EMIT fractionDragged(fraction);
    });
    setStyle(m_style);
}

void KavrelSplitContainer::setStyle(const Style &style)
{
    m_style = style;
    m_divider->setLook(style.divider);
    relayout();
}

void KavrelSplitContainer::setPanels(QWidget *first, QWidget *second)
{
    m_first = first;
    m_second = second;
    for (QWidget *panel : {first, second}) {
        if (panel && panel->parentWidget() != this)
            panel->setParent(this);
        if (panel)
            panel->installEventFilter(this);
    }
    m_divider->raise();
    relayout();
}

void KavrelSplitContainer::setOrientation(Qt::Orientation orientation)
{
    m_orientation = orientation;
    m_divider->setOrientation(orientation);
    relayout();
}

void KavrelSplitContainer::setFraction(double fraction)
{
    m_fraction = fraction;
    relayout();
}

void KavrelSplitContainer::setDividerAccessibleName(const QString &name)
{
    m_divider->setAccessibleName(name);
}

QSize KavrelSplitContainer::minimumSizeHint() const
{
    const int along = int(std::ceil(m_style.minimumPane * (showsSecond() ? 2 : 1)
                                    + (showsSecond() ? m_style.dividerExtent + 2 * m_style.spacing : 0)));
    const int across = int(std::ceil(m_style.minimumPane));
    return m_orientation == Qt::Horizontal ? QSize(along, across) : QSize(across, along);
}

bool KavrelSplitContainer::showsSecond() const
{
    return m_second && !m_second->isHidden();
}

void KavrelSplitContainer::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
}

bool KavrelSplitContainer::eventFilter(QObject *watched, QEvent *event)
{
    // A panel shown or hidden changes the arrangement.
    if ((watched == m_first || watched == m_second)
        && (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
        relayout();
    return QWidget::eventFilter(watched, event);
}

void KavrelSplitContainer::relayout()
{
    const bool sideBySide = m_orientation == Qt::Horizontal;
    const QRect area = rect();
    if (!showsSecond()) {
        m_divider->hide();
        if (m_first)
            m_first->setGeometry(area);
        return;
    }
    // The divider takes its extent out of the length; the gaps beside it do not.
    const double total = sideBySide ? area.width() : area.height();
    const KavrelSplitGeometry split = KavrelSplitGeometry::compute(total, m_fraction, m_style.minimumPane, m_style.dividerExtent);
    const int first = int(std::lround(split.first));
    const int second = int(std::lround(split.second));
    const int gap = int(std::lround(m_style.spacing));
    const int extent = int(std::lround(m_style.dividerExtent));
    const int cross = int(std::lround(m_style.dividerCrossLength));
    const int dividerStart = first + gap;
    const int secondStart = dividerStart + extent + gap;
    if (sideBySide) {
        if (m_first)
            m_first->setGeometry(0, 0, first, area.height());
        m_second->setGeometry(secondStart, 0, second, area.height());
        const int top = m_style.dividerAtStart ? 0 : (area.height() - cross) / 2;
        m_divider->setGeometry(dividerStart, top, extent, cross);
    } else {
        if (m_first)
            m_first->setGeometry(0, 0, area.width(), first);
        m_second->setGeometry(0, secondStart, area.width(), second);
        m_divider->setGeometry((area.width() - cross) / 2, dividerStart, cross, extent);
    }
    m_divider->show();
    m_divider->raise();
}
