#include "signin/widgets/PermissionActionButton.h"

#include "localization/KavrelLocalizationStore.h"
#include "signin/widgets/SignInSymbols.h"
#include "signin/widgets/ThemedLabel.h"

namespace PermissionActionButton {

namespace {

// The accent as dark as it must be for white text on it to read.
KavrelRGBA underWhiteText(const KavrelRGBA &accent)
{
    const QColor fill = kavrelReadableOn(accent.toColor(), Qt::white);
    return {fill.redF(), fill.greenF(), fill.blueF(), fill.alphaF()};
}

} // namespace

KavrelCapsuleButton *make(KavrelDynamicColor accent, QWidget *parent)
{
    KavrelCapsuleButton::Look look;
    look.fill = kavrelDynamic(underWhiteText(accent.light), underWhiteText(accent.dark));
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
