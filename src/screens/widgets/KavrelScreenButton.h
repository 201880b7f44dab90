#pragma once

#include "kit/widgets/KavrelCapsuleButton.h"

// The bordered push buttons of the screens, made from the kit's button: a rounded rectangle
// with a tinted fill and outline, a text and an optional symbol after it. They take keyboard
// focus (Tab, then Space, Return or Enter) and draw a focus ring.
namespace KavrelScreenButton {

// The screens' look in `tint`, the text in `foreground`; callers adjust opacities and height.
KavrelCapsuleButton::Look look(KavrelDynamicColor tint, KavrelDynamicColor foreground);
KavrelCapsuleButton *make(const QString &text, const KavrelCapsuleButton::Look &look, QWidget *parent = nullptr);

} // namespace KavrelScreenButton
