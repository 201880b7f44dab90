#pragma once

// The messages of the backend's chat-completion proxy, and what every caller of the chat
// model does the same way with them.
//
// Reading: fromJson() throws JsonDecodeError when a required key is missing, null or of
// the wrong type, or an optional key holds the wrong type. Writing leaves absent options
// out of the JSON, never writes them as null.

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// One chat message of a chat completion: role "system", "user" or "assistant". Both keys
// are required strings.
struct KavrelChatMessage
{
    QString role;
    QString content;

    static KavrelChatMessage fromJson(const QJsonValue &value, const QString &path = QString());
    QJsonObject toJson() const;
    bool operator==(const KavrelChatMessage &) const = default;
};

// A chat-completion request for the backend's proxy.
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

    static KavrelChatCompletionChoice fromJson(const QJsonValue &value, const QString &path = QString());
    bool operator==(const KavrelChatCompletionChoice &) const = default;
};

// The decoded answer of the chat-completion proxy. An empty list of choices is valid.
struct KavrelChatCompletionResponse
{
    QList<KavrelChatCompletionChoice> choices;

    static KavrelChatCompletionResponse fromJson(const QJsonObject &object);
    bool operator==(const KavrelChatCompletionResponse &) const = default;
};

// Build a one-shot (non-streaming) request and read the text of the first choice.
namespace ChatCompletion {

inline constexpr const char *model = "deepseek-chat";

KavrelChatMessage message(QString role, QString content);

KavrelChatCompletionRequest request(QList<KavrelChatMessage> messages, double temperature, qint64 maxTokens);

struct FirstChoice
{
    QString text; // trimmed, never empty
    bool truncated = false; // the model ran out of tokens mid-answer
};

// The first choice's trimmed text; nothing when there is no choice, no content, or only
// white space.
std::optional<FirstChoice> firstChoice(const KavrelChatCompletionResponse &response);

} // namespace ChatCompletion
