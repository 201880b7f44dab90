#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

class ProgressAnimation;

// A 16 px high bar across the width it is given, filled to the progress in one tint; never
// less than an 18 px stub.
class SetupReadinessMeter final : public QWidget
{
    Q_OBJECT

public:
    SetupReadinessMeter(KavrelDynamicColor tint, QWidget *parent = nullptr);

    void setProgress(double progress);
    // Where the bar is heading (it may still be moving there).
    double progress() const;

    static qreal fillWidth(qreal width, double progress);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    KavrelDynamicColor m_tint;
    ProgressAnimation *m_progress;
};
