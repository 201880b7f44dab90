#include "speech/TranslationTurnKey.h"

namespace TranslationTurnKey {

QString fromUuid(const QUuid &turnID)
{
    return turnID.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> parse(const QString &key)
{
    if (key.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < key.size(); ++i) {
        const QChar c = key.at(i);
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != QLatin1Char('-'))
                return std::nullopt;
            continue;
        }
        const bool hex = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!hex)
            return std::nullopt;
    }
    // Checked above, so a nil result can only be the nil identifier itself, which is valid.
    return QUuid::fromString(key);
}

} // namespace TranslationTurnKey
