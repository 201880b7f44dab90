#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// The translation of one transcript block.
struct MeetingSessionTranslationBlock
{
    QString transcriptBlockId;
    qint64 seq = 0;
    QString language; // lower-case English name, as the snapshot's translationLanguage
    QString text;

    // Throws JsonDecodeError.
    static MeetingSessionTranslationBlock fromJson(const QJsonValue &value, const QString &path = QString());
    QJsonObject toJson() const;

    bool operator==(const MeetingSessionTranslationBlock &) const = default;
};
