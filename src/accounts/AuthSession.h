#pragma once

#include "accounts/AuthenticatedUser.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// A signed-in session: what the secret store keeps and what every backend client takes
// its bearer token from.
struct AuthSession
{
    QString accessToken;
    QString refreshToken;
    QString tokenType;
    QDateTime expiresAt;
    AuthenticatedUser user;

    // The stored form. Reading accepts dates with or without fractional seconds and throws
    // JsonDecodeError on any fault; writing drops fractions of a second.
    static AuthSession fromJson(const QJsonObject &object, const QString &path = QString());
    static AuthSession fromJsonBytes(const QByteArray &bytes);
    QJsonObject toJson() const;
    QByteArray toJsonBytes() const;

    bool operator==(const AuthSession &) const = default;
};
