#include "kit/widgets/KavrelAppearTransition.h"

#include <QGraphicsEffect>
#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace {

// Paints the widget moved by an offset and faded, without touching its geometry (a layout may
// own that).
class SlideFadeEffect final : public QGraphicsEffect
{
public:
    explicit SlideFadeEffect(QObject *parent) : QGraphicsEffect(parent) {}

    void set(double opacity, QPointF offset)
    {
        m_opacity = std::clamp(opacity, 0.0, 1.0);
        m_offset = offset;
        updateBoundingRect();
        update();
    }

    QRectF boundingRectFor(const QRectF &rect) const override { return rect.united(rect.translated(m_offset)); }

protected:
    void draw(QPainter *painter) override
    {
        QPoint origin;
        const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &origin, QGraphicsEffect::NoPad);
        painter->save();
        painter->setOpacity(m_opacity);
        painter->drawPixmap(QPointF(origin) + m_offset, pixmap);
        painter->restore();
    }

private:
    double m_opacity = 1;
    QPointF m_offset;
};

} // namespace

KavrelAppearTransition::KavrelAppearTransition(QWidget *target, Qt::Edge edge, int durationMs, const QEasingCurve &curve)
    : QObject(target), m_target(target), m_edge(edge)
{
    m_shown = !target->isHidden();
    m_progress = m_shown ? 1 : 0;
    m_animation.setDuration(durationMs);
    m_animation.setEasingCurve(curve);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) { follow(value.toDouble()); });
    connect(&m_animation, &QAbstractAnimation::finished, this, &KavrelAppearTransition::settle);
}

void KavrelAppearTransition::setShown(bool shown)
{
    if (!m_target || (shown == m_shown && (isRunning() || m_target->isHidden() != shown)))
        return;
    m_shown = shown;
    m_animation.stop();
    const QWidget *parent = m_target->parentWidget();
    if (!parent || !parent->isVisible()) {
        m_progress = shown ? 1 : 0;
        settle();
        return;
    }
    if (m_target->isHidden())
        m_progress = 0;
    m_target->show();
    m_animation.setStartValue(m_progress);
    m_animation.setEndValue(shown ? 1.0 : 0.0);
    m_animation.start();
}

void KavrelAppearTransition::finish()
{
    if (!isRunning())
        return;
    m_animation.stop();
    settle();
}

void KavrelAppearTransition::follow(double progress)
{
    m_progress = progress;
    if (!m_target)
        return;
    auto *effect = dynamic_cast<SlideFadeEffect *>(m_target->graphicsEffect());
    if (!effect) {
        effect = new SlideFadeEffect(m_target);
        m_target->setGraphicsEffect(effect);
    }
    const double away = 1 - progress;
    QPointF offset;
    switch (m_edge) {
    case Qt::LeftEdge:
        offset = QPointF(-m_target->width() * away, 0);
        break;
    case Qt::RightEdge:
        offset = QPointF(m_target->width() * away, 0);
        break;
    case Qt::TopEdge:
        offset = QPointF(0, -m_target->height() * away);
        break;
    case Qt::BottomEdge:
        offset = QPointF(0, m_target->height() * away);
        break;
    }
    effect->set(progress, offset);
}

void KavrelAppearTransition::settle()
{
    m_progress = m_shown ? 1 : 0;
    if (!m_target)
        return;
    if (dynamic_cast<SlideFadeEffect *>(m_target->graphicsEffect()))
        m_target->setGraphicsEffect(nullptr);
    m_target->setVisible(m_shown);
}
