#include "services/MeetingSessionHistoryDetail.h"

#include "services/MeetingSessionHistoryDecoding.h"

MeetingSessionHistoryDetail MeetingSessionHistoryDetail::fromJson(const QJsonValue &value, const QString &path)
{
    using namespace MeetingSessionHistoryDecoding;
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionHistoryDetail detail;
    detail.id = reader.string(QStringLiteral("id"));
    detail.workspaceId = reader.optionalString(QStringLiteral("workspaceId"));
    detail.title = reader.optionalString(QStringLiteral("title"));
    detail.status = reader.string(QStringLiteral("status"));
    detail.startedAt = date(reader, QStringLiteral("startedAt"));
    detail.endedAt = optionalDate(reader, QStringLiteral("endedAt"));
    detail.durationSeconds = reader.optionalInteger(QStringLiteral("durationSeconds"));
    detail.processedByApp = reader.optionalString(QStringLiteral("processedByApp"));
    detail.inputLanguage = reader.optionalString(QStringLiteral("inputLanguage"));
    detail.translationLanguage = reader.optionalString(QStringLiteral("translationLanguage"));
    detail.translationEnabled = reader.boolean(QStringLiteral("translationEnabled"));
    detail.recordingEnabled = reader.boolean(QStringLiteral("recordingEnabled"));
    detail.microphoneLabel = reader.optionalString(QStringLiteral("microphoneLabel"));
    detail.previewText = reader.optionalString(QStringLiteral("previewText"));
    detail.transcriptText = reader.optionalString(QStringLiteral("transcriptText"));
    if (const auto blocks = reader.optionalArray(QStringLiteral("transcriptJson"))) {
        detail.transcriptJson = list<MeetingSessionTranscriptBlock>(*blocks, reader.pathOf(QStringLiteral("transcriptJson")),
                                                                    &MeetingSessionTranscriptBlock::fromJson);
    }
    detail.translationText = reader.optionalString(QStringLiteral("translationText"));
    if (const auto blocks = reader.optionalArray(QStringLiteral("translationJson"))) {
        detail.translationJson = list<MeetingSessionTranslationBlock>(*blocks, reader.pathOf(QStringLiteral("translationJson")),
                                                                      &MeetingSessionTranslationBlock::fromJson);
    }
    detail.summaryText = reader.optionalString(QStringLiteral("summaryText"));
    detail.protocolText = reader.optionalString(QStringLiteral("protocolText"));
    detail.suggestedAnswerText = reader.optionalString(QStringLiteral("suggestedAnswerText"));
    if (reader.has(QStringLiteral("sessionParams"))) {
        detail.sessionParams = MeetingSessionHistorySessionParams::fromJson(reader.object().value(QStringLiteral("sessionParams")),
                                                                            reader.pathOf(QStringLiteral("sessionParams")));
    }
    if (reader.has(QStringLiteral("statsJson"))) {
        detail.statsJson = MeetingSessionHistoryStats::fromJson(reader.object().value(QStringLiteral("statsJson")),
                                                                reader.pathOf(QStringLiteral("statsJson")));
    }
    detail.wordCount = reader.optionalInteger(QStringLiteral("wordCount"));
    detail.lineCount = reader.optionalInteger(QStringLiteral("lineCount"));
    detail.revision = reader.integer(QStringLiteral("revision"));
    detail.createdAt = optionalDate(reader, QStringLiteral("createdAt"));
    detail.updatedAt = date(reader, QStringLiteral("updatedAt"));
    detail.deletedAt = optionalDate(reader, QStringLiteral("deletedAt"));
    detail.hasSummary = reader.boolean(QStringLiteral("hasSummary"));
    detail.hasProtocol = reader.boolean(QStringLiteral("hasProtocol"));
    detail.hasSuggestedAnswer = reader.boolean(QStringLiteral("hasSuggestedAnswer"));
    return detail;
}
