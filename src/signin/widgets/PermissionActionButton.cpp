#include "signin/widgets/PermissionActionButton.h"

#include "localization/KavrelLocalizationStore.h"
#include "signin/widgets/SignInSymbols.h"
#include "signin/widgets/ThemedLabel.h"

namespace PermissionActionButton {

KavrelCapsuleButton *make(KavrelDynamicColor accent, QWidget *parent)
{
    KavrelCapsuleButton::Look look;
    look.fill = accent;
    look.fillOpacity = 1;
    look.strokeOpacity = 0;
    look.foreground = kavrelFixed({1, 1, 1, 1});
    look.inset = 0;
    look.height = 38;
    look.symbolSize = 13;
    look.symbolSpacing = 8;
    look.horizontalPadding = 16;
    look.paintSymbol = SignInSymbols::paint;
    look.darkensWhenPressed = true;
    look.disabled = KavrelCapsuleButton::DisabledColors{};
    auto *button = new KavrelCapsuleButton(parent);
    button->setLook(look);
    button->setFont(ThemedLabel::font(14, QFont::DemiBold));
    return button;
}

void setContent(KavrelCapsuleButton *button, const QString &titleKey, const QString &symbol, bool inProgress)
{
    button->setText(KavrelLocalizationStore::shared().localized(titleKey));
    button->setSymbol(symbol);
    button->setBusy(inProgress);
}

} // namespace PermissionActionButton
