#include "signin/widgets/ProgressAnimation.h"

#include <QWidget>

// The same spring the onboarding screen blends its other parts with.
ProgressAnimation::ProgressAnimation(QWidget *owner)
    : QObject(owner), m_owner(owner), m_animation(KavrelSpring(0.34, 0.88))
{
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_value = value.toDouble();
        m_owner->update();
    });
}

void ProgressAnimation::moveTo(double target)
{
    if (target == m_target)
        return;
    m_target = target;
    m_animation.stop();
    if (!m_owner->isVisible()) {
        m_value = target;
        m_owner->update();
        return;
    }
    m_animation.setStartValue(m_value);
    m_animation.setEndValue(target);
    m_animation.start();
}
