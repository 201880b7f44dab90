#pragma once

#include "accounts/AuthSessionStore.h"
#include "accounts/AuthenticationProvider.h"
#include "accounts/AuthMessages.h"
#include "signin/EmailAuthFlow.h"
#ifndef Q_MOC_RUN // moc cannot parse <coroutine>, which this pulls in
#include "base/Async.h"
#endif

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class AuthSessionStore;
class KavrelLocalizationStore;

// What the e-mail sign-in screen holds and does: the current step, the typed fields, the
// screen's own error message, and the actions of its buttons (sign in, second factor, the
// four registration steps). The screen binds its controls to this object and draws from it;
// the store holds the session, the running flag and the server's error text.
//
// Each action validates first (failures go to localErrorMessage and start nothing), then
// starts a detached request and returns its handle; nobody has to await it. A request
// started while another sign-in runs is dropped. When the screen and this object are gone
// before a request answers, the answer still settles the store but touches nothing here.
//
// Main thread only.
class EmailAuthFlowController final : public QObject
{
    Q_OBJECT

public:
    EmailAuthFlowController(AuthSessionStore *authStore, const KavrelLocalizationStore &localization,
                            QObject *parent = nullptr);
    ~EmailAuthFlowController() override;

    AuthSessionStore *authStore() const { return m_authStore.data(); }

    // ---- State ----

    const EmailAuthFlow &emailFlow() const { return m_emailFlow; }
    const QString &email() const { return m_email; }
    const QString &name() const { return m_name; }
    const QString &password() const { return m_password; }
    const QString &confirmPassword() const { return m_confirmPassword; }
    const QString &emailCode() const { return m_emailCode; }
    const QString &mfaCode() const { return m_mfaCode; }
    bool wantsTotpDuringRegistration() const { return m_wantsTotpDuringRegistration; }
    const std::optional<QString> &localErrorMessage() const { return m_localErrorMessage; }

    void setEmail(const QString &value);
    void setName(const QString &value);
    void setPassword(const QString &value);
    void setConfirmPassword(const QString &value);
    void setEmailCode(const QString &value);
    void setMfaCode(const QString &value);
    void setWantsTotpDuringRegistration(bool value);
    void setLocalErrorMessage(std::optional<QString> message);

    // ---- What the screen shows ----

    bool showsEmailModeSwitch() const { return m_emailFlow.showsModeSwitch(); }
    // The one error line: the screen's own message first, else the store's.
    std::optional<QString> errorText() const;
    // The store's word on what the last sign-out stopped, shown beside the error (an interface key).
    std::optional<QString> noticeText() const;
    // The progress line while a sign-in runs with a known provider (an interface key).
    std::optional<QString> progressMessage() const;
    // "Cancel sign-in" is offered for the browser and system-prompt providers only.
    bool showsCancelSignIn() const;
    // Every action button and link is off while a sign-in runs.
    bool areActionsEnabled() const;
    // The confirm button of the password step, by the authenticator wish.
    QString completeRegistrationButtonTitle() const;
    QString completeRegistrationButtonIcon() const;

    static QString authenticatingMessage(AuthenticationProvider provider);

    // ---- Actions ----

    void switchEmailMode();
    TaskHandle<void> loginWithEmail();
    TaskHandle<void> startRegistration();
    TaskHandle<void> verifyRegistrationCode(EmailChallenge challenge);
    TaskHandle<void> resendRegistrationCode(EmailChallenge challenge);
    TaskHandle<void> continueRegistration(EmailVerification verification);
    TaskHandle<void> completeRegistration(EmailVerification verification, std::optional<TotpSetup> setup);
    // A challenge the server no longer knows leads back to the sign-in step, the e-mail and
    // password kept, with the store's message saying a new sign-in is needed.
    TaskHandle<void> verifyLoginMfa(MfaChallenge challenge);
    void backFromLoginMfa();
    // From the code or password step of a registration back to its start, to correct the
    // e-mail or the name (kept); the codes, passwords and the authenticator wish are cleared.
    void backToRegistrationStart();
    void cancelAuthentication();

    // ---- Validation (each failure sets localErrorMessage and answers false) ----

    bool validateEmail(const QString &normalizedEmail);
    bool validateRequired(const QString &value, const QString &label);
    bool validatePasswordForRegistration();
    std::optional<QString> passwordPolicyError() const;

Q_SIGNALS:
    void emailFlowChanged();
    // A field changed, by typing or by an action that clears it.
    void fieldsChanged();
    // The error line, the progress line or whether actions are enabled may have changed.
    void messagesChanged();

private:
    using Self = QPointer<EmailAuthFlowController>;
    using Store = QPointer<AuthSessionStore>;

    // Clears both messages and starts the request with this object and the store, either of
    // which may be gone when it answers.
    TaskHandle<void> startRequest(std::function<QCoro::Task<void>(Self, Store)> request);
    static QCoro::Task<void> runLogin(Self self, Store store, QString email, QString password);
    static QCoro::Task<void> runStartRegistration(Self self, Store store, QString email, QString name);
    static QCoro::Task<void> runVerifyCode(Self self, Store store, EmailChallenge challenge, QString code);
    static QCoro::Task<void> runResendCode(Self self, Store store, EmailChallenge challenge);
    static QCoro::Task<void> runSetupTotp(Self self, Store store, EmailVerification verification);
    static QCoro::Task<void> runCompleteRegistration(Store store, CompleteEmailRegistrationInput input);
    static QCoro::Task<void> runVerifyLoginMfa(Self self, Store store, MfaChallenge challenge, QString code);

    void setEmailFlow(EmailAuthFlow flow);
    void clearErrorMessages();
    template<typename Value>
    void assign(Value &field, const Value &value);

    QPointer<AuthSessionStore> m_authStore;
    const KavrelLocalizationStore &m_localization;

    EmailAuthFlow m_emailFlow;
    QString m_email;
    QString m_name;
    QString m_password;
    QString m_confirmPassword;
    QString m_emailCode;
    QString m_mfaCode;
    bool m_wantsTotpDuringRegistration = false;
    std::optional<QString> m_localErrorMessage;
};
