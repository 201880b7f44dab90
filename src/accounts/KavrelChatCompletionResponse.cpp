#include "accounts/KavrelChatCompletionResponse.h"

#include "base/Json.h"

#include <QJsonArray>

KavrelChatCompletionResponse KavrelChatCompletionResponse::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    const QJsonArray array = reader.array(QStringLiteral("choices"));
    KavrelChatCompletionResponse response;
    response.choices.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        response.choices.append(KavrelChatCompletionChoice::fromJson(array.at(i), QStringLiteral("choices[%1]").arg(i)));
    return response;
}
