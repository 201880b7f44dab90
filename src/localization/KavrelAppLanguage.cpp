#include "localization/KavrelAppLanguage.h"

namespace KavrelAppLanguages {

QString rawValue(KavrelAppLanguage language)
{
    switch (language) {
    case KavrelAppLanguage::english: return QStringLiteral("en");
    case KavrelAppLanguage::russian: return QStringLiteral("ru");
    case KavrelAppLanguage::german: return QStringLiteral("de");
    case KavrelAppLanguage::spanish: return QStringLiteral("es");
    case KavrelAppLanguage::french: return QStringLiteral("fr");
    }
    return QStringLiteral("en");
}

std::optional<KavrelAppLanguage> fromRawValue(const QString &raw)
{
    for (KavrelAppLanguage language : allCases) {
        if (rawValue(language) == raw)
            return language;
    }
    return std::nullopt;
}

} // namespace KavrelAppLanguages
