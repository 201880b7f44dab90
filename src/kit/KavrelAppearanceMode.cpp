#include "kit/KavrelAppearanceMode.h"

namespace KavrelAppearance {

QString rawValue(KavrelAppearanceMode mode)
{
    switch (mode) {
    case KavrelAppearanceMode::system: return QStringLiteral("system");
    case KavrelAppearanceMode::light: return QStringLiteral("light");
    case KavrelAppearanceMode::dark: return QStringLiteral("dark");
    }
    return QStringLiteral("system");
}

std::optional<KavrelAppearanceMode> fromRawValue(const QString &raw)
{
    for (KavrelAppearanceMode mode : allCases) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

std::optional<KavrelColorScheme> preferredColorScheme(const QString &storedText)
{
    const auto mode = fromRawValue(storedText);
    if (mode == KavrelAppearanceMode::light)
        return KavrelColorScheme::light;
    if (mode == KavrelAppearanceMode::dark)
        return KavrelColorScheme::dark;
    return std::nullopt;
}

} // namespace KavrelAppearance
