#include "services/MeetingSessionTranscriptBlock.h"

#include "base/Json.h"

MeetingSessionTranscriptBlock MeetingSessionTranscriptBlock::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionTranscriptBlock block;
    block.id = reader.string(QStringLiteral("id"));
    block.seq = reader.integer(QStringLiteral("seq"));
    block.timestamp = reader.string(QStringLiteral("timestamp"));
    block.speakerLabel = reader.optionalString(QStringLiteral("speakerLabel"));
    block.text = reader.string(QStringLiteral("text"));
    return block;
}

QJsonObject MeetingSessionTranscriptBlock::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("seq"), seq);
    object.insert(QStringLiteral("timestamp"), timestamp);
    Json::putOptional(object, QStringLiteral("speakerLabel"), speakerLabel);
    object.insert(QStringLiteral("text"), text);
    return object;
}
