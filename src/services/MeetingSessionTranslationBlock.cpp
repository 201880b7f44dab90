#include "services/MeetingSessionTranslationBlock.h"

#include "base/Json.h"

MeetingSessionTranslationBlock MeetingSessionTranslationBlock::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionTranslationBlock block;
    block.transcriptBlockId = reader.string(QStringLiteral("transcriptBlockId"));
    block.seq = reader.integer(QStringLiteral("seq"));
    block.language = reader.string(QStringLiteral("language"));
    block.text = reader.string(QStringLiteral("text"));
    return block;
}

QJsonObject MeetingSessionTranslationBlock::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("transcriptBlockId"), transcriptBlockId);
    object.insert(QStringLiteral("seq"), seq);
    object.insert(QStringLiteral("language"), language);
    object.insert(QStringLiteral("text"), text);
    return object;
}
