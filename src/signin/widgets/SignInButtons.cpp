#include "signin/widgets/SignInButtons.h"

#include "localization/KavrelLocalizationStore.h"
#include "signin/widgets/SignInSymbols.h"
#include "signin/widgets/SignInTheme.h"
#include "signin/widgets/ThemedLabel.h"

namespace SignInButtons {

namespace {

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

constexpr KavrelDynamicColor white = kavrelFixed({1, 1, 1, 1});

} // namespace

KavrelCapsuleButton *action(const QString &titleKey, const QString &symbol, QWidget *parent)
{
    KavrelCapsuleButton::Look look;
    look.fill = SignInTheme::buttonLeading;
    look.fillOpacity = 1;
    look.fillEnd = SignInTheme::buttonTrailing;
    look.gradientAcross = true;
    look.strokeOpacity = 0;
    look.foreground = white;
    look.cornerRadius = 14;
    look.inset = 0;
    look.height = 52;
    look.horizontalPadding = 24;
    look.symbolSize = 17;
    look.symbolSpacing = 10;
    look.paintSymbol = SignInSymbols::paint;
    look.darkensWhenPressed = true;
    look.disabledOpacity = 0.55;
    auto *button = new KavrelCapsuleButton(parent);
    button->setLook(look);
    button->setFont(ThemedLabel::font(16, QFont::Bold));
    button->setFixedHeight(52);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAction(button, titleKey, symbol);
    return button;
}

void setAction(KavrelCapsuleButton *button, const QString &titleKey, const QString &symbol)
{
    button->setText(localized(titleKey));
    button->setSymbol(symbol);
}

KavrelCapsuleButton *callToAction(const QString &titleKey, const QString &symbol, KavrelDynamicColor tint,
                                  QWidget *parent)
{
    KavrelCapsuleButton::Look look;
    look.fill = tint;
    look.fillOpacity = 1;
    look.fillEnd = tint;
    look.fillEndOpacity = 0.82;
    look.brightensOnHover = false;
    look.strokeOpacity = 0;
    look.foreground = white;
    look.inset = 0;
    look.height = 58;
    look.margins = QMarginsF(14, 7, 14, 22);
    look.shadow =
        KavrelCapsuleButton::Shadow{.color = tint, .opacity = 0.24, .blurRadius = 18, .offset = QPointF(0, 10)};
    look.horizontalPadding = 26;
    look.symbolSize = 16;
    look.symbolSpacing = 12;
    look.paintSymbol = SignInSymbols::paint;
    look.darkensWhenPressed = true;
    look.disabledOpacity = 0.72;
    auto *button = new KavrelCapsuleButton(parent);
    button->setLook(look);
    button->setFont(ThemedLabel::font(17, QFont::Bold));
    button->setText(localized(titleKey));
    button->setSymbol(symbol);
    return button;
}

KavrelLinkButton *link(const QString &key, int pixelSize, QWidget *parent)
{
    auto *link = new KavrelLinkButton(localized(key), parent);
    link->setFont(ThemedLabel::font(pixelSize, QFont::DemiBold));
    return link;
}

KavrelIconButton *symbol(QWidget *parent)
{
    KavrelIconButton::Look look;
    look.paintSymbol = SignInSymbols::paint;
    return new KavrelIconButton(look, parent);
}

} // namespace SignInButtons
