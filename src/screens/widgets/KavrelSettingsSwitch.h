#pragma once

#include <QAbstractButton>
#include <QVariantAnimation>

// An on/off switch: a capsule track with a round knob that slides across. Space toggles it.
class KavrelSettingsSwitch final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit KavrelSettingsSwitch(QWidget *parent = nullptr);

    QSize sizeHint() const override { return QSize(40, 24); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVariantAnimation m_knob;
};
