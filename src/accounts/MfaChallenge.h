#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// A login that needs the authenticator code before it opens a session.
struct MfaChallenge
{
    QString challengeId;
    QString email;
    QString maskedEmail;
    QString type;
    qint64 expiresIn = 0;
    QDateTime expiresAt;

    // Throws JsonDecodeError.
    static MfaChallenge fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
    bool operator==(const MfaChallenge &) const = default;
};
