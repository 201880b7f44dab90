#include "accounts/AuthService.h"

#include "accounts/AppleAuthorizationSession.h"
#include "accounts/AuthRequestTransport.h"
#include "accounts/AuthMessages.h"
#include "accounts/DesktopOAuthCallbackWaiter.h"
#include "accounts/LoopbackOAuthRedirectServer.h"
#include "base/Dates.h"
#include "base/Json.h"
#include "base/KavrelDiagnostics.h"
#include "base/TaskOutcome.h"
#include "base/Text.h"
#include "platform/ApplicationInfo.h"
#include "platform/NetworkError.h"
#include "platform/SecretStore.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>

namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString sessionAccountName()
{
    return QString::fromLatin1(AuthService::sessionAccount);
}

// Decodes a challenge-type reply; any fault of the body is an invalid response.
template<typename T>
T decodeReply(const QByteArray &body)
{
    if (body.isEmpty())
        throw AuthServiceError::invalidResponse();
    try {
        return T::fromJson(JsonReader::parse(body).object());
    } catch (const KavrelError &) {
        throw AuthServiceError::invalidResponse();
    }
}

// The login reply that asks for a second factor; nothing when the body is not one.
std::optional<MfaChallenge> mfaChallengeFromLoginReply(const QByteArray &body)
{
    try {
        const JsonReader reader = JsonReader::parse(body);
        const QString code = reader.string(QStringLiteral("code"));
        MfaChallenge challenge = MfaChallenge::fromJson(reader.object());
        if (code != QLatin1String("MFA_REQUIRED"))
            return std::nullopt;
        return challenge;
    } catch (const KavrelError &) {
        return std::nullopt;
    }
}

} // namespace

AuthService::AuthService(AppConfigurationStore configuration, SecretStore *secretStore, QObject *parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
    , m_secretStore(secretStore)
    , m_transport(std::make_unique<AuthRequestTransport>(this))
{
    if (m_secretStore)
        m_secretStore->setParent(this);
}

AuthService::~AuthService() = default;

QString AuthService::secretStoreService()
{
    return ApplicationInfo::bundleIdentifier() + QStringLiteral(".auth");
}

QNetworkAccessManager *AuthService::networkAccessManager() const
{
    return m_transport->manager();
}

QNetworkCookieJar *AuthService::cookieJar() const
{
    return m_transport->cookieJar();
}

QDateTime AuthService::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
}

void AuthService::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void AuthService::setRequestTimeout(std::chrono::milliseconds timeout)
{
    m_transport->setTimeout(timeout);
}

QString AuthService::signInRequiredText()
{
    return QStringLiteral("Sign in to sync meeting history.");
}

QString AuthService::readFailedText()
{
    return QStringLiteral("КАВРЕЛ could not read the auth session from the Keychain.");
}

bool AuthService::isTransientFailure(const std::exception_ptr &error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const NetworkError &) {
        return true;
    } catch (const SecretStoreError &) {
        return true;
    } catch (const AuthServiceError &authError) {
        if (authError.errorCase() == AuthServiceError::Case::invalidBackendBaseURL)
            return true;
        const int status = authError.httpStatus();
        return status >= 500 || status == 408 || status == 429;
    } catch (...) {
        return false;
    }
}

AuthService::Configuration AuthService::makeConfiguration() const
{
    const QString resolved = m_configuration.resolvedValue(AppConfigurationKind::authBackendBaseURL);
    const QUrl url(resolved, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        throw AuthServiceError::invalidBackendBaseURL(resolved);
    return Configuration{url};
}

QUrl AuthService::endpointURL(const Configuration &configuration, const QString &path) const
{
    QUrl url = configuration.baseURL;
    QString basePath = url.path();
    if (!basePath.endsWith(QLatin1Char('/')))
        basePath += QLatin1Char('/');
    url.setPath(basePath + path);
    return url;
}

// ---- Saved session ----

QCoro::Task<std::optional<AuthSession>> AuthService::loadSavedSession()
{
    if (!m_secretStore)
        co_return std::nullopt;
    std::optional<QByteArray> data;
    bool readFailed = false;
    try {
        data = co_await m_secretStore->load(sessionAccountName());
    } catch (const SecretStoreError &error) {
        qCWarning(KavrelDiagnostics::app()).noquote() << "Reading the auth session failed:" << error.message();
        readFailed = true;
    }
    if (readFailed)
        throw SecretStoreError(readFailedText());
    if (!data)
        co_return std::nullopt;
    try {
        co_return AuthSession::fromJsonBytes(*data);
    } catch (const KavrelError &) {
        // An unreadable item is left where it is; the next sign-in replaces it.
        co_return std::nullopt;
    }
}

QCoro::Task<void> AuthService::deleteSavedSession()
{
    const QUuid generation = m_storeGeneration.renew();
    QPointer<AuthService> self(this);
    if (m_secretStore)
        co_await m_secretStore->remove(sessionAccountName());
    if (self && m_storeGeneration.isCurrent(generation))
        Q_EMIT savedSessionDeleted();
}

QCoro::Task<void> AuthService::saveSession(AuthSession session)
{
    // Issued before the first suspension: callers rely on the write being queued at once.
    ++m_saveSerial;
    const QUuid generation = m_storeGeneration.current();
    QPointer<AuthService> self(this);
    const QByteArray data = session.toJsonBytes();
    bool failed = false;
    try {
        if (!m_secretStore)
            throw SecretStoreError(QStringLiteral("no secret store"));
        co_await m_secretStore->save(data, sessionAccountName());
    } catch (const SecretStoreError &error) {
        qCWarning(KavrelDiagnostics::app()).noquote() << "Saving the auth session failed:" << error.message();
        failed = true;
    }
    if (failed)
        throw AuthServiceError::requestFailed(QStringLiteral("КАВРЕЛ could not save the auth session in the Keychain."));
    // A sign-out or sign-in issued meanwhile has the last word, and announces itself.
    if (self && m_storeGeneration.isCurrent(generation))
        Q_EMIT sessionSaved(session);
}

// ---- Token provider and refresh ----

QCoro::Task<AuthSession> AuthService::activeSession()
{
    // A refresh overtaken by a sign-in or sign-out ends in a CancellationError; the saved
    // session is then read again, once.
    QPointer<AuthService> self(this);
    for (int attempt = 0;; ++attempt) {
        const std::optional<AuthSession> saved = co_await loadSavedSession();
        if (!self)
            throw CancellationError();
        if (!saved)
            throw AuthServiceError::requestFailed(signInRequiredText());
        if (now().msecsTo(saved->expiresAt) > refreshThresholdSeconds * 1000)
            co_return *saved;
        const QUuid generation = m_storeGeneration.current();
        const TaskOutcome<AuthSession> refreshed = co_await outcomeOf(refreshSession(saved->refreshToken));
        if (refreshed.succeeded())
            co_return *refreshed.value;
        // The service may have gone while the refresh ran.
        if (!self)
            std::rethrow_exception(refreshed.error);
        if (attempt == 0 && refreshed.isCancellation() && !m_storeGeneration.isCurrent(generation))
            continue;
        std::rethrow_exception(refreshed.error);
    }
}

QCoro::Task<AuthSession> AuthService::refreshSession(QString refreshToken)
{
    if (!m_refreshTask.isValid() || m_refreshTask.isFinished() || m_refreshTaskToken != refreshToken) {
        const QUuid generation = m_storeGeneration.current();
        QPointer<AuthService> self(this);
        m_refreshTaskToken = refreshToken;
        m_refreshTask = spawnTask([self, refreshToken, generation](CancellationToken) -> QCoro::Task<AuthSession> {
            if (!self)
                throw CancellationError();
            return self->refreshAndAnnounceRefusal(refreshToken, generation);
        });
    }
    TaskHandle<AuthSession> task = m_refreshTask;
    AuthSession session = co_await task.result();
    co_return session;
}

QCoro::Task<AuthSession> AuthService::refreshAndAnnounceRefusal(QString refreshToken, QUuid storeGeneration)
{
    QPointer<AuthService> self(this);
    TaskOutcome<AuthSession> refreshed = co_await outcomeOf(performRefresh(refreshToken, storeGeneration));
    if (refreshed.succeeded())
        co_return *refreshed.value;
    if (!self || refreshed.isCancellation() || isTransientFailure(refreshed.error)
        || !m_storeGeneration.isCurrent(storeGeneration))
        std::rethrow_exception(refreshed.error);
    // Only the saved session's own token speaks for the session: a stale token's refusal says
    // nothing of the session saved now.
    const TaskOutcome<std::optional<AuthSession>> saved = co_await outcomeOf(loadSavedSession());
    if (self && m_storeGeneration.isCurrent(storeGeneration) && saved.succeeded() && *saved.value
        && (*saved.value)->refreshToken == refreshToken)
        Q_EMIT savedSessionRefused();
    std::rethrow_exception(refreshed.error);
}

QCoro::Task<AuthSession> AuthService::performRefresh(QString refreshToken, QUuid storeGeneration)
{
    const Configuration configuration = makeConfiguration();
    QJsonObject body;
    body.insert(QStringLiteral("refresh_token"), refreshToken);
    const QByteArray bodyData = compact(body);
    const QUrl url = endpointURL(configuration, QStringLiteral("v1/auth/session/refresh"));

    const HttpReply reply = co_await m_transport->performRawJSONRequest(url, "POST", bodyData, std::nullopt);
    if (reply.body.isEmpty())
        throw AuthServiceError::invalidResponse();
    const SessionResponse response = AuthRequestTransport::decodeSessionResponse(reply.body, now());
    // A refresh reply must carry the rotated token in its body; the old one is spent.
    const std::optional<QString> newRefreshToken = Text::nilIfEmpty(response.refreshToken);
    if (!newRefreshToken)
        throw AuthServiceError::invalidResponse();

    AuthSession session;
    session.accessToken = response.accessToken;
    session.refreshToken = *newRefreshToken;
    session.tokenType = response.tokenType;
    session.expiresAt = response.expiresAt;
    session.user = response.user;

    // A sign-out or a new sign-in while the request ran has the last word.
    if (!m_storeGeneration.isCurrent(storeGeneration))
        throw CancellationError();
    co_await saveSession(session);
    co_return session;
}

QCoro::Task<void> AuthService::logout(std::optional<QString> accessToken, std::optional<QString> refreshToken)
{
    QPointer<AuthService> self(this);
    if (refreshToken && m_refreshTask.isValid() && !m_refreshTask.isFinished() && m_refreshTaskToken == *refreshToken) {
        // The given token is being spent right now: revoke the one that replaces it.
        TaskHandle<AuthSession> running = m_refreshTask;
        try {
            const AuthSession rotated = co_await running.result();
            accessToken = rotated.accessToken;
            refreshToken = rotated.refreshToken;
        } catch (...) {
            // The refresh failed; the given tokens are all there is.
        }
        if (!self)
            co_return;
    }
    try {
        const Configuration configuration = makeConfiguration();
        QJsonObject body;
        Json::putOptional(body, QStringLiteral("refresh_token"), refreshToken);
        const QByteArray bodyData = compact(body);
        const QUrl url = endpointURL(configuration, QStringLiteral("v1/auth/logout"));
        co_await m_transport->performRawJSONRequest(url, "POST", bodyData, accessToken);
    } catch (...) {
        // The server side of a logout is a courtesy; the local session goes regardless.
    }
    co_await deleteSavedSession();
}

QCoro::Task<AuthSession> AuthService::refreshCurrentUserProfile(AuthSession session)
{
    QPointer<AuthService> self(this);
    const QUuid generation = m_storeGeneration.current();
    const Configuration configuration = makeConfiguration();
    const QUrl url = endpointURL(configuration, QStringLiteral("v1/auth/me"));
    const HttpReply reply = co_await m_transport->performRawJSONRequest(url, "GET", std::nullopt, session.accessToken);
    const CurrentUserProfileResponse profile = decodeReply<CurrentUserProfileResponse>(reply.body);

    // The tokens may have been refreshed while the profile was on its way (by this session
    // or any other client): the profile goes into the session saved now, never the older
    // tokens over the rotated ones. A write that lands between the read and the write below
    // sends the read round again.
    std::optional<AuthSession> current;
    for (;;) {
        if (!self || !m_storeGeneration.isCurrent(generation))
            throw CancellationError();
        const quint64 saves = m_saveSerial;
        current = co_await loadSavedSession();
        if (!self || !m_storeGeneration.isCurrent(generation))
            throw CancellationError();
        if (saves == m_saveSerial)
            break;
    }
    AuthSession updated = current ? *current : session;
    updated.user = updated.user.updating(profile);
    co_await saveSession(updated);
    co_return updated;
}

// ---- E-mail sign-in ----

QCoro::Task<AuthSession> AuthService::openSessionFromReply(HttpReply reply, CancellationToken token)
{
    const SessionResponse response = AuthRequestTransport::decodeSessionResponse(reply.body, now());
    std::optional<QString> refreshToken = Text::nilIfEmpty(response.refreshToken);
    if (!refreshToken)
        refreshToken = Text::nilIfEmpty(m_transport->refreshToken(reply));
    if (!refreshToken)
        throw AuthServiceError::invalidResponse();

    AuthSession session;
    session.accessToken = response.accessToken;
    session.refreshToken = *refreshToken;
    session.tokenType = response.tokenType;
    session.expiresAt = response.expiresAt;
    session.user = response.user;

    token.throwIfCancelled();
    m_storeGeneration.renew();
    co_await saveSession(session);
    if (token.isCancelled()) {
        // Cancelled while saving: a cancelled sign-in must not leave the user signed in.
        co_await deleteSavedSession();
        throw CancellationError();
    }
    co_return session;
}

QCoro::Task<EmailChallenge> AuthService::startEmailRegistration(QString email, std::optional<QString> name,
                                                                CancellationToken token)
{
    QJsonObject body;
    body.insert(QStringLiteral("email"), email);
    Json::putOptional(body, QStringLiteral("name"), Text::nilIfEmpty(name));
    const HttpReply reply = co_await postEmailStep(QStringLiteral("api/auth/email/register"), body, token);
    co_return decodeReply<EmailChallenge>(reply.body);
}

QCoro::Task<EmailVerification> AuthService::verifyEmailCode(QString challengeId, QString email, QString code,
                                                            CancellationToken token)
{
    QJsonObject body;
    body.insert(QStringLiteral("challengeId"), challengeId);
    body.insert(QStringLiteral("email"), email);
    body.insert(QStringLiteral("code"), code);
    const HttpReply reply = co_await postEmailStep(QStringLiteral("api/auth/email/verify"), body, token);
    co_return decodeReply<EmailVerification>(reply.body);
}

QCoro::Task<TotpSetup> AuthService::setupRegistrationTotp(QString challengeId, QString email, QString verificationToken,
                                                          CancellationToken token)
{
    QJsonObject body;
    body.insert(QStringLiteral("challengeId"), challengeId);
    body.insert(QStringLiteral("email"), email);
    body.insert(QStringLiteral("verificationToken"), verificationToken);
    const HttpReply reply = co_await postEmailStep(QStringLiteral("api/auth/email/totp/setup"), body, token);
    co_return decodeReply<TotpSetup>(reply.body);
}

QCoro::Task<AuthSession> AuthService::completeEmailRegistration(CompleteEmailRegistrationInput input, CancellationToken token)
{
    HttpReply reply = co_await postEmailStep(QStringLiteral("api/auth/email/complete-registration"), input.toJson(), token);
    AuthSession session = co_await openSessionFromReply(std::move(reply), token);
    co_return session;
}

QCoro::Task<EmailLoginResult> AuthService::loginWithEmail(QString email, QString password, CancellationToken token)
{
    QJsonObject body;
    body.insert(QStringLiteral("email"), email);
    body.insert(QStringLiteral("password"), password);
    HttpReply reply = co_await postEmailStep(QStringLiteral("api/auth/email/login"), body, token);
    if (std::optional<MfaChallenge> challenge = mfaChallengeFromLoginReply(reply.body))
        co_return EmailLoginResult::mfaRequired(*challenge);
    AuthSession session = co_await openSessionFromReply(std::move(reply), token);
    co_return EmailLoginResult::authenticated(session);
}

QCoro::Task<AuthSession> AuthService::verifyEmailMfa(QString challengeId, QString email, QString code, CancellationToken token)
{
    QJsonObject body;
    body.insert(QStringLiteral("challengeId"), challengeId);
    body.insert(QStringLiteral("email"), email);
    body.insert(QStringLiteral("type"), QStringLiteral("totp"));
    body.insert(QStringLiteral("code"), code);
    HttpReply reply;
    try {
        reply = co_await postEmailStep(QStringLiteral("api/auth/email/mfa/verify"), body, token);
    } catch (const AuthServiceError &error) {
        // The server's words for a request it no longer has would leave the user pressing the
        // same button again; the caller needs to know that only a new sign-in helps.
        const int status = error.httpStatus();
        if (error.errorCase() == AuthServiceError::Case::requestFailed && (status == 404 || status == 410))
            throw AuthServiceError::signInRequestGone(status);
        throw;
    }
    AuthSession session = co_await openSessionFromReply(std::move(reply), token);
    co_return session;
}

QCoro::Task<EmailChallenge> AuthService::resendEmailCode(QString challengeId, QString email, CancellationToken token)
{
    QJsonObject body;
    body.insert(QStringLiteral("challengeId"), challengeId);
    body.insert(QStringLiteral("email"), email);
    const HttpReply reply = co_await postEmailStep(QStringLiteral("api/auth/email/resend-code"), body, token);
    co_return decodeReply<EmailChallenge>(reply.body);
}

QCoro::Task<HttpReply> AuthService::postEmailStep(QString path, QJsonObject body, CancellationToken token)
{
    const Configuration configuration = makeConfiguration();
    const QByteArray bodyData = compact(body);
    const QUrl url = endpointURL(configuration, path);
    HttpReply reply = co_await m_transport->performRawJSONRequest(url, "POST", bodyData, std::nullopt, token);
    co_return reply;
}

// ---- Provider sign-in completion ----

DesktopOAuthCallbackWaiter *AuthService::activeDesktopCallbackWaiter() const
{
    return m_activeDesktopCallbackWaiter.data();
}

LoopbackOAuthRedirectServer *AuthService::activeRedirectServer() const
{
    return m_activeRedirectServer.data();
}

AppleAuthorizationSession *AuthService::activeAppleAuthorizationSession() const
{
    return m_activeAppleAuthorizationSession.data();
}

void AuthService::setActiveDesktopCallbackWaiter(DesktopOAuthCallbackWaiter *waiter)
{
    if (waiter)
        waiter->setParent(this);
    m_activeDesktopCallbackWaiter = waiter;
}

void AuthService::setActiveRedirectServer(LoopbackOAuthRedirectServer *server)
{
    if (server)
        server->setParent(this);
    m_activeRedirectServer = server;
}

void AuthService::setActiveAppleAuthorizationSession(AppleAuthorizationSession *session)
{
    if (session)
        session->setParent(this);
    m_activeAppleAuthorizationSession = session;
}

void AuthService::cancelActiveAuthentication()
{
    // Ending a wait resumes its caller right here, and that caller may delete the receiver
    // (or this service) before control comes back: everything is re-checked after each.
    QPointer<AuthService> self(this);
    if (QPointer<LoopbackOAuthRedirectServer> server = m_activeRedirectServer.data()) {
        m_activeRedirectServer = nullptr;
        server->cancelListener();
        server->finishCallback(std::make_exception_ptr(CancellationError()));
        if (server)
            server->deleteLater();
    }
    if (!self)
        return;
    if (DesktopOAuthCallbackWaiter *waiter = m_activeDesktopCallbackWaiter.data()) {
        m_activeDesktopCallbackWaiter = nullptr;
        // The cancel is applied on the waiter's next turn; deletion is queued behind it.
        waiter->cancel();
        waiter->deleteLater();
    }
    if (QPointer<AppleAuthorizationSession> session = m_activeAppleAuthorizationSession.data()) {
        m_activeAppleAuthorizationSession = nullptr;
        session->cancel();
        if (session)
            session->deleteLater();
    }
}

bool AuthService::handleCallbackURLs(const QList<QUrl> &urls)
{
    for (const QUrl &url : urls) {
        if (url.scheme().isEmpty() || url.host().isEmpty())
            continue;
        if (url.scheme().toLower() != QLatin1String("kavrel") || url.host().toLower() != QLatin1String("auth"))
            continue;
        const QString path = url.path(QUrl::FullyDecoded);
        if (path == QLatin1String("/callback")) {
            if (DesktopOAuthCallbackWaiter *waiter = m_activeDesktopCallbackWaiter.data())
                waiter->receive(url);
            return true;
        }
        if (path == QLatin1String("/microsoft/complete"))
            return true;
    }
    return false;
}
