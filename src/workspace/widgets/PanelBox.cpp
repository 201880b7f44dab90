#include "workspace/widgets/PanelBox.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"

#include <QPainter>

PanelBox::PanelBox(double radius, std::optional<QColor> tint, double fillOpacity, double borderOpacity, QWidget *parent)
    : QWidget(parent), m_radius(radius), m_tint(tint), m_fillOpacity(fillOpacity), m_borderOpacity(borderOpacity)
{
}

void PanelBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill;
    QColor border;
    if (m_tint) {
        fill = *m_tint;
        fill.setAlphaF(m_fillOpacity);
        border = *m_tint;
        border.setAlphaF(m_borderOpacity);
    } else {
        fill = KavrelSystemColors::secondaryLabel.resolve(palette(), m_fillOpacity * 2);
        border = KavrelSystemColors::secondaryLabel.resolve(palette(), m_borderOpacity * 2);
    }
    KavrelPainting::fillAndStroke(painter, KavrelPainting::continuousRoundedRect(QRectF(rect()), m_radius), fill, border);
}
