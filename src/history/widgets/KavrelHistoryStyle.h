#pragma once

#include "kit/KavrelPalette.h"

#include <QFont>
#include <QString>
#include <QStringList>

class QLabel;
class QWidget;

// What the history screens share beyond the history theme of the widget kit: their own
// colours, the fonts and a few label helpers.
namespace KavrelHistoryStyle {

// Both are drawn as text (the count badge, the retry button), so they follow the appearance.
inline constexpr KavrelDynamicColor accent = KavrelStatusTints::blue;
inline constexpr KavrelDynamicColor errorRed = KavrelStatusTints::red;
// The desktop's standard red, used faintly behind error cards.
inline constexpr KavrelDynamicColor standardRed = kavrelFixed({1.00, 0.23, 0.19, 1});
inline constexpr KavrelDynamicColor deleteForeground = kavrelDynamic({0.75, 0.22, 0.27, 1}, {0.97, 0.53, 0.57, 1});
// The card's status pills when their flag is on: translation, recording, summary, protocol
// and reply draft. The pill's text is the tint itself.
inline constexpr KavrelDynamicColor translationTint = kavrelDynamic({0.10, 0.39, 0.52, 1}, {0.18, 0.70, 0.95, 1});
inline constexpr KavrelDynamicColor recordingTint = kavrelDynamic({0.11, 0.41, 0.27, 1}, {0.21, 0.79, 0.52, 1});
inline constexpr KavrelDynamicColor summaryTint = kavrelDynamic({0.13, 0.42, 0.30, 1}, {0.26, 0.84, 0.60, 1});
inline constexpr KavrelDynamicColor protocolTint = kavrelDynamic({0.15, 0.40, 0.50, 1}, {0.28, 0.76, 0.95, 1});
inline constexpr KavrelDynamicColor replyDraftTint = kavrelDynamic({0.52, 0.33, 0.12, 1}, {0.94, 0.60, 0.22, 1});
inline constexpr KavrelDynamicColor deleteFill = kavrelDynamic({1.00, 0.95, 0.96, 1}, {0.30, 0.12, 0.14, 1});

enum class Design { standard, monospaced };

// The interface font at a pixel size and weight.
QFont font(double pixelSize, QFont::Weight weight, Design design = Design::standard);

// A label for texts shown as they are: plain text only, never rich text.
QLabel *plainLabel(const QString &text, const QFont &font, KavrelDynamicColor color, QWidget *parent = nullptr);
// A label of a meeting's text that Tab reaches and the arrows read (KavrelReadableText.h), named
// `name` for a screen reader.
QLabel *readableLabel(const QString &text, const QFont &font, KavrelDynamicColor color, const QString &name);
// The same on one line: a text too long for the width ends in "…" (the whole text is its
// tooltip), and the label never widens its window.
QLabel *oneLineLabel(const QString &text, const QFont &font, KavrelDynamicColor color, QWidget *parent = nullptr);

// `text` wrapped at `width` into at most `maxLines` lines; when more would follow, the last
// line ends in "…". Line breaks in the text are kept.
QStringList elidedLines(const QString &text, const QFont &font, double width, int maxLines);

// The interface key looked up in the shared localization store.
QString localized(const QString &key);
QString localizedFormat(const QString &format, const QString &argument);
QString localizedMessage(const QString &text);

} // namespace KavrelHistoryStyle
