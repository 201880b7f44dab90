#pragma once

// The product backend's auth endpoints, chat-completion proxy and relay websockets on top
// of FakeBackend, with a small account model: registration by e-mail code, an optional
// authenticator, password login with a second factor, rotating refresh tokens, logout and
// the profile. Every reply shape the client must understand can be switched on. A test
// that needs a reply this class does not make replaces the route with FakeBackend::route.

#include "support/FakeBackend.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

struct AuthSession;

class FakeAuthBackend final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *registerPath = "/api/auth/email/register";
    static constexpr const char *verifyPath = "/api/auth/email/verify";
    static constexpr const char *resendCodePath = "/api/auth/email/resend-code";
    static constexpr const char *totpSetupPath = "/api/auth/email/totp/setup";
    static constexpr const char *completeRegistrationPath = "/api/auth/email/complete-registration";
    static constexpr const char *loginPath = "/api/auth/email/login";
    static constexpr const char *mfaVerifyPath = "/api/auth/email/mfa/verify";
    static constexpr const char *refreshPath = "/v1/auth/session/refresh";
    static constexpr const char *logoutPath = "/v1/auth/logout";
    static constexpr const char *mePath = "/v1/auth/me";
    static constexpr const char *chatCompletionsPath = "/api/ai/deepseek/chat/completions";
    static constexpr const char *speechSocketPath = "/api/stt/deepgram/live";
    static constexpr const char *translationSocketPath = "/api/v2/ai/translation/live";
    static constexpr const char *legacyTranslationSocketPath = "/api/ai/translation/live";

    // The e-mail code every challenge accepts, and the authenticator's current code.
    static constexpr const char *emailCode = "123456";
    static constexpr const char *totpCode = "654321";
    // The authenticator secret of every setup; codes computed from it are accepted as well.
    static constexpr const char *totpSecret = "JBSWY3DPEHPK3PXP";

    // How session replies spell their keys.
    enum class KeyStyle { snakeCase, camelCase };
    // How session replies give the expiry.
    enum class ExpiryStyle { expiresAt, expiresAtFractional, expiresIn };
    // Where session replies carry the refresh token (refreshes always carry it in the body).
    enum class RefreshTokenPlacement { body, cookieOnly, blankBodyAndCookie };

    // Installs the routes on the backend, which must outlive this object.
    explicit FakeAuthBackend(FakeBackend *backend, QObject *parent = nullptr);

    FakeBackend *backend() const { return m_backend; }

    void setKeyStyle(KeyStyle style) { m_keyStyle = style; }
    void setExpiryStyle(ExpiryStyle style) { m_expiryStyle = style; }
    void setRefreshTokenPlacement(RefreshTokenPlacement placement) { m_refreshTokenPlacement = placement; }
    // Delays every reply of the auth routes (the request is handled on arrival).
    void setReplyDelay(int milliseconds) { m_replyDelayMs = milliseconds; }
    // Lifetime of issued access tokens (3600 s unless set).
    void setSessionLifetimeSeconds(qint64 seconds) { m_sessionLifetimeSeconds = seconds; }
    // The next requests to the route are carried out and their answers lost: the connection
    // closes unanswered, as behind a gateway that drops them.
    void loseNextAnswers(const char *path, int count);
    // The next requests to the route get this answer instead, and are not carried out.
    void failNext(const char *path, const FakeResponse &response, int count);

    // An existing account.
    void addAccount(const QString &email, const QString &password, const QString &name, bool withAuthenticator);
    bool hasAccount(const QString &email) const { return m_accounts.contains(email); }
    bool accountHasAuthenticator(const QString &email) const;

    // Makes the backend accept the session's tokens, as if it had issued them.
    void registerSession(const AuthSession &session);
    bool isRefreshTokenValid(const QString &refreshToken) const { return m_refreshTokens.contains(refreshToken); }
    bool isAccessTokenValid(const QString &accessToken) const { return m_accessTokens.contains(accessToken); }
    // The e-mail of the account whose session the request's bearer token is; nothing for
    // another token or none.
    std::optional<QString> accountOf(const RecordedRequest &request) const { return bearerEmail(request); }

    // The profile the "me" endpoint answers for a user (merged over the account's own).
    void setProfileOverride(const QJsonObject &profile) { m_profileOverride = profile; }

    // The chat-completion proxy's answer; by default one choice that echoes the last message.
    void setChatCompletionReply(std::optional<FakeResponse> reply) { m_chatReply = std::move(reply); }

    // An error reply whose JSON body carries the text under the key.
    static FakeResponse errorReply(int status, const QString &key, const QString &text);
    // The ISO 8601 form the backend writes.
    static QString isoDate(const QDateTime &date, bool fractional = false);

private:
    struct Account
    {
        QString id;
        QString email;
        QString password;
        QString name;
        bool withAuthenticator = false;
    };
    struct Challenge
    {
        QString email;
        QString name;
        QString verificationToken; // set once the code was verified
        QString setupId;           // set once an authenticator was set up
    };

    void installRoutes();
    FakeResponse handleRegister(const RecordedRequest &request);
    FakeResponse handleVerify(const RecordedRequest &request);
    FakeResponse handleResend(const RecordedRequest &request);
    FakeResponse handleTotpSetup(const RecordedRequest &request);
    FakeResponse handleComplete(const RecordedRequest &request);
    FakeResponse handleLogin(const RecordedRequest &request);
    FakeResponse handleMfaVerify(const RecordedRequest &request);
    FakeResponse handleRefresh(const RecordedRequest &request);
    FakeResponse handleLogout(const RecordedRequest &request);
    FakeResponse handleMe(const RecordedRequest &request);
    FakeResponse handleChat(const RecordedRequest &request);

    QJsonObject challengeJson(const QString &challengeId, const Challenge &challenge) const;
    QJsonObject userJson(const Account &account) const;
    // Issues new tokens for the account and builds the session reply.
    FakeResponse sessionReply(const Account &account, bool forRefresh);
    std::optional<QString> bearerEmail(const RecordedRequest &request) const;

    FakeBackend *m_backend;
    KeyStyle m_keyStyle = KeyStyle::snakeCase;
    ExpiryStyle m_expiryStyle = ExpiryStyle::expiresAt;
    RefreshTokenPlacement m_refreshTokenPlacement = RefreshTokenPlacement::body;
    qint64 m_sessionLifetimeSeconds = 3600;
    QHash<QString, Account> m_accounts;          // by e-mail
    QHash<QString, Challenge> m_challenges;      // by challenge id
    QHash<QString, QString> m_mfaChallenges;     // challenge id → e-mail
    QHash<QString, QString> m_refreshTokens;     // token → e-mail
    QHash<QString, QString> m_accessTokens;      // token → e-mail
    QJsonObject m_profileOverride;
    std::optional<FakeResponse> m_chatReply;
    int m_serial = 0;
    int m_replyDelayMs = 0;
    QHash<QString, int> m_answersToLose;                // by path
    QHash<QString, QPair<FakeResponse, int>> m_failures; // by path
};
