#include "detection/widgets/KavrelMeetingPanelAccentBar.h"

#include "kit/widgets/KavrelPainting.h"

#include <QPainter>

KavrelMeetingPanelAccentBar::KavrelMeetingPanelAccentBar(KavrelDynamicColor color, int height, QWidget *parent)
    : QWidget(parent), m_color(color)
{
    setFixedSize(4, height);
}

void KavrelMeetingPanelAccentBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(KavrelPainting::continuousRoundedRect(QRectF(rect()), 2), m_color.resolve(palette()));
}
