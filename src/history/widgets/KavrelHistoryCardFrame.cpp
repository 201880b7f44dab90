#include "history/widgets/KavrelHistoryCardFrame.h"

#include "app/widgets/KavrelPainting.h"

#include <QPainter>

#include <cmath>

KavrelHistoryCardFrame::KavrelHistoryCardFrame(const Look &look, QWidget *parent) : QWidget(parent), m_look(look)
{
}

int KavrelHistoryCardFrame::shadowMargin() const
{
    return m_look.shadowOpacity > 0 ? int(std::ceil(m_look.shadowRadius / 2 + m_look.shadowOffset)) : 0;
}

void KavrelHistoryCardFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(area, m_look.radius);
    if (m_look.shadowOpacity > 0) {
        QColor shadow(Qt::black);
        shadow.setAlphaF(float(m_look.shadowOpacity));
        KavrelPainting::drawSoftShadow(painter, shape, shadow, m_look.shadowRadius, QPointF(0, m_look.shadowOffset));
    }
    KavrelPainting::fillAndStroke(painter, shape, m_look.fill.resolve(palette(), m_look.fillOpacity),
                                  m_look.stroke.resolve(palette(), m_look.strokeOpacity));
}
