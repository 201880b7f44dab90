#include "screens/widgets/KavrelScreenPanel.h"

#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"

#include <QPainter>

KavrelScreenPanel::KavrelScreenPanel(const Look &look, QWidget *parent) : QWidget(parent), m_look(look)
{
}

void KavrelScreenPanel::setLook(const Look &look)
{
    m_look = look;
    update();
}

void KavrelScreenPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(bounds, m_look.radius);
    if (m_look.shadowOpacity > 0)
        KavrelPainting::drawSoftShadow(painter, shape, QColor(0, 0, 0, int(255 * m_look.shadowOpacity)), m_look.shadowRadius,
                                       QPointF(0, m_look.shadowOffset));
    const QColor fill = m_look.fill.resolve(palette(), m_look.fillOpacity);
    KavrelPainting::fillAndStroke(painter, shape, fill, m_look.stroke.resolve(palette(), m_look.strokeOpacity));
    // A panel that takes the keyboard (the account card) shows it as every control does.
    const double ring = KavrelFocusRing::width / 2;
    KavrelFocusRing::paint(painter, this,
                           KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(ring, ring, -ring, -ring),
                                                                 m_look.radius - ring),
                           fill);
}
