#include "signin/widgets/OnboardingCard.h"

#include "kit/widgets/KavrelPainting.h"

#include <QPainter>
#include <QVBoxLayout>

OnboardingCard::OnboardingCard(Look look, QWidget *parent)
    : QWidget(parent)
    , m_look(look)
    , m_content(new QVBoxLayout(this))
{
    m_content->setContentsMargins(22, 22, 22, 22);
}

void OnboardingCard::paintShadow(QPainter &painter, const QWidget *canvas) const
{
    if (!isVisible())
        return;
    const QRectF area(mapTo(canvas, QPoint(0, 0)), QSizeF(size()));
    KavrelPainting::drawSoftShadow(painter, KavrelPainting::continuousRoundedRect(area, m_look.radius),
                                   m_look.shadow.resolve(palette()), m_look.shadowBlur, QPointF(0, m_look.shadowOffset));
}

void OnboardingCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_look.radius);
    painter.fillPath(shape, m_look.fill.resolve(palette()));
    paintOverlay(painter, shape);
    painter.strokePath(shape, QPen(m_look.border.resolve(palette()), 1));
}

void OnboardingCard::paintOverlay(QPainter &, const QPainterPath &)
{
}
