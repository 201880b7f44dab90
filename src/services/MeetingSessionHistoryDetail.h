#pragma once

#include "services/MeetingSessionHistorySessionParams.h"
#include "services/MeetingSessionHistoryStats.h"
#include "services/MeetingSessionTranscriptBlock.h"
#include "services/MeetingSessionTranslationBlock.h"

#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// A whole saved meeting as the server returns it. transcriptJson, translationJson and
// statsJson are JSON values (arrays and an object), not texts holding JSON.
struct MeetingSessionHistoryDetail
{
    QString id;
    std::optional<QString> workspaceId;
    std::optional<QString> title;
    QString status;
    QDateTime startedAt;
    std::optional<QDateTime> endedAt;
    std::optional<qint64> durationSeconds;
    std::optional<QString> processedByApp;
    std::optional<QString> inputLanguage;
    std::optional<QString> translationLanguage;
    bool translationEnabled = false;
    bool recordingEnabled = false;
    std::optional<QString> microphoneLabel;
    std::optional<QString> previewText;
    std::optional<QString> transcriptText;
    std::optional<QList<MeetingSessionTranscriptBlock>> transcriptJson;
    std::optional<QString> translationText;
    std::optional<QList<MeetingSessionTranslationBlock>> translationJson;
    std::optional<QString> summaryText;
    std::optional<QString> protocolText;
    std::optional<QString> suggestedAnswerText;
    std::optional<MeetingSessionHistorySessionParams> sessionParams;
    std::optional<MeetingSessionHistoryStats> statsJson;
    std::optional<qint64> wordCount;
    std::optional<qint64> lineCount;
    qint64 revision = 0; // an update of this record must quote it
    std::optional<QDateTime> createdAt;
    QDateTime updatedAt;
    std::optional<QDateTime> deletedAt;
    bool hasSummary = false;
    bool hasProtocol = false;
    bool hasSuggestedAnswer = false;

    // Throws JsonDecodeError.
    static MeetingSessionHistoryDetail fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const MeetingSessionHistoryDetail &) const = default;
};
