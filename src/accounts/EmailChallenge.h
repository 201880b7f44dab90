#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// The backend's answer to a registration start or a code resend: the user now types the
// code sent by e-mail.
struct EmailChallenge
{
    QString challengeId;
    QString email;
    QString maskedEmail;
    QString purpose;
    QStringList linkedAuthProviders;
    qint64 expiresIn = 0;
    QDateTime expiresAt;
    std::optional<qint64> resendAfter;

    // Throws JsonDecodeError.
    static EmailChallenge fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
    bool operator==(const EmailChallenge &) const = default;
};
