#pragma once

#include "kit/KavrelPalette.h"

#include <QString>

#include <optional>

class KavrelCapsuleButton;
class QWidget;

// The small text buttons of the main window's panel headers, made from the kit's capsule
// button: "Summarize", "Protocol", "Suggest answer" and "Clear subtitles" are bordered, or filled
// with the accent colour and titled in white when there is one; "Copy" is borderless.
namespace PanelActionButton {

KavrelCapsuleButton *make(std::optional<KavrelDynamicColor> accent, QWidget *parent);
KavrelCapsuleButton *makeBorderless(QWidget *parent);
// The title shown and the help text, which is the tooltip and the accessible description.
void setTexts(KavrelCapsuleButton *button, const QString &title, const QString &helpText);

} // namespace PanelActionButton
