#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

class QVBoxLayout;

// The rounded, bordered panel of the onboarding's cards. Its shadow falls outside the panel,
// so the screen that holds the cards draws it (paintShadow) before the cards paint themselves.
class OnboardingCard : public QWidget
{
    Q_OBJECT

public:
    struct Look
    {
        qreal radius = 26;
        KavrelDynamicColor fill;
        KavrelDynamicColor border;
        KavrelDynamicColor shadow;
        qreal shadowBlur = 18;
        qreal shadowOffset = 10;
    };

    QVBoxLayout *contentLayout() const { return m_content; }

    // Draws the shadow under this card, for a painter of `canvas`, an ancestor.
    void paintShadow(QPainter &painter, const QWidget *canvas) const;

protected:
    OnboardingCard(Look look, QWidget *parent);

    void paintEvent(QPaintEvent *event) override;
    // Painted over the fill, under the content (the insight card's tint).
    virtual void paintOverlay(QPainter &painter, const QPainterPath &shape);

private:
    Look m_look;
    QVBoxLayout *m_content;
};
