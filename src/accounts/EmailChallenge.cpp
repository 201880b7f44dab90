#include "accounts/EmailChallenge.h"

#include "accounts/EmailFlowJson.h"
#include "base/Json.h"

#include <QJsonArray>

EmailChallenge EmailChallenge::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    EmailChallenge challenge;
    challenge.challengeId = reader.string(QStringLiteral("challengeId"));
    challenge.email = reader.string(QStringLiteral("email"));
    challenge.maskedEmail = reader.string(QStringLiteral("maskedEmail"));
    challenge.purpose = reader.string(QStringLiteral("purpose"));
    challenge.linkedAuthProviders = reader.stringArray(QStringLiteral("linkedAuthProviders"));
    challenge.expiresIn = reader.integer(QStringLiteral("expiresIn"));
    challenge.expiresAt = EmailFlowJson::requiredDate(reader, QStringLiteral("expiresAt"));
    challenge.resendAfter = reader.optionalInteger(QStringLiteral("resendAfter"));
    return challenge;
}

QJsonObject EmailChallenge::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("challengeId"), challengeId);
    object.insert(QStringLiteral("email"), email);
    object.insert(QStringLiteral("maskedEmail"), maskedEmail);
    object.insert(QStringLiteral("purpose"), purpose);
    object.insert(QStringLiteral("linkedAuthProviders"), QJsonArray::fromStringList(linkedAuthProviders));
    object.insert(QStringLiteral("expiresIn"), expiresIn);
    EmailFlowJson::putDate(object, QStringLiteral("expiresAt"), expiresAt);
    Json::putOptional(object, QStringLiteral("resendAfter"), resendAfter);
    return object;
}
