#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Facts about the client session that produced a record; the server keeps them with it.
// clientSessionId is how an earlier start whose answer was lost is found again.
struct MeetingSessionHistorySessionParams
{
    QString client;                         // always "macos" from this program
    QString source;                         // "system_audio"
    std::optional<QString> appVersion;
    std::optional<bool> focusMode;
    std::optional<QString> clientSessionId; // "kavrel-macos-history-<lower-case uuid>"

    // Throws JsonDecodeError.
    static MeetingSessionHistorySessionParams fromJson(const QJsonValue &value, const QString &path = QString());
    QJsonObject toJson() const;

    bool operator==(const MeetingSessionHistorySessionParams &) const = default;
};
