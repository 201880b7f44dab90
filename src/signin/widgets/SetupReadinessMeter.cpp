#include "signin/widgets/SetupReadinessMeter.h"

#include "kit/widgets/KavrelPainting.h"
#include "signin/widgets/ProgressAnimation.h"

#include <QPainter>

#include <algorithm>

SetupReadinessMeter::SetupReadinessMeter(KavrelDynamicColor tint, QWidget *parent)
    : QWidget(parent)
    , m_tint(tint)
    , m_progress(new ProgressAnimation(this))
{
    setFixedHeight(16);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SetupReadinessMeter::setProgress(double progress)
{
    m_progress->moveTo(progress);
    update();
}

double SetupReadinessMeter::progress() const
{
    return m_progress->target();
}

qreal SetupReadinessMeter::fillWidth(qreal width, double progress)
{
    return std::max(width * progress, 18.0);
}

void SetupReadinessMeter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(KavrelPainting::continuousRoundedRect(rect(), 12), KavrelSystemColors::secondaryLabel.resolve(palette(), 0.1));
    const QRectF fill(0, 0, std::min(fillWidth(width(), m_progress->value()), qreal(width())), height());
    QLinearGradient gradient(fill.topLeft(), fill.topRight());
    gradient.setColorAt(0, m_tint.resolve(palette()));
    gradient.setColorAt(1, m_tint.resolve(palette(), 0.72));
    painter.fillPath(KavrelPainting::continuousRoundedRect(fill, 12), gradient);
}
