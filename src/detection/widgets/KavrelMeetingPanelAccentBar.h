#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

// The coloured bar at the leading edge of a meeting prompt: 4 wide, rounded ends.
class KavrelMeetingPanelAccentBar final : public QWidget
{
    Q_OBJECT

public:
    KavrelMeetingPanelAccentBar(KavrelDynamicColor color, int height, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    KavrelDynamicColor m_color;
};
