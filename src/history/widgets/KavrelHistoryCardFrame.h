#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

class QPainter;

// A rounded card behind child widgets: continuous corners, a fill, a 1 px border and an
// optional soft shadow. Its layout's margins are the card's inset.
class KavrelHistoryCardFrame : public QWidget
{
    Q_OBJECT

public:
    struct Look
    {
        KavrelDynamicColor fill;
        double fillOpacity = 1;
        KavrelDynamicColor stroke;
        double strokeOpacity = 1;
        double radius = 24;
        double shadowOpacity = 0; // black
        double shadowRadius = 0;
        double shadowOffset = 0;  // downwards
    };

    explicit KavrelHistoryCardFrame(const Look &look, QWidget *parent = nullptr);

    // Paints the soft black shadow of a rounded card at `card`. Blurring is costly, so each
    // shadow is made once per size and kept: list cards share one, and repaints reuse it.
    static void paintShadow(QPainter &painter, const QRectF &card, double radius, double opacity, double blurRadius,
                            double offset);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Look m_look;
};
