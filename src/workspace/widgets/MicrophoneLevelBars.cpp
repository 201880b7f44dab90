#include "workspace/widgets/MicrophoneLevelBars.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "workspace/WorkspaceRules.h"

#include <QEvent>
#include <QPainter>

MicrophoneLevelBars::MicrophoneLevelBars(QWidget *parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    m_from = m_to = targetFills();
    m_fade.setDuration(fadeMilliseconds);
    m_fade.setEasingCurve(QEasingCurve::OutCubic);
    m_fade.setStartValue(0.0);
    m_fade.setEndValue(1.0);
    connect(&m_fade, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

void MicrophoneLevelBars::setLevel(double level, bool isActive)
{
    const int litBefore = litBars();
    const bool wasActive = m_isActive;
    m_level = level;
    m_isActive = isActive;
    if (litBars() == litBefore && wasActive == isActive)
        return;
    // The fade starts from what shows now, so a change during a fade does not jump.
    Fills shown;
    for (int bar = 0; bar < 4; ++bar)
        shown[size_t(bar)] = shownFill(bar);
    m_from = shown;
    m_to = targetFills();
    m_fade.stop();
    m_fade.start();
    update();
}

int MicrophoneLevelBars::litBars() const
{
    return m_isActive ? WorkspaceRules::litLevelBars(m_level) : 0;
}

QColor MicrophoneLevelBars::shownFill(int bar) const
{
    const auto index = size_t(bar);
    if (m_fade.state() == QAbstractAnimation::Stopped)
        return m_to[index];
    return KavrelPainting::blend(m_from[index], m_to[index], m_fade.currentValue().toDouble());
}

MicrophoneLevelBars::Fills MicrophoneLevelBars::targetFills() const
{
    const int lit = litBars();
    Fills fills;
    for (int bar = 0; bar < 4; ++bar) {
        if (!m_isActive)
            fills[size_t(bar)] = KavrelSystemColors::secondaryLabel.resolve(palette(), 0.25);
        else if (bar < lit)
            fills[size_t(bar)] = QColor::fromRgbF(0.2f, 0.78f, 0.41f);
        else
            fills[size_t(bar)] = QColor::fromRgbF(1, 1, 1, 0.35f);
    }
    return fills;
}

void MicrophoneLevelBars::changeEvent(QEvent *event)
{
    // The grey of idle bars follows the palette (light or dark appearance).
    if (event->type() == QEvent::PaletteChange) {
        m_fade.stop();
        m_from = m_to = targetFills();
        update();
    }
    QWidget::changeEvent(event);
}

void MicrophoneLevelBars::setOpaqueBackdrop(const QPixmap &parentPicture)
{
    m_backdrop = parentPicture;
    setAttribute(Qt::WA_OpaquePaintEvent, !m_backdrop.isNull());
}

void MicrophoneLevelBars::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_backdrop.isNull()) {
        const qreal ratio = m_backdrop.devicePixelRatio();
        painter.drawPixmap(QRectF(rect()), m_backdrop, QRectF(QPointF(pos()) * ratio, QSizeF(size()) * ratio));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    for (int bar = 0; bar < 4; ++bar) {
        const double barHeight = 8 + 4 * bar;
        const QRectF shape(bar * 7, height() - barHeight, 4, barHeight);
        painter.fillPath(KavrelPainting::continuousRoundedRect(shape, 2), shownFill(bar));
    }
}
