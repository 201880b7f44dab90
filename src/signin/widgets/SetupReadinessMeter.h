#pragma once

#include "app/KavrelPalette.h"

#include <QWidget>

// A 16 px high bar across the width it is given, filled to the progress in one tint; never
// less than an 18 px stub.
class SetupReadinessMeter final : public QWidget
{
    Q_OBJECT

public:
    SetupReadinessMeter(KavrelDynamicColor tint, QWidget *parent = nullptr);

    void setProgress(double progress);
    double progress() const { return m_progress; }

    static qreal fillWidth(qreal width, double progress);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    KavrelDynamicColor m_tint;
    double m_progress = 0;
};
