#include "base/Dates.h"

#include "base/Json.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace Dates {

std::optional<QDateTime> parseIso8601(const QString &text)
{
    // Anchored as a whole: a bare "$" would also match before a final line feed.
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral(
        "([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})(?:\\.([0-9]{1,9}))?(?:(Z)|([+-])([0-9]{2}):?([0-9]{2}))")));
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
    const QDateTime result = QDateTime(date, time, Qt::OffsetFromUTC, offsetSeconds).toUTC();
    // An offset can carry a moment past year 9999 or before year 1, which cannot be
    // written back.
    if (!isWritable(result))
        return std::nullopt;
    return result;
}

QString formatIso8601(const QDateTime &dateTime)
{
    return dateTime.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

bool isWritable(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return false;
    const int year = dateTime.toUTC().date().year();
    return year >= 1 && year <= 9999;
}

QDateTime decodeBackendDate(const QJsonValue &value, const QString &path)
{
    const QString text = Json::toString(value, path);
    if (auto date = parseIso8601(text))
        return *date;
    throw JsonDecodeError(path, QStringLiteral("Expected ISO 8601 date string, got %1.").arg(text));
}

} // namespace Dates
