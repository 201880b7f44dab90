#pragma once

#include <QJsonObject>
#include <QString>

// One chat message of a chat completion: role "system", "user" or "assistant".
struct KavrelChatMessage
{
    QString role;
    QString content;

    // Throws JsonDecodeError when "role" or "content" is missing or not a string.
    static KavrelChatMessage fromJson(const QJsonValue &value, const QString &path = QString());
    QJsonObject toJson() const;
    bool operator==(const KavrelChatMessage &) const = default;
};
