#pragma once

#include "accounts/AuthenticatedUser.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// The backend's reply to any request that opens or renews a session. Its fields come in
// snake_case or camelCase, and the expiry as a date or as seconds from now.
struct SessionResponse
{
    QString accessToken;
    std::optional<QString> refreshToken;
    QString tokenType;
    QDateTime expiresAt;
    AuthenticatedUser user;

    // Throws JsonDecodeError. An "expires_in" counts from now.
    static SessionResponse fromJson(const QJsonObject &object, const QDateTime &now);
};
