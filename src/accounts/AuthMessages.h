#pragma once

// The bodies the auth backend sends and takes, and the reading rules they share.
//
// Reading: fromJson() throws JsonDecodeError (required key missing or null, a value of
// the wrong type, a date the backend date rule rejects). Dates are read with that rule
// (ISO 8601 with or without fractional seconds) and written as whole-second ISO 8601.

#include "accounts/AuthSession.h"
#include "accounts/AuthenticatedUser.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// ---- Keys in several spellings ----

// Readers for backend objects whose keys come in several spellings. Each takes the
// alternative keys in lookup order.
namespace AuthJson {

// The first key whose string value is non-empty after trimming gives that trimmed value.
// Absent and null keys are skipped; a value of another type fails the whole read.
std::optional<QString> decodeTrimmedStringIfPresent(const QJsonObject &object, const QStringList &keys,
                                                    const QString &path = QString());

// As above, but no value fails with "Expected one of keys: <keys>." for the first key.
QString decodeRequiredTrimmedString(const QJsonObject &object, const QStringList &keys,
                                    const QString &path = QString());

// The first key that is present and not null, read with the reader (whose failure ends the
// whole read); nothing when no key has a value.
template<typename T>
std::optional<T> decodeIfPresent(const QJsonObject &object, const QStringList &keys,
                                 const std::function<T(const QJsonValue &, const QString &)> &reader,
                                 const QString &path = QString())
{
    for (const QString &key : keys) {
        const auto it = object.constFind(key);
        if (it == object.constEnd() || it->isUndefined() || it->isNull())
            continue;
        return reader(*it, path.isEmpty() ? key : path + QLatin1Char('.') + key);
    }
    return std::nullopt;
}

} // namespace AuthJson

// ---- Replies ----

// The error body of a failed auth request.
struct APIErrorResponse
{
    std::optional<QString> error;
    std::optional<QString> message;
    std::optional<QString> detail;
    std::optional<QString> title;
    std::optional<QString> errorDescription; // "error_description"

    // Nothing when the body is not a JSON object or one of the five keys holds something
    // other than a string or null.
    static std::optional<APIErrorResponse> decode(const QByteArray &body);

    // The first of error_description, message, detail, error, title that holds more than
    // white space, as sent.
    std::optional<QString> resolvedMessage() const;
};

// The backend's reply to any request that opens or renews a session. Its fields come in
// snake_case or camelCase, and the expiry as a date or as seconds from now.
struct SessionResponse
{
    QString accessToken;
    std::optional<QString> refreshToken;
    QString tokenType;
    QDateTime expiresAt;
    AuthenticatedUser user;

    // An "expires_in" counts from now.
    static SessionResponse fromJson(const QJsonObject &object, const QDateTime &now);
};

// The reply of the current-user profile endpoint. Every field is optional and read as it
// stands, under one key each.
struct CurrentUserProfileResponse
{
    std::optional<QString> id;
    std::optional<QString> email;
    std::optional<QString> displayName;
    std::optional<QString> avatarURL;
    std::optional<bool> newbie;

    static CurrentUserProfileResponse fromJson(const QJsonObject &object);

    bool operator==(const CurrentUserProfileResponse &) const = default;
};

// ---- E-mail flow records ----
// Read from the backend and also kept between the steps of a flow, hence toJson().

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

    static EmailChallenge fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
    bool operator==(const EmailChallenge &) const = default;
};

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

    static EmailVerification fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
    bool operator==(const EmailVerification &) const = default;
};

// A login that needs the authenticator code before it opens a session.
struct MfaChallenge
{
    QString challengeId;
    QString email;
    QString maskedEmail;
    QString type;
    qint64 expiresIn = 0;
    QDateTime expiresAt;

    static MfaChallenge fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
    bool operator==(const MfaChallenge &) const = default;
};

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

    static TotpSetup fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
    bool operator==(const TotpSetup &) const = default;
};

// ---- Requests ----

// The authenticator's first code, sent with the registration completion.
struct EmailRegistrationMFA
{
    QString type;
    QString setupId;
    QString code;

    QJsonObject toJson() const;
    bool operator==(const EmailRegistrationMFA &) const = default;
};

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

// ---- Outcomes ----

// The outcome of an e-mail password login: a session, or a second-factor challenge.
struct EmailLoginResult
{
    enum class Kind { authenticated, mfaRequired };

    Kind kind = Kind::authenticated;
    std::optional<AuthSession> session;     // set for authenticated
    std::optional<MfaChallenge> challenge;  // set for mfaRequired

    static EmailLoginResult authenticated(AuthSession session)
    {
        EmailLoginResult result;
        result.kind = Kind::authenticated;
        result.session = std::move(session);
        return result;
    }
    static EmailLoginResult mfaRequired(MfaChallenge challenge)
    {
        EmailLoginResult result;
        result.kind = Kind::mfaRequired;
        result.challenge = std::move(challenge);
        return result;
    }

    bool operator==(const EmailLoginResult &) const = default;
};
