#pragma once

#include "app/KavrelPalette.h"

#include <QAbstractButton>

// A bordered push button of the screens: a rounded shape with a tinted fill and outline, a
// text and an optional symbol after it. It takes keyboard focus (Tab, then Space or Enter)
// and draws a focus ring; disabled it is drawn at half opacity.
class KavrelScreenButton final : public QAbstractButton
{
    Q_OBJECT

public:
    struct Look
    {
        KavrelDynamicColor tint = KavrelSystemColors::accent;
        KavrelDynamicColor foreground = KavrelSystemColors::accent;
        double fillOpacity = 0.1;
        double strokeOpacity = 0.3;
        qreal radius = 8;
        int pixelSize = 13;
        QFont::Weight weight = QFont::DemiBold;
        QString trailingSymbol;
        qreal symbolSize = 10;
        qreal horizontalPadding = 12;
        int height = 30;
    };

    KavrelScreenButton(const QString &text, const Look &look, QWidget *parent = nullptr);

    void setLook(const Look &look);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Look m_look;
};
