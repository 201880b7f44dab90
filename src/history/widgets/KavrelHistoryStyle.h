#pragma once

#include "kit/KavrelPalette.h"

#include <QFont>
#include <QString>

class QLabel;
class QWidget;

// What the history screens share beyond the history theme of the widget kit: the colours
// that are the same in both appearances, the fonts and a few label helpers.
namespace KavrelHistoryStyle {

inline constexpr KavrelDynamicColor accent = kavrelFixed({0.17, 0.54, 0.95, 1});
inline constexpr KavrelDynamicColor errorRed = kavrelFixed({0.84, 0.33, 0.30, 1});
// The desktop's standard red, used faintly behind error cards.
inline constexpr KavrelDynamicColor standardRed = kavrelFixed({1.00, 0.23, 0.19, 1});
inline constexpr KavrelDynamicColor deleteForeground = kavrelFixed({0.96, 0.28, 0.34, 1});
inline constexpr KavrelDynamicColor deleteFill = kavrelDynamic({1.00, 0.95, 0.96, 1}, {0.30, 0.12, 0.14, 1});

enum class Design { standard, monospaced };

// The interface font at a pixel size and weight.
QFont font(double pixelSize, QFont::Weight weight, Design design = Design::standard);

// A label for texts shown as they are: plain text only, never rich text.
QLabel *plainLabel(const QString &text, const QFont &font, KavrelDynamicColor color, QWidget *parent = nullptr);
// The same on one line: a text too long for the width ends in "…" (the whole text is its
// tooltip), and the label never widens its window.
QLabel *oneLineLabel(const QString &text, const QFont &font, KavrelDynamicColor color, QWidget *parent = nullptr);

// The interface key looked up in the shared localization store.
QString localized(const QString &key);
QString localizedFormat(const QString &format, const QString &argument);
QString localizedMessage(const QString &text);

} // namespace KavrelHistoryStyle
