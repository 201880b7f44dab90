#include "screens/widgets/KavrelPaintedWidget.h"

#include "kit/widgets/KavrelHiddenPause.h"

#include <QPainter>

KavrelPaintedWidget::KavrelPaintedWidget(QSize size, Painter painter, QWidget *parent)
    : QWidget(parent), m_painter(std::move(painter))
{
    setFixedSize(size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_phase.setStartValue(0.0);
    m_phase.setEndValue(1.0);
    m_phase.setDuration(1000);
    m_phase.setLoopCount(-1);
    connect(&m_phase, &QVariantAnimation::valueChanged, this, [this] { update(); });
    KavrelHiddenPause::install(this, &m_phase);
}

void KavrelPaintedWidget::setSpinning(bool spinning)
{
    if (spinning)
        m_phase.start();
    else
        m_phase.stop();
}

void KavrelPaintedWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    m_painter(painter, QRectF(rect()), palette(), m_phase.currentValue().toDouble());
}
