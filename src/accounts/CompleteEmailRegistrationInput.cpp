#include "accounts/CompleteEmailRegistrationInput.h"

QJsonObject CompleteEmailRegistrationInput::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("challengeId"), challengeId);
    object.insert(QStringLiteral("email"), email);
    object.insert(QStringLiteral("name"), name);
    object.insert(QStringLiteral("password"), password);
    object.insert(QStringLiteral("verificationToken"), verificationToken);
    // The backend tells "no authenticator" from a malformed body by the explicit null.
    object.insert(QStringLiteral("mfa"), mfa ? QJsonValue(mfa->toJson()) : QJsonValue(QJsonValue::Null));
    return object;
}
