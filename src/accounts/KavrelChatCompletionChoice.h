#pragma once

#include <QJsonValue>
#include <QString>

#include <optional>

struct KavrelChatCompletionChoiceMessage
{
    std::optional<QString> content;

    bool operator==(const KavrelChatCompletionChoiceMessage &) const = default;
};

// One answer of a chat completion. Callers check that the content is there.
struct KavrelChatCompletionChoice
{
    KavrelChatCompletionChoiceMessage message;
    std::optional<QString> finishReason; // "finish_reason"

    // Throws JsonDecodeError.
    static KavrelChatCompletionChoice fromJson(const QJsonValue &value, const QString &path = QString());
    bool operator==(const KavrelChatCompletionChoice &) const = default;
};
