#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

#include <optional>

// A container drawn as a rounded rectangle with a fill, a 1-px outline and an optional soft
// shadow; its children sit in whatever layout the owner gives it.
class KavrelScreenPanel : public QWidget
{
    Q_OBJECT

public:
    struct Look
    {
        qreal radius = 18;
        KavrelDynamicColor fill = KavrelProfileTheme::subtlePanelFill;
        double fillOpacity = 1;
        KavrelDynamicColor stroke = KavrelProfileTheme::cardBorder;
        double strokeOpacity = 1;
        // Shadow: black at this opacity, blurred by the radius and moved down by the offset.
        double shadowOpacity = 0;
        qreal shadowRadius = 0;
        qreal shadowOffset = 0;
    };

    explicit KavrelScreenPanel(const Look &look, QWidget *parent = nullptr);

    void setLook(const Look &look);
    const Look &look() const { return m_look; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Look m_look;
};
