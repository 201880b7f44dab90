#pragma once

#include "kit/KavrelAppearanceMode.h"

#include <QColor>
#include <QPalette>

// Colours that follow the appearance. A theme colour is a light/dark pair that is resolved
// every time it is painted, against the palette of the widget being painted, so switching
// the appearance recolours every screen without rebuilding any view or colour.

// A colour as four components from 0 to 1.
struct KavrelRGBA
{
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    QColor toColor() const;
    friend constexpr bool operator==(const KavrelRGBA &, const KavrelRGBA &) = default;
};

// True when the palette is a dark one: its window colour is darker than mid grey.
bool kavrelIsDark(const QPalette &palette);
KavrelColorScheme kavrelColorScheme(const QPalette &palette);

// The contrast of two colours as the accessibility guidelines count it, from 1 to 21.
double kavrelContrastRatio(const QColor &a, const QColor &b);

// The colour with only its lightness changed (darker on a light surface, lighter on a dark
// one) so that text in it reads on `surface` at `wanted` : 1 at least. A colour that reads
// already is returned as it is.
QColor kavrelReadableOn(const QColor &color, const QColor &surface, double wanted = 4.5);

// A light/dark pair, resolved at paint time.
struct KavrelDynamicColor
{
    KavrelRGBA light;
    KavrelRGBA dark;

    QColor resolve(KavrelColorScheme scheme) const;
    // The dark colour when the palette is dark, else the light one.
    QColor resolve(const QPalette &palette) const;
    // The resolved colour with its alpha multiplied by `opacity`.
    QColor resolve(const QPalette &palette, double opacity) const;

    friend bool operator==(const KavrelDynamicColor &, const KavrelDynamicColor &) = default;
};

constexpr KavrelDynamicColor kavrelDynamic(KavrelRGBA light, KavrelRGBA dark)
{
    return KavrelDynamicColor{light, dark};
}

// A colour that is the same under both appearances.
constexpr KavrelDynamicColor kavrelFixed(KavrelRGBA color)
{
    return KavrelDynamicColor{color, color};
}

// The desktop's semantic colours the windows draw with.
namespace KavrelSystemColors {
inline constexpr KavrelDynamicColor label = kavrelDynamic({0, 0, 0, 0.85}, {1, 1, 1, 0.85});
inline constexpr KavrelDynamicColor secondaryLabel = kavrelDynamic({0, 0, 0, 0.6}, {1, 1, 1, 0.55});
inline constexpr KavrelDynamicColor textBackground = kavrelDynamic({1, 1, 1, 1}, {0.12, 0.12, 0.13, 1});
inline constexpr KavrelDynamicColor windowBackground = kavrelDynamic({0.93, 0.93, 0.93, 1}, {0.18, 0.18, 0.19, 1});
// Under the dark appearance light enough to read as text on the darkest surfaces.
inline constexpr KavrelDynamicColor accent = kavrelDynamic({0.0, 0.37, 0.78, 1}, {0.24, 0.62, 1.0, 1});
// Behind white text: the selected item of every menu, selected text, a selected row. The
// desktop's selection blue (#007aff, #0a84ff) made darker, keeping its hue, so that small
// white text on it reads at 5 : 1.
inline constexpr KavrelDynamicColor selection = kavrelDynamic({0.0, 0.42, 0.88, 1}, {0.0, 0.425, 0.85, 1});
} // namespace KavrelSystemColors

// The tints of statuses and warnings, drawn as text on a faint fill of themselves: each keeps
// its hue, darker under the light appearance and lighter under the dark one, so the text
// stays readable on both.
namespace KavrelStatusTints {
inline constexpr KavrelDynamicColor green = kavrelDynamic({0.09, 0.42, 0.29, 1}, {0.15, 0.67, 0.46, 1});
inline constexpr KavrelDynamicColor blue = kavrelDynamic({0.12, 0.38, 0.67, 1}, {0.47, 0.71, 0.97, 1});
inline constexpr KavrelDynamicColor amber = kavrelDynamic({0.50, 0.36, 0.12, 1}, {0.86, 0.62, 0.20, 1});
inline constexpr KavrelDynamicColor red = kavrelDynamic({0.58, 0.23, 0.21, 1}, {0.90, 0.56, 0.54, 1});
// The workspace's activity pill ("Translating..."), from the violet (0.56, 0.35, 0.88).
inline constexpr KavrelDynamicColor violet = kavrelDynamic({0.40, 0.15, 0.79, 1}, {0.76, 0.64, 0.93, 1});
} // namespace KavrelStatusTints

// The screen themes' appearance-dependent colours.
namespace KavrelSettingsTheme {
inline constexpr KavrelDynamicColor backgroundTop = kavrelDynamic({0.98, 0.99, 1.00, 1.00}, {0.12, 0.14, 0.16, 1.00});
inline constexpr KavrelDynamicColor backgroundBottom = kavrelDynamic({0.93, 0.97, 1.00, 1.00}, {0.09, 0.11, 0.14, 1.00});
inline constexpr KavrelDynamicColor primaryText = kavrelDynamic({0.09, 0.16, 0.27, 1.00}, {0.92, 0.95, 0.98, 1.00});
inline constexpr KavrelDynamicColor controlFill = kavrelDynamic({0.95, 0.97, 1.00, 0.92}, {0.18, 0.20, 0.24, 0.94});
inline constexpr KavrelDynamicColor controlBorder = kavrelDynamic({0.77, 0.84, 0.92, 1.00}, {0.29, 0.34, 0.40, 1.00});
inline constexpr KavrelDynamicColor secondaryText = kavrelDynamic({0.34, 0.41, 0.51, 1.00}, {0.64, 0.70, 0.78, 1.00});
inline constexpr KavrelDynamicColor accent = kavrelDynamic({0.06, 0.42, 0.61, 1.00}, {0.42, 0.79, 1.00, 1.00});
inline constexpr KavrelDynamicColor panelFill = kavrelDynamic({0.86, 0.98, 0.92, 0.82}, {0.13, 0.20, 0.20, 0.88});
inline constexpr KavrelDynamicColor panelBorder = kavrelDynamic({0.72, 0.91, 0.84, 1.00}, {0.22, 0.34, 0.34, 1.00});
inline constexpr KavrelDynamicColor selectedControlFill = kavrelDynamic({1.00, 1.00, 1.00, 0.96}, {0.25, 0.29, 0.34, 0.96});
} // namespace KavrelSettingsTheme

namespace KavrelShellTheme {
inline constexpr KavrelDynamicColor shellTop = kavrelDynamic({0.98, 0.98, 0.97, 1.00}, {0.09, 0.10, 0.13, 1.00});
inline constexpr KavrelDynamicColor shellBottom = kavrelDynamic({0.94, 0.96, 0.99, 1.00}, {0.07, 0.11, 0.16, 1.00});
inline constexpr KavrelDynamicColor sidebarTop = kavrelDynamic({0.96, 0.97, 0.99, 1.00}, {0.11, 0.13, 0.17, 1.00});
inline constexpr KavrelDynamicColor sidebarBottom = kavrelDynamic({0.92, 0.95, 0.98, 1.00}, {0.09, 0.11, 0.15, 1.00});
inline constexpr KavrelDynamicColor sidebarDivider = kavrelDynamic({0.00, 0.00, 0.00, 0.08}, {1.00, 1.00, 1.00, 0.08});
inline constexpr KavrelDynamicColor sidebarPanelFill = kavrelDynamic({1.00, 1.00, 1.00, 0.62}, {0.17, 0.20, 0.25, 0.82});
inline constexpr KavrelDynamicColor sidebarPanelBorder = kavrelDynamic({0.70, 0.78, 0.88, 1.00}, {0.28, 0.34, 0.43, 1.00});
inline constexpr KavrelDynamicColor buttonFill = kavrelDynamic({1.00, 1.00, 1.00, 0.62}, {0.17, 0.20, 0.25, 0.76});
inline constexpr KavrelDynamicColor selectedButtonFill = kavrelDynamic({0.84, 0.92, 0.99, 1.00}, {0.13, 0.28, 0.40, 0.95});
inline constexpr KavrelDynamicColor buttonBorder = kavrelDynamic({0.76, 0.82, 0.90, 1.00}, {0.28, 0.33, 0.40, 1.00});
inline constexpr KavrelDynamicColor selectedButtonBorder = kavrelDynamic({0.32, 0.62, 0.90, 0.85}, {0.23, 0.58, 0.90, 0.95});
inline constexpr KavrelDynamicColor buttonIcon = kavrelDynamic({0.28, 0.35, 0.47, 1.00}, {0.74, 0.80, 0.88, 1.00});
inline constexpr KavrelDynamicColor selectedButtonIcon = kavrelDynamic({0.12, 0.47, 0.80, 1.00}, {0.82, 0.92, 1.00, 1.00});
inline constexpr KavrelDynamicColor buttonText = kavrelDynamic({0.34, 0.42, 0.53, 1.00}, {0.75, 0.81, 0.89, 1.00});
inline constexpr KavrelDynamicColor selectedButtonText = kavrelDynamic({0.12, 0.22, 0.33, 1.00}, {0.90, 0.95, 1.00, 1.00});
inline constexpr KavrelDynamicColor avatarSurface = kavrelDynamic({1.00, 1.00, 1.00, 0.82}, {0.19, 0.22, 0.28, 0.92});
inline constexpr KavrelDynamicColor avatarBorder = kavrelDynamic({0.73, 0.80, 0.89, 1.00}, {0.30, 0.36, 0.45, 1.00});
} // namespace KavrelShellTheme

namespace KavrelProfileTheme {
inline constexpr KavrelDynamicColor primaryText = kavrelDynamic({0.10, 0.16, 0.24, 1.00}, {0.92, 0.95, 0.98, 1.00});
inline constexpr KavrelDynamicColor secondaryText = kavrelDynamic({0.34, 0.42, 0.54, 1.00}, {0.70, 0.77, 0.86, 1.00});
inline constexpr KavrelDynamicColor tertiaryText = kavrelDynamic({0.35, 0.41, 0.48, 1.00}, {0.56, 0.63, 0.74, 1.00});
inline constexpr KavrelDynamicColor cardFill = kavrelDynamic({1.00, 1.00, 1.00, 0.86}, {0.11, 0.13, 0.16, 0.94});
inline constexpr KavrelDynamicColor subtlePanelFill = kavrelDynamic({0.96, 0.97, 0.99, 1.00}, {0.15, 0.17, 0.21, 1.00});
inline constexpr KavrelDynamicColor cardBorder = kavrelDynamic({0.84, 0.88, 0.94, 1.00}, {0.24, 0.29, 0.36, 1.00});
inline constexpr KavrelDynamicColor avatarSurface = kavrelDynamic({1.00, 1.00, 1.00, 1.00}, {0.19, 0.22, 0.27, 1.00});
inline constexpr KavrelDynamicColor progressTrack = kavrelDynamic({0.89, 0.92, 0.96, 1.00}, {0.24, 0.28, 0.34, 1.00});
// The sign-out button's red, its title and (faintly) its fill.
inline constexpr KavrelDynamicColor signOutText = KavrelStatusTints::red;
} // namespace KavrelProfileTheme

namespace KavrelHistoryTheme {
inline constexpr KavrelDynamicColor backgroundTop = KavrelShellTheme::shellTop;
inline constexpr KavrelDynamicColor backgroundBottom = KavrelShellTheme::shellBottom;
inline constexpr KavrelDynamicColor primaryText = KavrelProfileTheme::primaryText;
inline constexpr KavrelDynamicColor secondaryText = KavrelProfileTheme::secondaryText;
inline constexpr KavrelDynamicColor tertiaryText = KavrelProfileTheme::tertiaryText;
inline constexpr KavrelDynamicColor neutralTint = KavrelProfileTheme::tertiaryText;
inline constexpr KavrelDynamicColor cardFill = KavrelProfileTheme::cardFill;
inline constexpr KavrelDynamicColor elevatedFill = KavrelProfileTheme::subtlePanelFill;
inline constexpr KavrelDynamicColor border = KavrelProfileTheme::cardBorder;
inline constexpr KavrelDynamicColor accentFill = kavrelDynamic({0.90, 0.95, 1.00, 1.00}, {0.13, 0.25, 0.38, 1.00});
inline constexpr KavrelDynamicColor searchIcon = kavrelDynamic({0.58, 0.70, 0.88, 1.00}, {0.52, 0.72, 0.96, 1.00});
} // namespace KavrelHistoryTheme
