#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// One dialogue turn of a saved transcript.
struct MeetingSessionTranscriptBlock
{
    QString id;        // "turn-<lower-case uuid>"
    qint64 seq = 0;    // position from 1
    QString timestamp; // local wall-clock "HH:mm:ss"; text, not a date
    std::optional<QString> speakerLabel;
    QString text;

    // Throws JsonDecodeError.
    static MeetingSessionTranscriptBlock fromJson(const QJsonValue &value, const QString &path = QString());
    QJsonObject toJson() const;

    bool operator==(const MeetingSessionTranscriptBlock &) const = default;
};
