#include "base/Dates.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace Dates {

std::optional<QDateTime> parseIso8601(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d{1,9}))?(?:(Z)|([+-])(\\d{2}):?(\\d{2}))$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;

    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    int milliseconds = 0;
    const QString fraction = match.captured(7);
    if (!fraction.isEmpty())
        milliseconds = (fraction + QStringLiteral("00")).left(3).toInt();
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt(), milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    if (match.captured(8).isEmpty()) {
        const int hours = match.captured(10).toInt();
        const int minutes = match.captured(11).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (match.captured(9) == QLatin1String("-") ? -1 : 1);
    }
    QDateTime result(date, time, Qt::OffsetFromUTC, offsetSeconds);
    if (!result.isValid())
        return std::nullopt;
    return result.toUTC();
}

QString formatIso8601(const QDateTime &dateTime)
{
    return dateTime.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

} // namespace Dates
