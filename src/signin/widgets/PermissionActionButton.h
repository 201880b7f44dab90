#pragma once

#include "kit/widgets/KavrelCapsuleButton.h"

// The permission card's button, made from the kit's button: a capsule in the card's accent with
// a symbol and a title in white; while a request runs a small spinner replaces the symbol.
// Disabled, it is a faint grey capsule with grey text.
namespace PermissionActionButton {

KavrelCapsuleButton *make(KavrelDynamicColor accent, QWidget *parent);
// The title is an interface key.
void setContent(KavrelCapsuleButton *button, const QString &titleKey, const QString &symbol, bool inProgress);

} // namespace PermissionActionButton
