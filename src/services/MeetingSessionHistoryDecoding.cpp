#include "services/MeetingSessionHistoryDecoding.h"

#include "accounts/AuthService.h"

namespace MeetingSessionHistoryDecoding {

QDateTime date(const JsonReader &reader, const QString &key)
{
    const auto it = reader.object().constFind(key);
    if (it == reader.object().constEnd() || it->isUndefined())
        reader.fail(key, QStringLiteral("missing key"));
    if (it->isNull())
        reader.fail(key, QStringLiteral("null value for a required key"));
    return AuthService::decodeBackendDate(*it, reader.pathOf(key));
}

std::optional<QDateTime> optionalDate(const JsonReader &reader, const QString &key)
{
    if (!reader.has(key))
        return std::nullopt;
    return AuthService::decodeBackendDate(reader.object().value(key), reader.pathOf(key));
}

} // namespace MeetingSessionHistoryDecoding
