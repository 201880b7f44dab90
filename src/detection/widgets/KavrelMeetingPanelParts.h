#pragma once

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelCapsuleButton.h"

#include <functional>

class QBoxLayout;
class QWidget;

// What both meeting prompts share: their row layout, their round close button and their buttons.
namespace KavrelMeetingPanelParts {

// The system blue of the detected prompt's bar and the red of the ended prompt's.
inline constexpr KavrelDynamicColor detectedAccent = KavrelSystemColors::accent;
inline constexpr KavrelDynamicColor endedAccent = kavrelFixed({0.92, 0.2, 0.18, 1});

// The one row of a prompt: spacing 14, padding 14 across and 12 down.
QBoxLayout *makeRow(QWidget *view);
// The 20 × 20 close button, an "xmark" over a faint circle; named "closeButton".
KavrelCapsuleButton *makeCloseButton(QWidget *parent, std::function<void()> action);
// A prompt button's look: a rounded rectangle (radius 12) 44 px high, filled in a colour (or a
// gradient to fillEnd), its symbol and text in white; a pressed button fades a little.
KavrelCapsuleButton::Look promptButtonLook(KavrelDynamicColor fill);
// A button in that look, sized to its text; the click runs `action`.
KavrelCapsuleButton *makePromptButton(QWidget *parent, const KavrelCapsuleButton::Look &look, const QString &symbol,
                                      std::function<void()> action);

} // namespace KavrelMeetingPanelParts
