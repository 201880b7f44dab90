#pragma once

#include "kit/KavrelPalette.h"

#include <QLabel>

// A plain-text label in a theme colour that follows the appearance, with its font given in
// pixels and a weight.
class KavrelScreenLabel final : public QLabel
{
    Q_OBJECT

public:
    KavrelScreenLabel(const QString &text, int pixelSize, QFont::Weight weight, KavrelDynamicColor color,
                      QWidget *parent = nullptr);

    void setColor(KavrelDynamicColor color);
    // Lets the user select and copy the text with the mouse and keyboard.
    void setSelectable(bool selectable);

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColor();

    KavrelDynamicColor m_color;
    bool m_applying = false;
};
