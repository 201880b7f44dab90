#pragma once

#include "accounts/EmailRegistrationMFA.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// The last step of an e-mail registration. "mfa" is always written, as null without an
// authenticator.
struct CompleteEmailRegistrationInput
{
    QString challengeId;
    QString email;
    QString name;
    QString password;
    QString verificationToken;
    std::optional<EmailRegistrationMFA> mfa;

    QJsonObject toJson() const;
    bool operator==(const CompleteEmailRegistrationInput &) const = default;
};
