#pragma once

#include "accounts/KavrelChatCompletionChoice.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>

// The decoded answer of the chat-completion proxy. An empty list of choices is valid.
struct KavrelChatCompletionResponse
{
    QList<KavrelChatCompletionChoice> choices;

    // Throws JsonDecodeError.
    static KavrelChatCompletionResponse fromJson(const QJsonObject &object);
    bool operator==(const KavrelChatCompletionResponse &) const = default;
};
