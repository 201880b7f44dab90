#include "accounts/MfaChallenge.h"

#include "accounts/EmailFlowJson.h"
#include "base/Json.h"

MfaChallenge MfaChallenge::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    MfaChallenge challenge;
    challenge.challengeId = reader.string(QStringLiteral("challengeId"));
    challenge.email = reader.string(QStringLiteral("email"));
    challenge.maskedEmail = reader.string(QStringLiteral("maskedEmail"));
    challenge.type = reader.string(QStringLiteral("type"));
    challenge.expiresIn = reader.integer(QStringLiteral("expiresIn"));
    challenge.expiresAt = EmailFlowJson::requiredDate(reader, QStringLiteral("expiresAt"));
    return challenge;
}

QJsonObject MfaChallenge::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("challengeId"), challengeId);
    object.insert(QStringLiteral("email"), email);
    object.insert(QStringLiteral("maskedEmail"), maskedEmail);
    object.insert(QStringLiteral("type"), type);
    object.insert(QStringLiteral("expiresIn"), expiresIn);
    EmailFlowJson::putDate(object, QStringLiteral("expiresAt"), expiresAt);
    return object;
}
