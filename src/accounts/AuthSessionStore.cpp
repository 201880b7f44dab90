#include "accounts/AuthSessionStore.h"

#include "accounts/AuthService.h"
#include "accounts/AuthServiceError.h"
#include "localization/KavrelLocalizationStore.h"
#include "base/KavrelDiagnostics.h"
#include "base/TaskOutcome.h"

AuthSessionStore::AuthSessionStore(AuthService *authService, QObject *parent)
    : QObject(parent)
    , m_authService(authService)
{
    // One current session: whatever the service saves or removes, for whichever client, is
    // what the windows show, and what profile refreshes and sign-out start from.
    if (authService) {
        connect(authService, &AuthService::sessionSaved, this, [this](const AuthSession &session) {
            m_followedChanges.renew();
            setSession(session);
        });
        connect(authService, &AuthService::savedSessionDeleted, this, [this] {
            m_followedChanges.renew();
            setSession(std::nullopt);
        });
        // A refusal met by any client (a history save, a usage report) ends the session now,
        // the way the screens' own check does, rather than at the next start. The start-up
        // restore tells of its own refusal in its own words.
        connect(authService, &AuthService::savedSessionRefused, this, [this] {
            if (m_isRestoringSession)
                return;
            QPointer<AuthSessionStore> self(this);
            spawnTask([self](CancellationToken) -> QCoro::Task<void> {
                if (!self)
                    throw CancellationError();
                return self->endExpiredSession();
            });
        });
    }
    QPointer<AuthSessionStore> self(this);
    m_restoreTask = spawnTask([self](CancellationToken) -> QCoro::Task<void> {
        if (!self)
            throw CancellationError();
        return self->restoreSession();
    });
}

AuthSessionStore::~AuthSessionStore() = default;

AuthService *AuthSessionStore::authService() const
{
    return m_authService.data();
}

void AuthSessionStore::setLocalizer(Localizer localizer)
{
    m_localizer = std::move(localizer);
}

QString AuthSessionStore::previousLoginExpiredText()
{
    return QStringLiteral("Your previous login expired. Sign in again to continue.");
}

QString AuthSessionStore::loginExpiredKey()
{
    return QStringLiteral("Your login expired. Sign in again to continue.");
}

// ---- Published state ----

void AuthSessionStore::setSession(std::optional<AuthSession> session)
{
    if (m_session == session)
        return;
    m_session = std::move(session);
    if (m_session)
        setSignOutNotice(std::nullopt);
    Q_EMIT sessionChanged();
}

void AuthSessionStore::setSignOutNotice(std::optional<QString> notice)
{
    if (m_signOutNotice == notice)
        return;
    m_signOutNotice = std::move(notice);
    Q_EMIT signOutNoticeChanged();
}

void AuthSessionStore::setIsRestoringSession(bool value)
{
    if (m_isRestoringSession == value)
        return;
    m_isRestoringSession = value;
    Q_EMIT isRestoringSessionChanged();
}

void AuthSessionStore::setIsAuthenticating(bool value)
{
    if (m_isAuthenticating == value)
        return;
    m_isAuthenticating = value;
    Q_EMIT isAuthenticatingChanged();
}

void AuthSessionStore::setIsSigningOut(bool value)
{
    if (m_isSigningOut == value)
        return;
    m_isSigningOut = value;
    Q_EMIT isSigningOutChanged();
}

void AuthSessionStore::setActiveAuthenticationProvider(std::optional<AuthenticationProvider> provider)
{
    if (m_activeAuthenticationProvider == provider)
        return;
    m_activeAuthenticationProvider = provider;
    Q_EMIT activeAuthenticationProviderChanged();
}

void AuthSessionStore::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

std::optional<AuthenticatedUser> AuthSessionStore::currentUser() const
{
    if (!m_session)
        return std::nullopt;
    return m_session->user;
}

bool AuthSessionStore::expiresWithinThreshold(const AuthSession &session) const
{
    const QDateTime now = m_authService ? m_authService->now() : QDateTime::currentDateTimeUtc();
    return now.msecsTo(session.expiresAt) <= AuthService::refreshThresholdSeconds * 1000;
}

// ---- Restore ----

QCoro::Task<void> AuthSessionStore::restored()
{
    TaskHandle<void> task = m_restoreTask;
    co_await task.result();
}

QCoro::Task<void> AuthSessionStore::restoreSession()
{
    QPointer<AuthSessionStore> self(this);
    // Start on the next turn, so whoever created the store sees it restoring first.
    co_await yieldOnce();
    if (!self)
        co_return;
    QPointer<AuthService> service = m_authService;
    if (!service) {
        setIsRestoringSession(false);
        co_return;
    }
    // A save or removal followed while the restore waited is newer than what it read.
    const QUuid changes = m_followedChanges.current();
    const TaskOutcome<std::optional<AuthSession>> savedOutcome = co_await outcomeOf(service->loadSavedSession());
    const std::optional<AuthSession> saved = savedOutcome.value.value_or(std::nullopt);
    std::exception_ptr readError = savedOutcome.error;
    if (!self)
        co_return;
    if (!m_followedChanges.isCurrent(changes)) {
        setIsRestoringSession(false);
        co_return;
    }
    if (readError) {
        // The keyring did not answer or stayed locked: the session may be there, so it is
        // kept and the failure shown rather than looking signed out without a word.
        setErrorMessage(::errorMessage(readError));
        setIsRestoringSession(false);
        co_return;
    }
    if (!saved) {
        setIsRestoringSession(false);
        co_return;
    }
    if (!expiresWithinThreshold(*saved)) {
        setSession(*saved);
        setIsRestoringSession(false);
        co_return;
    }

    TaskOutcome<AuthSession> refreshedOutcome = co_await outcomeOf(service->refreshSession(saved->refreshToken));
    std::optional<AuthSession> refreshed = std::move(refreshedOutcome.value);
    std::exception_ptr error = refreshedOutcome.error;
    if (!self || !service)
        co_return;
    if (refreshed) {
        // Published when the service saved it.
    } else if (!m_followedChanges.isCurrent(changes)) {
        // Another client signed in, refreshed or out meanwhile; that state stands.
    } else if (isCancellation(error)) {
        // A sign-in or sign-out overtook the refresh; it has set the state.
    } else if (AuthService::isTransientFailure(error)) {
        // Offline at start-up (or the backend is failing): the login is still good, so keep
        // it; the next backend action refreshes it.
        qCWarning(KavrelDiagnostics::app()).noquote()
            << "Refreshing the saved session failed; keeping it:" << ::errorMessage(error);
        setSession(*saved);
    } else {
        co_await service->deleteSavedSession();
        if (!self)
            co_return;
        setErrorMessage(previousLoginExpiredText());
        setSession(std::nullopt);
    }
    setIsRestoringSession(false);
}

// ---- Before a backend action ----

QCoro::Task<AuthSession> AuthSessionStore::ensureActiveSession()
{
    QPointer<AuthSessionStore> self(this);
    QPointer<AuthService> service = m_authService;
    if (!service)
        throw AuthServiceError::requestFailed(AuthService::signInRequiredText());

    const QUuid changes = m_followedChanges.current();
    TaskOutcome<AuthSession> sessionOutcome = co_await outcomeOf(service->activeSession());
    std::optional<AuthSession> session = std::move(sessionOutcome.value);
    std::exception_ptr error = sessionOutcome.error;
    if (!self)
        throw CancellationError();
    if (session) {
        // A session read before a save that was followed meanwhile is older than the one shown.
        if (m_followedChanges.isCurrent(changes))
            setSession(*session);
        setErrorMessage(std::nullopt);
        co_return *session;
    }
    if (isCancellation(error))
        std::rethrow_exception(error);

    const bool publishedStillValid = m_session && !expiresWithinThreshold(*m_session);
    if (publishedStillValid || AuthService::isTransientFailure(error))
        setErrorMessage(::errorMessage(error));
    else
        co_await endExpiredSession();
    std::rethrow_exception(error);
}

QCoro::Task<void> AuthSessionStore::endExpiredSession()
{
    QPointer<AuthSessionStore> self(this);
    QPointer<AuthService> service = m_authService;
    if (service)
        co_await service->deleteSavedSession();
    if (!self)
        co_return;
    setSession(std::nullopt);
    const QString key = loginExpiredKey();
    setErrorMessage(m_localizer ? m_localizer(key) : KavrelLocalizationStore::shared().localized(key));
}

// ---- Profile ----

QCoro::Task<void> AuthSessionStore::refreshCurrentUserProfile()
{
    QPointer<AuthSessionStore> self(this);
    QPointer<AuthService> service = m_authService;
    if (!service)
        throw AuthServiceError::requestFailed(AuthService::signInRequiredText());

    AuthSession session;
    if (m_session) {
        session = *m_session;
        if (expiresWithinThreshold(session)) {
            const QString refreshToken = session.refreshToken;
            session = co_await service->refreshSession(refreshToken);
        }
    } else {
        session = co_await service->activeSession();
    }
    if (!service)
        throw CancellationError();
    // The merged session is saved, and so published, by the service.
    co_await service->refreshCurrentUserProfile(session);
    if (!self)
        co_return;
    setErrorMessage(std::nullopt);
}

// ---- Cancel and sign-out ----

void AuthSessionStore::cancelAuthentication()
{
    if (!m_isAuthenticating)
        return;
    if (m_authService)
        m_authService->cancelActiveAuthentication();
    m_authenticationTask.cancel();
    // The running e-mail step is aborted too, so its request cannot sign the user in after
    // the user gave up on it.
    m_emailOperationToken.cancel();
    m_emailOperationGeneration.renew();
    setIsAuthenticating(false);
    setActiveAuthenticationProvider(std::nullopt);
    setErrorMessage(AuthServiceError::userCancelled().message());
}

void AuthSessionStore::signOut()
{
    if (m_isSigningOut)
        return;
    const std::optional<AuthSession> session = m_session;
    setIsSigningOut(true);
    setErrorMessage(std::nullopt);

    QPointer<AuthSessionStore> self(this);
    QPointer<AuthService> service = m_authService;
    std::optional<QString> accessToken;
    std::optional<QString> refreshToken;
    if (session) {
        accessToken = session->accessToken;
        refreshToken = session->refreshToken;
    }
    spawnTask([self, service, accessToken, refreshToken](CancellationToken) -> QCoro::Task<void> {
        return signOutWork(self, service, accessToken, refreshToken);
    });
}

QCoro::Task<void> AuthSessionStore::signOutWork(QPointer<AuthSessionStore> self, QPointer<AuthService> service,
                                                std::optional<QString> accessToken, std::optional<QString> refreshToken)
{
    if (service)
        co_await service->logout(accessToken, refreshToken);
    if (!self)
        co_return;
    self->setSession(std::nullopt);
    self->setIsSigningOut(false);
}

// ---- E-mail steps ----

template<typename T>
QCoro::Task<std::optional<T>> AuthSessionStore::runEmailAuthenticationOperation(
    std::function<QCoro::Task<T>(AuthService *, CancellationToken)> operation, std::function<void(const T &)> onSuccess)
{
    if (m_isAuthenticating)
        co_return std::nullopt;
    QPointer<AuthSessionStore> self(this);
    QPointer<AuthService> service = m_authService;
    setErrorMessage(std::nullopt);
    setIsAuthenticating(true);
    setActiveAuthenticationProvider(AuthenticationProvider::email);

    CancellationToken token;
    m_emailOperationToken = token;
    const QUuid generation = m_emailOperationGeneration.renew();

    TaskOutcome<T> outcome;
    if (service)
        outcome = co_await outcomeOf(operation(service.data(), token));
    else
        outcome.error = std::make_exception_ptr(AuthServiceError::requestFailed(AuthService::signInRequiredText()));
    // A cancelled step has already been wound up by cancelAuthentication().
    if (!self || token.isCancelled() || !m_emailOperationGeneration.isCurrent(generation))
        co_return std::nullopt;
    if (outcome.succeeded()) {
        if (onSuccess)
            onSuccess(*outcome.value);
        setIsAuthenticating(false);
        setActiveAuthenticationProvider(std::nullopt);
        co_return outcome.value;
    }
    setErrorMessage(outcome.errorText());
    setIsAuthenticating(false);
    setActiveAuthenticationProvider(std::nullopt);
    co_return std::nullopt;
}

QCoro::Task<std::optional<EmailLoginResult>> AuthSessionStore::loginWithEmail(QString email, QString password)
{
    std::function<QCoro::Task<EmailLoginResult>(AuthService *, CancellationToken)> operation =
        [email, password](AuthService *service, CancellationToken token) {
            return service->loginWithEmail(email, password, token);
        };
    std::function<void(const EmailLoginResult &)> onSuccess = [this](const EmailLoginResult &result) {
        if (result.kind == EmailLoginResult::Kind::authenticated && result.session)
            setSession(*result.session);
    };
    std::optional<EmailLoginResult> result = co_await runEmailAuthenticationOperation<EmailLoginResult>(operation, onSuccess);
    co_return result;
}

QCoro::Task<std::optional<EmailChallenge>> AuthSessionStore::startEmailRegistration(QString email, std::optional<QString> name)
{
    std::function<QCoro::Task<EmailChallenge>(AuthService *, CancellationToken)> operation =
        [email, name](AuthService *service, CancellationToken token) {
            return service->startEmailRegistration(email, name, token);
        };
    std::optional<EmailChallenge> result = co_await runEmailAuthenticationOperation<EmailChallenge>(operation, nullptr);
    co_return result;
}

QCoro::Task<std::optional<EmailChallenge>> AuthSessionStore::resendEmailCode(QString challengeId, QString email)
{
    std::function<QCoro::Task<EmailChallenge>(AuthService *, CancellationToken)> operation =
        [challengeId, email](AuthService *service, CancellationToken token) {
            return service->resendEmailCode(challengeId, email, token);
        };
    std::optional<EmailChallenge> result = co_await runEmailAuthenticationOperation<EmailChallenge>(operation, nullptr);
    co_return result;
}

QCoro::Task<std::optional<AuthSession>> AuthSessionStore::completeEmailRegistration(CompleteEmailRegistrationInput input)
{
    std::function<QCoro::Task<AuthSession>(AuthService *, CancellationToken)> operation =
        [input](AuthService *service, CancellationToken token) {
            return service->completeEmailRegistration(input, token);
        };
    std::function<void(const AuthSession &)> onSuccess = [this](const AuthSession &session) { setSession(session); };
    std::optional<AuthSession> result = co_await runEmailAuthenticationOperation<AuthSession>(operation, onSuccess);
    co_return result;
}
