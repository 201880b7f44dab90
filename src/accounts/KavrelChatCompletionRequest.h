#pragma once

#include "accounts/KavrelChatMessage.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// A chat-completion request for the backend's proxy. Absent options are left out of the
// JSON, never written as null.
struct KavrelChatCompletionRequest
{
    QString model;
    QList<KavrelChatMessage> messages;
    std::optional<double> temperature;
    std::optional<qint64> maxTokens; // "max_tokens"
    bool stream = false;

    QJsonObject toJson() const;
    bool operator==(const KavrelChatCompletionRequest &) const = default;
};
