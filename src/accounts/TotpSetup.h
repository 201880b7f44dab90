#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// An authenticator set up during registration: its secret and, optionally, a QR picture
// as a data URL.
struct TotpSetup
{
    QString setupId;
    QString otpauthUri;
    QString secret;
    std::optional<QString> qrCodeDataUrl;
    qint64 expiresIn = 0;
    QDateTime expiresAt;

    // Throws JsonDecodeError.
    static TotpSetup fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
    bool operator==(const TotpSetup &) const = default;
};
