#include "kit/widgets/KavrelSplitDivider.h"

#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

KavrelSplitDivider::KavrelSplitDivider(QWidget *parent) : QWidget(parent)
{
    setOrientation(Qt::Horizontal);
}

void KavrelSplitDivider::setLook(const Look &look)
{
    m_look = look;
    update();
}

void KavrelSplitDivider::setOrientation(Qt::Orientation orientation)
{
    m_orientation = orientation;
    setCursor(orientation == Qt::Horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor);
    update();
}

void KavrelSplitDivider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const bool sideBySide = m_orientation == Qt::Horizontal;
    const QSizeF handle = sideBySide ? QSizeF(m_look.handleThickness, m_look.handleLength)
                                     : QSizeF(m_look.handleLength, m_look.handleThickness);
    const QRectF area = rect();
    const QRectF handleRect(area.center().x() - handle.width() / 2, area.center().y() - handle.height() / 2,
                            handle.width(), handle.height());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(KavrelPainting::continuousRoundedRect(handleRect, m_look.handleRadius),
                     m_look.handleColor.resolve(palette(), m_look.handleOpacity));
    if (m_look.showsArrows) {
        const QRectF arrows(area.center().x() - 4.5, area.center().y() - 4.5, 9, 9);
        KavrelSymbols::paint(painter, arrows, sideBySide ? QStringLiteral("arrow.left.and.right") : QStringLiteral("arrow.up.and.down"),
                             KavrelSystemColors::secondaryLabel.resolve(palette(), 0.8));
    }
}

void KavrelSplitDivider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_pressed = true;
    m_dragging = false;
    m_pressPosition = event->globalPosition();
    event->accept();
}

void KavrelSplitDivider::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressed)
        return QWidget::mouseMoveEvent(event);
    const QPointF moved = event->globalPosition() - m_pressPosition;
    if (!m_dragging && std::hypot(moved.x(), moved.y()) < m_look.minimumDragDistance)
        return;
    m_dragging = true;
    const QPointF inParent = mapToParent(event->position());
    Q_EMIT dragged(m_orientation == Qt::Horizontal ? inParent.x() : inParent.y());
}

void KavrelSplitDivider::mouseReleaseEvent(QMouseEvent *event)
{
    m_pressed = false;
    m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}
