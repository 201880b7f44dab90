#include "services/MeetingSessionHistoryDecoding.h"

#include "base/Dates.h"

namespace MeetingSessionHistoryDecoding {

QDateTime date(const JsonReader &reader, const QString &key)
{
    const auto it = reader.object().constFind(key);
    if (it == reader.object().constEnd() || it->isUndefined())
        reader.fail(key, QStringLiteral("missing key"));
    if (it->isNull())
        reader.fail(key, QStringLiteral("null value for a required key"));
    return Dates::decodeBackendDate(*it, reader.pathOf(key));
}

std::optional<QDateTime> optionalDate(const JsonReader &reader, const QString &key)
{
    if (!reader.has(key))
        return std::nullopt;
    return Dates::decodeBackendDate(reader.object().value(key), reader.pathOf(key));
}

} // namespace MeetingSessionHistoryDecoding
