#pragma once

#include "kit/widgets/KavrelSpring.h"

#include <QVariantAnimation>

// An animation of a number that moves like the spring: its duration is the spring's and its
// value follows the spring's motion from the start value to the end value.
class KavrelSpringAnimation final : public QVariantAnimation
{
    Q_OBJECT

public:
    KavrelSpringAnimation(const KavrelSpring &spring, QObject *parent = nullptr);

protected:
    QVariant interpolated(const QVariant &from, const QVariant &to, qreal progress) const override;

private:
    KavrelSpring m_spring;
};
