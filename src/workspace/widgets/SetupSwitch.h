#pragma once

#include <QAbstractButton>

// An on/off switch: a capsule track with a round knob, green when on. Space toggles it.
class SetupSwitch final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit SetupSwitch(QWidget *parent = nullptr);
    QSize sizeHint() const override { return QSize(40, 24); }

protected:
    void paintEvent(QPaintEvent *event) override;
};
