#include "screens/widgets/KavrelScreenButton.h"

#include "screens/widgets/KavrelScreenSymbols.h"

namespace KavrelScreenButton {

KavrelCapsuleButton::Look look(KavrelDynamicColor tint, KavrelDynamicColor foreground)
{
    KavrelCapsuleButton::Look look;
    look.fill = tint;
    look.fillOpacity = 0.1;
    look.stroke = tint;
    look.strokeOpacity = 0.3;
    look.foreground = foreground;
    look.cornerRadius = 8;
    look.inset = 1.5;  // room for the focus ring
    look.height = 30;
    look.symbolSize = 10;
    look.symbolSpacing = 5;
    look.symbolTrails = true;
    look.paintSymbol = KavrelScreenSymbols::paint;
    look.focusRing = {.inset = 1, .radiusGrowth = 0.5};
    return look;
}

KavrelCapsuleButton *make(const QString &text, const KavrelCapsuleButton::Look &look, QWidget *parent)
{
    auto *button = new KavrelCapsuleButton(parent);
    button->setLook(look);
    button->setText(text);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    QFont buttonFont = button->font();
    buttonFont.setPixelSize(13);
    buttonFont.setWeight(QFont::DemiBold);
    button->setFont(buttonFont);
    return button;
}

} // namespace KavrelScreenButton
