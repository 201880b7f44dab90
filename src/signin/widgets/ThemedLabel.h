#pragma once

#include "kit/KavrelPalette.h"

#include <QFont>
#include <QLabel>

// A plain-text label in one of the screens' appearance-following colours, re-resolved
// whenever the palette changes (the appearance switches).
class ThemedLabel final : public QLabel
{
    Q_OBJECT

public:
    ThemedLabel(const QString &text, int pixelSize, QFont::Weight weight, KavrelDynamicColor color,
                QWidget *parent = nullptr);

    void setColor(KavrelDynamicColor color, double opacity = 1.0);
    void setMonospaced(bool monospaced);

    // The screens' fonts: the desktop's interface font at a size in device-independent pixels.
    static QFont font(int pixelSize, QFont::Weight weight, bool monospaced = false);

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColor();

    KavrelDynamicColor m_color;
    double m_opacity = 1.0;
};
