#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// A verified e-mail code, with the token that completes the registration.
struct EmailVerification
{
    QString challengeId;
    QString email;
    QString maskedEmail;
    bool verified = false;
    QString purpose;
    QStringList linkedAuthProviders;
    QString verificationToken;
    qint64 expiresIn = 0;
    QDateTime expiresAt;

    // Throws JsonDecodeError.
    static EmailVerification fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
    bool operator==(const EmailVerification &) const = default;
};
