#include "kit/widgets/KavrelSpringAnimation.h"

KavrelSpringAnimation::KavrelSpringAnimation(const KavrelSpring &spring, QObject *parent)
    : QVariantAnimation(parent), m_spring(spring)
{
    setDuration(m_spring.durationMs());
}

QVariant KavrelSpringAnimation::interpolated(const QVariant &from, const QVariant &to, qreal progress) const
{
    const double start = from.toDouble();
    return start + (to.toDouble() - start) * m_spring.valueAt(progress);
}
