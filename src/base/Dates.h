#pragma once

#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <optional>

namespace Dates {

// RFC 3339 date-times: "2024-05-01T10:20:30Z", "2024-05-01T10:20:30.123Z",
// "2024-05-01T13:20:30+03:00" (also "+0300"). A bare date, any other form and a moment
// outside what formatIso8601 can write (see isWritable) fail.
std::optional<QDateTime> parseIso8601(const QString &text);

// UTC, without fractional seconds: "2024-05-01T10:20:30Z". Only dates for which
// isWritable() holds read back the same; others give a text the reader rejects.
QString formatIso8601(const QDateTime &dateTime);

// True for a valid moment whose UTC year lies in 1...9999, the range of the four-digit
// year the format has.
bool isWritable(const QDateTime &dateTime);

// The date rule of every backend reply: ISO 8601 with or without fractional seconds.
// Throws JsonDecodeError ("Expected ISO 8601 date string, got <text>.") and, for a value
// that is not a string, a type mismatch.
QDateTime decodeBackendDate(const QJsonValue &value, const QString &path = QString());

} // namespace Dates
