#pragma once

#include <QJsonValue>
#include <QString>

#include <optional>

// Counters the server keeps per record; read only.
struct MeetingSessionHistoryStats
{
    std::optional<qint64> wordCount;
    std::optional<qint64> lineCount;
    std::optional<bool> hasSummary;
    std::optional<bool> hasProtocol;
    std::optional<bool> hasSuggestedAnswer;

    // Throws JsonDecodeError.
    static MeetingSessionHistoryStats fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const MeetingSessionHistoryStats &) const = default;
};
