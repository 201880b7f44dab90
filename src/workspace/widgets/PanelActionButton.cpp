#include "workspace/widgets/PanelActionButton.h"

#include "kit/widgets/KavrelCapsuleButton.h"

namespace PanelActionButton {

namespace {

KavrelCapsuleButton *smallButton(KavrelCapsuleButton::Look look, QWidget *parent)
{
    auto *button = new KavrelCapsuleButton(parent);
    // Its size hint says 26 too, so no layout takes it for squeezed.
    look.height = 26;
    button->setLook(look);
    QFont small = button->font();
    small.setPixelSize(12);
    small.setWeight(QFont::DemiBold);
    button->setFont(small);
    button->setFixedHeight(26);
    return button;
}

} // namespace

KavrelCapsuleButton *make(std::optional<KavrelDynamicColor> accent, QWidget *parent)
{
    KavrelCapsuleButton::Look look;
    look.horizontalPadding = 11;
    if (accent) {
        look.fill = *accent;
        look.fillOpacity = 1;
        look.stroke = *accent;
        look.strokeOpacity = 0;
        look.foreground = kavrelFixed({1, 1, 1, 1});
    }
    return smallButton(look, parent);
}

KavrelCapsuleButton *makeBorderless(QWidget *parent)
{
    // Its title alone, in the accent colour.
    KavrelCapsuleButton::Look look;
    look.fillOpacity = 0;
    look.strokeOpacity = 0;
    look.foreground = KavrelSystemColors::accent;
    look.horizontalPadding = 8;
    return smallButton(look, parent);
}

void setTexts(KavrelCapsuleButton *button, const QString &title, const QString &helpText)
{
    button->setText(title);
    button->setToolTip(helpText);
    button->setAccessibleName(title);
    button->setAccessibleDescription(helpText);
}

} // namespace PanelActionButton
