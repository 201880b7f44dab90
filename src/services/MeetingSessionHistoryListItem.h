#pragma once

#include <QDateTime>
#include <QJsonValue>
#include <QString>

#include <optional>

// One row of the history list. The status is kept as the server's text, unvalidated.
struct MeetingSessionHistoryListItem
{
    QString id;
    std::optional<QString> title;
    QString status;
    QDateTime startedAt;
    QDateTime updatedAt;
    std::optional<qint64> durationSeconds;
    std::optional<QString> processedByApp;
    std::optional<QString> previewText;
    std::optional<QString> inputLanguage;
    std::optional<QString> translationLanguage;
    bool translationEnabled = false;
    bool recordingEnabled = false;
    std::optional<qint64> wordCount;
    std::optional<qint64> lineCount;
    bool hasSummary = false;
    bool hasProtocol = false;
    bool hasSuggestedAnswer = false;

    // Throws JsonDecodeError.
    static MeetingSessionHistoryListItem fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const MeetingSessionHistoryListItem &) const = default;
};
