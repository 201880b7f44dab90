#pragma once

#include "kit/widgets/KavrelSpringAnimation.h"

class QWidget;

// The shown value of a progress bar. On screen it springs to a new value (a short ease with a
// little overshoot); off screen it jumps there, so a screen is never first drawn mid-way.
class ProgressAnimation final : public QObject
{
    Q_OBJECT

public:
    explicit ProgressAnimation(QWidget *owner);

    void moveTo(double target);
    double value() const { return m_value; }
    double target() const { return m_target; }

private:
    QWidget *m_owner;
    KavrelSpringAnimation m_animation;
    double m_value = 0;
    double m_target = 0;
};
