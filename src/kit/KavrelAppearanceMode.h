#pragma once

#include <QString>
#include <array>
#include <optional>

// The stored appearance setting ("kavrel.appearanceMode").
enum class KavrelAppearanceMode { system, light, dark };

enum class KavrelColorScheme { light, dark };

namespace KavrelAppearance {

inline constexpr const char *defaultsKey = "kavrel.appearanceMode";
inline constexpr std::array<KavrelAppearanceMode, 3> allCases = {
    KavrelAppearanceMode::system, KavrelAppearanceMode::light, KavrelAppearanceMode::dark};

QString rawValue(KavrelAppearanceMode mode);
// Exactly "system", "light" or "dark", case-sensitive.
std::optional<KavrelAppearanceMode> fromRawValue(const QString &raw);
// The colour scheme to force on the windows for a stored text; none follows the system.
std::optional<KavrelColorScheme> preferredColorScheme(const QString &storedText);

} // namespace KavrelAppearance
