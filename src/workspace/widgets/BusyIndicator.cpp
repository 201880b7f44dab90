#include "workspace/widgets/BusyIndicator.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"

#include <QPainter>

BusyIndicator::BusyIndicator(QWidget *parent) : QWidget(parent)
{
    setFixedSize(20, 20);
    m_spin.setStartValue(0.0);
    m_spin.setEndValue(1.0);
    m_spin.setDuration(900);
    m_spin.setLoopCount(-1);
    connect(&m_spin, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

void BusyIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_spin.start();
}

void BusyIndicator::hideEvent(QHideEvent *event)
{
    m_spin.stop();
    QWidget::hideEvent(event);
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    KavrelPainting::drawSpinner(painter, QRectF(rect()).adjusted(2, 2, -2, -2), KavrelSystemColors::secondaryLabel.resolve(palette()),
                                m_spin.currentValue().toDouble());
}
