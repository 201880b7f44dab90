#include "screens/KavrelProfileDates.h"

#include <QLocale>

namespace KavrelProfileDates {

QString mediumDatePattern(KavrelAppLanguage language)
{
    switch (language) {
    case KavrelAppLanguage::english:
        return QStringLiteral("MMM d, yyyy");
    case KavrelAppLanguage::russian:
        return QStringLiteral("d MMM yyyy 'г.'");
    case KavrelAppLanguage::german:
        return QStringLiteral("dd.MM.yyyy");
    case KavrelAppLanguage::spanish:
        return QStringLiteral("d MMM yyyy");
    case KavrelAppLanguage::french:
        return QStringLiteral("d MMM yyyy");
    }
    return QStringLiteral("yyyy-MM-dd");
}

QString profileDisplayDate(const QDateTime &date, KavrelAppLanguage language)
{
    const QLocale locale(KavrelAppLanguages::rawValue(language));
    return locale.toString(date.toLocalTime().date(), mediumDatePattern(language));
}

} // namespace KavrelProfileDates
