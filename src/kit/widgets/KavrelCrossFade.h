#pragma once

#include "kit/widgets/KavrelSpringAnimation.h"

#include <QPixmap>
#include <QWidget>

// A picture of a widget as it last looked, laid over it and faded out, so that a change of the
// whole widget blends into its new look instead of jumping. Clicks go through to the widget
// underneath. It removes itself when done; a newer one over the same widget replaces it.
class KavrelCrossFade final : public QWidget
{
    Q_OBJECT

public:
    // Pictures `target` as it is now: call it before changing the target.
    static KavrelCrossFade *start(QWidget *target, const KavrelSpring &spring);
    // The one running over `target`, if any.
    static KavrelCrossFade *running(const QWidget *target);

    // Ends at once, leaving the target as it is.
    void finish();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    KavrelCrossFade(QWidget *target, QPixmap picture, const KavrelSpring &spring);

    QPixmap m_picture;
    KavrelSpringAnimation m_fade;
    double m_opacity = 1;
};
