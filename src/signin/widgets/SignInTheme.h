#pragma once

#include "kit/KavrelPalette.h"

// The sign-in screens' own colours: each a fixed sRGB pair, the dark one under a dark
// appearance.
namespace SignInTheme {

// Session-restore screen.
inline constexpr KavrelDynamicColor loadingTop = kavrelDynamic({0.98, 0.97, 0.94, 1}, {0.10, 0.10, 0.11, 1});
inline constexpr KavrelDynamicColor loadingBottom = kavrelDynamic({0.94, 0.96, 1.00, 1}, {0.09, 0.11, 0.16, 1});

// Sign-in screen.
inline constexpr KavrelDynamicColor backgroundTop = kavrelDynamic({0.98, 0.97, 0.94, 1}, {0.10, 0.10, 0.11, 1});
inline constexpr KavrelDynamicColor backgroundBottom = kavrelDynamic({0.96, 0.94, 1.00, 1}, {0.11, 0.08, 0.17, 1});
inline constexpr KavrelDynamicColor cardFill = kavrelDynamic({1, 1, 1, 0.88}, {0.12, 0.11, 0.15, 0.97});
inline constexpr KavrelDynamicColor cardBorder = kavrelDynamic({0.38, 0.20, 0.85, 0.12}, {0.56, 0.39, 1.00, 0.18});
inline constexpr KavrelDynamicColor cardShadow = kavrelDynamic({0, 0, 0, 0.10}, {0, 0, 0, 0.32});
inline constexpr KavrelDynamicColor secretBoxFill = kavrelDynamic({1, 1, 1, 0.92}, {1, 1, 1, 0.08});

// Inputs and buttons.
inline constexpr KavrelDynamicColor focusBorder = kavrelFixed({0.47, 0.28, 0.98, 1});
inline constexpr KavrelDynamicColor separator = kavrelDynamic({0, 0, 0, 0.25}, {1, 1, 1, 0.25});
inline constexpr KavrelDynamicColor buttonLeading = kavrelFixed({0.45, 0.24, 0.98, 1});
inline constexpr KavrelDynamicColor buttonTrailing = kavrelFixed({0.34, 0.18, 0.92, 1});

// Message strips.
inline constexpr KavrelDynamicColor errorTint = kavrelFixed({0.78, 0.22, 0.26, 1});
inline constexpr KavrelDynamicColor progressTint = kavrelFixed({0.19, 0.45, 0.95, 1});
inline constexpr KavrelDynamicColor codeSentTint = kavrelFixed({0.15, 0.56, 0.38, 1});
inline constexpr KavrelDynamicColor authenticatorTint = kavrelFixed({0.17, 0.43, 0.88, 1});

// Onboarding.
inline constexpr KavrelDynamicColor green = kavrelFixed({0.10, 0.62, 0.45, 1});
// The same green under white text: dark enough for it to read across a button's gradient.
inline constexpr KavrelDynamicColor greenButton = kavrelFixed({0.06, 0.40, 0.29, 1});
inline constexpr KavrelDynamicColor amber = kavrelFixed({0.89, 0.57, 0.20, 1});
inline constexpr KavrelDynamicColor blue = kavrelFixed({0.19, 0.45, 0.95, 1});
inline constexpr KavrelDynamicColor onboardingStop1 = kavrelDynamic({0.98, 0.97, 0.95, 1}, {0.08, 0.10, 0.13, 1});
inline constexpr KavrelDynamicColor onboardingStop2 = kavrelDynamic({0.95, 0.97, 1.00, 1}, {0.11, 0.12, 0.18, 1});
inline constexpr KavrelDynamicColor onboardingStop3 = kavrelDynamic({0.99, 0.96, 0.95, 1}, {0.13, 0.09, 0.12, 1});
inline constexpr KavrelDynamicColor permissionCardFill = kavrelDynamic({1, 1, 1, 0.92}, {0.13, 0.15, 0.18, 0.96});
inline constexpr KavrelDynamicColor permissionCardBorder = kavrelDynamic({0, 0, 0, 0.06}, {1, 1, 1, 0.08});
inline constexpr KavrelDynamicColor permissionCardShadow = kavrelDynamic({0, 0, 0, 0.06}, {0, 0, 0, 0.22});
inline constexpr KavrelDynamicColor insightCardFill = kavrelDynamic({1, 1, 1, 0.94}, {0.12, 0.14, 0.17, 0.98});
inline constexpr KavrelDynamicColor insightCardBorder = kavrelDynamic({0, 0, 0, 0.05}, {1, 1, 1, 0.08});
inline constexpr KavrelDynamicColor insightCardShadow = kavrelDynamic({0, 0, 0, 0.07}, {0, 0, 0, 0.24});

} // namespace SignInTheme
