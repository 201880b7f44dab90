#pragma once

#include "kit/KavrelPalette.h"

#include <QAbstractButton>
#include <QVariantAnimation>

// An on/off switch: a capsule track with a round white knob. Space toggles it, and so does a
// screen reader's action, each by a click (clicked() is the switch's one report). Its look sets
// the track's colours, whether the knob slides or jumps, and how a disabled state shows; the
// kit's focus ring goes round the track.
class KavrelSwitch final : public QAbstractButton
{
    Q_OBJECT

public:
    struct Look
    {
        KavrelDynamicColor offTrack = KavrelSystemColors::secondaryLabel;
        double offOpacity = 0.45;
        KavrelDynamicColor onTrack = KavrelSystemColors::accent;
        KavrelDynamicColor trackStroke = kavrelFixed({0, 0, 0, 0});
        double trackInsetX = 2;    // the track keeps this far inside the switch's rectangle
        double trackInsetY = 2;
        QColor knobShadow = QColor(0, 0, 0, 50);
        int slideMilliseconds = 0;  // zero: the knob jumps
        double disabledOpacity = 1;
    };

    explicit KavrelSwitch(const Look &look, QWidget *parent = nullptr);

    QSize sizeHint() const override { return QSize(40, 24); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double knobPosition() const;

    Look m_look;
    QVariantAnimation m_knob;
};
