#pragma once

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelIconButton.h"
#include "kit/widgets/KavrelLinkButton.h"

#include <QString>

// The sign-in and onboarding screens' buttons, made from the kit's. Titles are interface keys,
// localized here.
namespace SignInButtons {

// The forms' action button: a symbol and a bold title in white on a purple gradient, as wide as
// the form and 52 px high; focused, it wears a white ring.
KavrelCapsuleButton *action(const QString &titleKey, const QString &symbol, QWidget *parent = nullptr);
void setAction(KavrelCapsuleButton *button, const QString &titleKey, const QString &symbol);

// The onboarding's large call to action: a capsule shaded in one tint with a soft glow of that
// tint below it.
KavrelCapsuleButton *callToAction(const QString &titleKey, const QString &symbol, KavrelDynamicColor tint,
                                  QWidget *parent = nullptr);

// A text in the accent colour, drawn as a link.
KavrelLinkButton *link(const QString &key, int pixelSize, QWidget *parent = nullptr);

// A symbol alone, in the secondary text colour.
KavrelIconButton *symbol(QWidget *parent = nullptr);

} // namespace SignInButtons
