#pragma once

#include "localization/KavrelAppLanguage.h"

#include <QDateTime>
#include <QString>

// Dates on the profile screen, in the interface language's medium style ("Dec 7, 2026",
// "7 дек. 2026 г.", "07.12.2026", "7 dic 2026", "7 déc. 2026"). Qt's locales have no medium
// style, so each language has its pattern here; month names come from the language's locale.
namespace KavrelProfileDates {

QString mediumDatePattern(KavrelAppLanguage language);
// The date in the user's time zone, formatted for the language.
QString profileDisplayDate(const QDateTime &date, KavrelAppLanguage language);

} // namespace KavrelProfileDates
