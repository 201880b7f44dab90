#pragma once

#include "accounts/AppConfigurationStore.h"
#include "accounts/AuthSession.h"
#include "accounts/AuthServiceError.h"
#include "accounts/AuthMessages.h"
#ifndef Q_MOC_RUN // moc cannot parse <coroutine>, which this pulls in
#include "base/Async.h"
#endif
#include "platform/HttpTransport.h"

#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class AppleAuthorizationSession;
class AuthRequestTransport;
class DesktopOAuthCallbackWaiter;
class LoopbackOAuthRedirectServer;
class QNetworkAccessManager;
class QNetworkCookieJar;
class SecretStore;

// The authentication client of the product backend: e-mail registration and login with a
// second factor, the session in the secret store, the token provider of every backend
// client, refresh, logout and the profile. One instance per process, created by the
// application and handed to every client. Lives on the main thread; its coroutines are
// the only way in.
class AuthService final : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // The secret store's account of the session item.
    static constexpr const char *sessionAccount = "kavrel.auth.session";
    // A session this close to its expiry (or past it) is refreshed before it is handed out.
    static constexpr qint64 refreshThresholdSeconds = 60;

    // Takes ownership of the secret store.
    AuthService(AppConfigurationStore configuration, SecretStore *secretStore, QObject *parent = nullptr);
    ~AuthService() override;

    // The service name of the secret-store item: the bundle identifier plus ".auth".
    static QString secretStoreService();

    const AppConfigurationStore &configurationStore() const { return m_configuration; }
    SecretStore *secretStore() const { return m_secretStore; }
    QNetworkAccessManager *networkAccessManager() const;
    // The cookie jar of every auth request.
    QNetworkCookieJar *cookieJar() const;

    // The time that expiry checks compare with; tests set their own clock.
    QDateTime now() const;
    void setClock(Clock clock);
    // Time-out of every auth request (60 s unless set).
    void setRequestTimeout(std::chrono::milliseconds timeout);

    // ---- Sessions and tokens ----

    // The saved session, refreshed first when it expires within 60 s. Without a saved
    // session: AuthServiceError::requestFailed("Sign in to sync meeting history.").
    // Concurrent callers that meet a session near expiry share one refresh.
    QCoro::Task<AuthSession> activeSession();
    // Renews the session with the refresh token and saves it. While a refresh with the same
    // token runs, this awaits that one instead of sending a second request: refresh tokens
    // rotate, and a second use of the old one would fail.
    QCoro::Task<AuthSession> refreshSession(QString refreshToken);
    // Tells the backend (failures ignored), then deletes the saved session. Never throws.
    // While a refresh with the given refresh token runs, it waits for it and sends the
    // rotated tokens, so the live refresh token is the one revoked.
    QCoro::Task<void> logout(std::optional<QString> accessToken, std::optional<QString> refreshToken);
    // Fetches the profile with the session's access token and merges it into the user of
    // the session saved now (whose tokens may be newer than the given ones), saves and
    // returns that session. Without a saved session the given one is the base.
    QCoro::Task<AuthSession> refreshCurrentUserProfile(AuthSession session);
    // The saved session, or nothing when there is none or it does not decode. Throws
    // SecretStoreError (with readFailedText()) when the secret store could not be read; the
    // item is then left alone.
    QCoro::Task<std::optional<AuthSession>> loadSavedSession();
    // Removes the saved session. Never throws.
    QCoro::Task<void> deleteSavedSession();

    // ---- E-mail sign-in. Cancelling the token aborts the request; a cancelled step
    // throws CancellationError and stores nothing. ----

    QCoro::Task<EmailChallenge> startEmailRegistration(QString email, std::optional<QString> name,
                                                       CancellationToken token = CancellationToken());
    QCoro::Task<EmailVerification> verifyEmailCode(QString challengeId, QString email, QString code,
                                                   CancellationToken token = CancellationToken());
    QCoro::Task<TotpSetup> setupRegistrationTotp(QString challengeId, QString email, QString verificationToken,
                                                 CancellationToken token = CancellationToken());
    // Opens and saves the session before returning it.
    QCoro::Task<AuthSession> completeEmailRegistration(CompleteEmailRegistrationInput input,
                                                       CancellationToken token = CancellationToken());
    // An authenticated session is saved before it is returned; a second-factor challenge
    // leaves the saved session as it was.
    QCoro::Task<EmailLoginResult> loginWithEmail(QString email, QString password,
                                                 CancellationToken token = CancellationToken());
    // Opens and saves the session before returning it. A challenge the server no longer knows
    // (404 or 410) throws AuthServiceError::signInRequestGone().
    QCoro::Task<AuthSession> verifyEmailMfa(QString challengeId, QString email, QString code,
                                            CancellationToken token = CancellationToken());
    QCoro::Task<EmailChallenge> resendEmailCode(QString challengeId, QString email,
                                                CancellationToken token = CancellationToken());

    // ---- Provider sign-in completion ----

    // Ends any waiting provider sign-in with a cancellation.
    void cancelActiveAuthentication();

    DesktopOAuthCallbackWaiter *activeDesktopCallbackWaiter() const;
    LoopbackOAuthRedirectServer *activeRedirectServer() const;
    AppleAuthorizationSession *activeAppleAuthorizationSession() const;
    // The start of a provider sign-in registers its receiver here before the outcome can
    // arrive. The service takes ownership.
    void setActiveDesktopCallbackWaiter(DesktopOAuthCallbackWaiter *waiter);
    void setActiveRedirectServer(LoopbackOAuthRedirectServer *server);
    void setActiveAppleAuthorizationSession(AppleAuthorizationSession *session);

    // Routes URLs opened with the application's scheme. The first URL of the form
    // kavrel://auth/callback or kavrel://auth/microsoft/complete (scheme and host in any
    // case) ends the search; a "/callback" URL goes whole to the waiting callback waiter.
    // Returns true when a URL matched: the application then raises its main window.
    bool handleCallbackURLs(const QList<QUrl> &urls);

    // ---- Shared rules ----

    // True for failures that say nothing about the session itself: no connection, a
    // time-out, a server-side failure (5xx, 408, 429), an unusable base URL, the secret
    // store. A saved session is kept through these; only a rejection (another HTTP status)
    // or an invalid reply means it is gone.
    static bool isTransientFailure(const std::exception_ptr &error);

    // The text of activeSession() without a saved session.
    static QString signInRequiredText();
    // The text of a secret-store read that failed.
    static QString readFailedText();

Q_SIGNALS:
    // Every write of the saved session: sign-in, refresh (whoever asked for it), profile.
    // The saved session is the one current session; observers follow it.
    void sessionSaved(const AuthSession &session);
    // The saved session was removed (sign-out, expiry, a cancelled sign-in).
    void savedSessionDeleted();
    // The backend refused for good to renew the saved session (its refresh token is spent or
    // revoked, or the answer holds no session), whoever asked for the refresh: the session is
    // over, and the one who keeps the sign-in state ends it. Not for a refresh that failed on
    // the network or on the server's side, nor for one overtaken by a sign-in or sign-out.
    void savedSessionRefused();

private:
    struct Configuration
    {
        QUrl baseURL;
    };

    Configuration makeConfiguration() const;
    QUrl endpointURL(const Configuration &configuration, const QString &path) const;
    // POSTs one e-mail sign-in step's JSON body, without a bearer token, and returns the reply.
    QCoro::Task<HttpReply> postEmailStep(QString path, QJsonObject body, CancellationToken token);
    QCoro::Task<AuthSession> performRefresh(QString refreshToken, QUuid storeGeneration);
    // performRefresh(), and savedSessionRefused() when the saved session's token was refused.
    QCoro::Task<AuthSession> refreshAndAnnounceRefusal(QString refreshToken, QUuid storeGeneration);
    QCoro::Task<void> saveSession(AuthSession session);
    QCoro::Task<AuthSession> openSession(QUrl url, QByteArray body, CancellationToken token);
    QCoro::Task<AuthSession> openSessionFromReply(HttpReply reply, CancellationToken token);

    AppConfigurationStore m_configuration;
    SecretStore *m_secretStore = nullptr;
    std::unique_ptr<AuthRequestTransport> m_transport;
    Clock m_clock;

    // The running refresh and the refresh token it uses.
    TaskHandle<AuthSession> m_refreshTask;
    QString m_refreshTaskToken;
    // Renewed by every sign-in, logout and deletion of the saved session, so a refresh that
    // was overtaken by one of them does not overwrite the newer state.
    GenerationId m_storeGeneration;
    // Counts every write of the saved session as it is issued, so a read-merge-write can tell
    // that another write came in between.
    quint64 m_saveSerial = 0;

    QPointer<LoopbackOAuthRedirectServer> m_activeRedirectServer;
    QPointer<DesktopOAuthCallbackWaiter> m_activeDesktopCallbackWaiter;
    QPointer<AppleAuthorizationSession> m_activeAppleAuthorizationSession;
};
