#pragma once

#include "accounts/AuthSession.h"
#include "accounts/AuthenticationProvider.h"
#include "accounts/AuthMessages.h"
#ifndef Q_MOC_RUN // moc cannot parse <coroutine>, which this pulls in
#include "base/Async.h"
#endif

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

class AuthService;

// The observable sign-in state of the application: whether a user is signed in, whether
// the saved session is still being restored, whether a sign-in or sign-out runs, and the
// error text to show. One instance over the application's AuthService; it starts restoring
// the saved session as soon as it is created. Main thread only.
class AuthSessionStore final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAuthenticated READ isAuthenticated NOTIFY sessionChanged)
    Q_PROPERTY(bool isRestoringSession READ isRestoringSession NOTIFY isRestoringSessionChanged)
    Q_PROPERTY(bool isAuthenticating READ isAuthenticating WRITE setIsAuthenticating NOTIFY isAuthenticatingChanged)
    Q_PROPERTY(bool isSigningOut READ isSigningOut NOTIFY isSigningOutChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)
    Q_PROPERTY(QString signOutNotice READ signOutNoticeText NOTIFY signOutNoticeChanged)

public:
    // Localizes the key of the "login expired" text; without one the application's
    // localization store does.
    using Localizer = std::function<QString(const QString &key)>;

    explicit AuthSessionStore(AuthService *authService, QObject *parent = nullptr);
    ~AuthSessionStore() override;

    AuthService *authService() const;
    void setLocalizer(Localizer localizer);

    // Published state. The sign-in screens also write the four sign-in members directly
    // (second-factor and authenticator steps run outside the store).
    const std::optional<AuthSession> &session() const { return m_session; }
    void setSession(std::optional<AuthSession> session);
    bool isRestoringSession() const { return m_isRestoringSession; }
    bool isAuthenticating() const { return m_isAuthenticating; }
    void setIsAuthenticating(bool value);
    bool isSigningOut() const { return m_isSigningOut; }
    std::optional<AuthenticationProvider> activeAuthenticationProvider() const { return m_activeAuthenticationProvider; }
    void setActiveAuthenticationProvider(std::optional<AuthenticationProvider> provider);
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    QString errorMessageText() const { return m_errorMessage.value_or(QString()); }
    void setErrorMessage(std::optional<QString> message);
    // What the sign-in screen tells besides the error: what the end of the last session did to
    // the work that ran in it (an interface key). A published session takes it back.
    const std::optional<QString> &signOutNotice() const { return m_signOutNotice; }
    QString signOutNoticeText() const { return m_signOutNotice.value_or(QString()); }
    void setSignOutNotice(std::optional<QString> notice);

    bool isAuthenticated() const { return m_session.has_value(); }
    std::optional<AuthenticatedUser> currentUser() const;

    // The active session (refreshed when it expires within 60 s), published. On failure it
    // keeps a published session that still has more than 60 s, or one that failed only for
    // a transient reason, and shows the error; otherwise it signs out with "Your login
    // expired. Sign in again to continue.". The error is thrown on in every case.
    QCoro::Task<AuthSession> ensureActiveSession();
    // Fetches the profile and publishes the merged session. Errors are thrown unchanged.
    // (The published session follows every save of the service, so its tokens are the
    // current ones.)
    QCoro::Task<void> refreshCurrentUserProfile();
    // Ends the running sign-in: a waiting provider sign-in and the running e-mail step,
    // whose request is aborted. Does nothing unless a sign-in runs.
    void cancelAuthentication();
    // Logs out on the backend, deletes the saved session and clears the published one.
    // Returns at once; the work runs on its own.
    void signOut();

    // The e-mail steps the store runs itself. Each returns nothing when a sign-in is
    // already running, and on failure (the error text is published).
    QCoro::Task<std::optional<EmailLoginResult>> loginWithEmail(QString email, QString password);
    QCoro::Task<std::optional<EmailChallenge>> startEmailRegistration(QString email, std::optional<QString> name);
    QCoro::Task<std::optional<EmailChallenge>> resendEmailCode(QString challengeId, QString email);
    QCoro::Task<std::optional<AuthSession>> completeEmailRegistration(CompleteEmailRegistrationInput input);

    // Resolves when the start-up restore has finished (at once when it has).
    QCoro::Task<void> restored();

    static QString previousLoginExpiredText();
    static QString loginExpiredKey();

Q_SIGNALS:
    void sessionChanged();
    void isRestoringSessionChanged();
    void isAuthenticatingChanged();
    void isSigningOutChanged();
    void activeAuthenticationProviderChanged();
    void errorMessageChanged();
    void signOutNoticeChanged();

private:
    QCoro::Task<void> restoreSession();
    // Deletes the saved session, signs out and shows "Your login expired. Sign in again to
    // continue." in the interface language.
    QCoro::Task<void> endExpiredSession();
    template<typename T>
    QCoro::Task<std::optional<T>> runEmailAuthenticationOperation(
        std::function<QCoro::Task<T>(AuthService *, CancellationToken)> operation, std::function<void(const T &)> onSuccess);
    static QCoro::Task<void> signOutWork(QPointer<AuthSessionStore> self, QPointer<AuthService> service,
                                         std::optional<QString> accessToken, std::optional<QString> refreshToken);
    void setIsRestoringSession(bool value);
    void setIsSigningOut(bool value);
    bool expiresWithinThreshold(const AuthSession &session) const;

    QPointer<AuthService> m_authService;
    Localizer m_localizer;

    std::optional<AuthSession> m_session;
    bool m_isRestoringSession = true;
    bool m_isAuthenticating = false;
    bool m_isSigningOut = false;
    std::optional<AuthenticationProvider> m_activeAuthenticationProvider;
    std::optional<QString> m_errorMessage;
    std::optional<QString> m_signOutNotice;

    // Renewed by every save and removal of the saved session followed from the service, so
    // work that read the session earlier does not publish it over a newer one.
    GenerationId m_followedChanges;
    TaskHandle<void> m_restoreTask;
    // The running e-mail step; cancelAuthentication() aborts it.
    CancellationToken m_emailOperationToken;
    GenerationId m_emailOperationGeneration;
    // A provider sign-in's task, for a start side that sets it.
    TaskHandle<void> m_authenticationTask;
};
