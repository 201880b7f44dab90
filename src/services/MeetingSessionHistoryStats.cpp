#include "services/MeetingSessionHistoryStats.h"

#include "base/Json.h"

MeetingSessionHistoryStats MeetingSessionHistoryStats::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionHistoryStats stats;
    stats.wordCount = reader.optionalInteger(QStringLiteral("wordCount"));
    stats.lineCount = reader.optionalInteger(QStringLiteral("lineCount"));
    stats.hasSummary = reader.optionalBoolean(QStringLiteral("hasSummary"));
    stats.hasProtocol = reader.optionalBoolean(QStringLiteral("hasProtocol"));
    stats.hasSuggestedAnswer = reader.optionalBoolean(QStringLiteral("hasSuggestedAnswer"));
    return stats;
}
