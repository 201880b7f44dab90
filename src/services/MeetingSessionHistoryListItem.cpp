#include "services/MeetingSessionHistoryListItem.h"

#include "services/MeetingSessionHistoryDecoding.h"

MeetingSessionHistoryListItem MeetingSessionHistoryListItem::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionHistoryListItem item;
    item.id = reader.string(QStringLiteral("id"));
    item.title = reader.optionalString(QStringLiteral("title"));
    item.status = reader.string(QStringLiteral("status"));
    item.startedAt = MeetingSessionHistoryDecoding::date(reader, QStringLiteral("startedAt"));
    item.updatedAt = MeetingSessionHistoryDecoding::date(reader, QStringLiteral("updatedAt"));
    item.durationSeconds = reader.optionalInteger(QStringLiteral("durationSeconds"));
    item.processedByApp = reader.optionalString(QStringLiteral("processedByApp"));
    item.previewText = reader.optionalString(QStringLiteral("previewText"));
    item.inputLanguage = reader.optionalString(QStringLiteral("inputLanguage"));
    item.translationLanguage = reader.optionalString(QStringLiteral("translationLanguage"));
    item.translationEnabled = reader.boolean(QStringLiteral("translationEnabled"));
    item.recordingEnabled = reader.boolean(QStringLiteral("recordingEnabled"));
    item.wordCount = reader.optionalInteger(QStringLiteral("wordCount"));
    item.lineCount = reader.optionalInteger(QStringLiteral("lineCount"));
    item.hasSummary = reader.boolean(QStringLiteral("hasSummary"));
    item.hasProtocol = reader.boolean(QStringLiteral("hasProtocol"));
    item.hasSuggestedAnswer = reader.boolean(QStringLiteral("hasSuggestedAnswer"));
    return item;
}
