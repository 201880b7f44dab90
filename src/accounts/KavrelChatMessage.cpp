#include "accounts/KavrelChatMessage.h"

#include "base/Json.h"

KavrelChatMessage KavrelChatMessage::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelChatMessage message;
    message.role = reader.string(QStringLiteral("role"));
    message.content = reader.string(QStringLiteral("content"));
    return message;
}

QJsonObject KavrelChatMessage::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("role"), role);
    object.insert(QStringLiteral("content"), content);
    return object;
}
