#include "accounts/EmailVerification.h"

#include "accounts/EmailFlowJson.h"
#include "base/Json.h"

#include <QJsonArray>

EmailVerification EmailVerification::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    EmailVerification verification;
    verification.challengeId = reader.string(QStringLiteral("challengeId"));
    verification.email = reader.string(QStringLiteral("email"));
    verification.maskedEmail = reader.string(QStringLiteral("maskedEmail"));
    verification.verified = reader.boolean(QStringLiteral("verified"));
    verification.purpose = reader.string(QStringLiteral("purpose"));
    verification.linkedAuthProviders = reader.stringArray(QStringLiteral("linkedAuthProviders"));
    verification.verificationToken = reader.string(QStringLiteral("verificationToken"));
    verification.expiresIn = reader.integer(QStringLiteral("expiresIn"));
    verification.expiresAt = EmailFlowJson::requiredDate(reader, QStringLiteral("expiresAt"));
    return verification;
}

QJsonObject EmailVerification::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("challengeId"), challengeId);
    object.insert(QStringLiteral("email"), email);
    object.insert(QStringLiteral("maskedEmail"), maskedEmail);
    object.insert(QStringLiteral("verified"), verified);
    object.insert(QStringLiteral("purpose"), purpose);
    object.insert(QStringLiteral("linkedAuthProviders"), QJsonArray::fromStringList(linkedAuthProviders));
    object.insert(QStringLiteral("verificationToken"), verificationToken);
    object.insert(QStringLiteral("expiresIn"), expiresIn);
    EmailFlowJson::putDate(object, QStringLiteral("expiresAt"), expiresAt);
    return object;
}
