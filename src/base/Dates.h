#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace Dates {

// RFC 3339 date-times: "2024-05-01T10:20:30Z", "2024-05-01T10:20:30.123Z",
// "2024-05-01T13:20:30+03:00" (also "+0300"). A bare date and any other form fail.
std::optional<QDateTime> parseIso8601(const QString &text);

// UTC, without fractional seconds: "2024-05-01T10:20:30Z".
QString formatIso8601(const QDateTime &dateTime);

} // namespace Dates
