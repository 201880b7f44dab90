#include "signin/EmailAuthFlowController.h"

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "accounts/AuthMessages.h"
#include "localization/KavrelLocalizationStore.h"
#include "base/TaskOutcome.h"
#include "base/Text.h"
#include "signin/EmailSignInRules.h"

#include <functional>

namespace {

// The steps that call the service directly run under the same rules as the store's own:
// dropped while another sign-in runs, the store's flags set around the request, a failure
// published as the store's error text. This settles the store even when the screen that
// started it is gone. A dropped call, or one whose store went meanwhile, ends as cancelled.
template<typename T>
QCoro::Task<TaskOutcome<T>> runGuardedServiceCall(QPointer<AuthSessionStore> store,
                                                  std::function<QCoro::Task<T>(AuthService *)> call,
                                                  std::function<void(AuthSessionStore *, const T &)> publish)
{
    TaskOutcome<T> outcome;
    if (!store || store->isAuthenticating()) {
        outcome.error = std::make_exception_ptr(CancellationError());
        co_return outcome;
    }
    QPointer<AuthService> service = store->authService();
    store->setErrorMessage(std::nullopt);
    store->setIsAuthenticating(true);
    store->setActiveAuthenticationProvider(AuthenticationProvider::email);

    if (service)
        outcome = co_await outcomeOf(call(service.data()));
    else
        outcome.error = std::make_exception_ptr(AuthServiceError::requestFailed(AuthService::signInRequiredText()));
    if (!store) {
        outcome.value.reset();
        outcome.error = std::make_exception_ptr(CancellationError());
        co_return outcome;
    }
    if (outcome.succeeded()) {
        if (publish)
            publish(store.data(), *outcome.value);
    } else {
        store->setErrorMessage(outcome.errorText());
    }
    store->setIsAuthenticating(false);
    store->setActiveAuthenticationProvider(std::nullopt);
    co_return outcome;
}

const QString passwordLabel = QStringLiteral("Password");
const QString nameLabel = QStringLiteral("Name");
const QString verificationCodeLabel = QStringLiteral("Verification code");
const QString authenticatorCodeLabel = QStringLiteral("Authenticator code");

} // namespace

EmailAuthFlowController::EmailAuthFlowController(AuthSessionStore *authStore, const KavrelLocalizationStore &localization,
                                                 QObject *parent)
    : QObject(parent)
    , m_authStore(authStore)
    , m_localization(localization)
{
    if (authStore) {
        connect(authStore, &AuthSessionStore::errorMessageChanged, this, &EmailAuthFlowController::messagesChanged);
        connect(authStore, &AuthSessionStore::signOutNoticeChanged, this, &EmailAuthFlowController::messagesChanged);
        connect(authStore, &AuthSessionStore::isAuthenticatingChanged, this, &EmailAuthFlowController::messagesChanged);
        connect(authStore, &AuthSessionStore::activeAuthenticationProviderChanged, this,
                &EmailAuthFlowController::messagesChanged);
    }
}

EmailAuthFlowController::~EmailAuthFlowController() = default;

// ---- State ----

template<typename Value>
void EmailAuthFlowController::assign(Value &field, const Value &value)
{
    if (field == value)
        return;
    field = value;
    Q_EMIT fieldsChanged();
}

void EmailAuthFlowController::setEmail(const QString &value) { assign(m_email, value); }
void EmailAuthFlowController::setName(const QString &value) { assign(m_name, value); }
void EmailAuthFlowController::setPassword(const QString &value) { assign(m_password, value); }
void EmailAuthFlowController::setConfirmPassword(const QString &value) { assign(m_confirmPassword, value); }
void EmailAuthFlowController::setEmailCode(const QString &value) { assign(m_emailCode, value); }
void EmailAuthFlowController::setMfaCode(const QString &value) { assign(m_mfaCode, value); }
void EmailAuthFlowController::setWantsTotpDuringRegistration(bool value) { assign(m_wantsTotpDuringRegistration, value); }

void EmailAuthFlowController::setLocalErrorMessage(std::optional<QString> message)
{
    if (m_localErrorMessage == message)
        return;
    m_localErrorMessage = std::move(message);
    Q_EMIT messagesChanged();
}

void EmailAuthFlowController::setEmailFlow(EmailAuthFlow flow)
{
    if (m_emailFlow == flow)
        return;
    m_emailFlow = std::move(flow);
    Q_EMIT emailFlowChanged();
}

void EmailAuthFlowController::clearErrorMessages()
{
    setLocalErrorMessage(std::nullopt);
    if (m_authStore)
        m_authStore->setErrorMessage(std::nullopt);
}

// ---- What the screen shows ----

std::optional<QString> EmailAuthFlowController::errorText() const
{
    if (m_localErrorMessage)
        return m_localErrorMessage;
    if (m_authStore)
        return m_authStore->errorMessage();
    return std::nullopt;
}

std::optional<QString> EmailAuthFlowController::noticeText() const
{
    return m_authStore ? m_authStore->signOutNotice() : std::nullopt;
}

std::optional<QString> EmailAuthFlowController::progressMessage() const
{
    if (!m_authStore || !m_authStore->isAuthenticating())
        return std::nullopt;
    const std::optional<AuthenticationProvider> provider = m_authStore->activeAuthenticationProvider();
    if (!provider)
        return std::nullopt;
    return authenticatingMessage(*provider);
}

bool EmailAuthFlowController::showsCancelSignIn() const
{
    return progressMessage().has_value() && m_authStore->activeAuthenticationProvider() != AuthenticationProvider::email;
}

bool EmailAuthFlowController::areActionsEnabled() const
{
    return !m_authStore || !m_authStore->isAuthenticating();
}

QString EmailAuthFlowController::completeRegistrationButtonTitle() const
{
    return m_wantsTotpDuringRegistration ? QStringLiteral("Continue to 2FA") : QStringLiteral("Create account");
}

QString EmailAuthFlowController::completeRegistrationButtonIcon() const
{
    return m_wantsTotpDuringRegistration ? QStringLiteral("lock.shield") : QStringLiteral("person.badge.plus");
}

QString EmailAuthFlowController::authenticatingMessage(AuthenticationProvider provider)
{
    // The browser text is joined first, so that it is looked up as one key.
    const auto browserText = [](const QString &providerName) {
        return QStringLiteral("КАВРЕЛ opened your default browser. Finish ") + providerName
            + QStringLiteral(" sign-in there and the app will activate again automatically.");
    };
    switch (provider) {
    case AuthenticationProvider::google:
        return browserText(QStringLiteral("Google"));
    case AuthenticationProvider::microsoft:
        return browserText(QStringLiteral("Microsoft"));
    case AuthenticationProvider::apple:
        return QStringLiteral("Complete Apple sign-in in the system prompt.");
    case AuthenticationProvider::email:
        return QStringLiteral("Checking your КАВРЕЛ account...");
    }
    return QString();
}

// ---- Validation ----

bool EmailAuthFlowController::validateEmail(const QString &normalizedEmail)
{
    if (EmailSignInRules::isPlausibleEmail(normalizedEmail))
        return true;
    setLocalErrorMessage(EmailSignInRules::invalidEmailMessage);
    return false;
}

bool EmailAuthFlowController::validateRequired(const QString &value, const QString &label)
{
    if (!Text::trimmed(value).isEmpty())
        return true;
    const QStringList arguments{m_localization.localized(label)};
    setLocalErrorMessage(m_localization.localizedFormat(EmailSignInRules::requiredFormat, arguments));
    return false;
}

bool EmailAuthFlowController::validatePasswordForRegistration()
{
    if (!validateRequired(m_password, passwordLabel))
        return false;
    if (!EmailSignInRules::passwordsMatch(m_password, m_confirmPassword)) {
        setLocalErrorMessage(EmailSignInRules::passwordMismatchMessage);
        return false;
    }
    if (const std::optional<QString> policyError = passwordPolicyError()) {
        setLocalErrorMessage(*policyError);
        return false;
    }
    return true;
}

std::optional<QString> EmailAuthFlowController::passwordPolicyError() const
{
    return EmailSignInRules::passwordPolicyError(m_password);
}

// ---- Actions ----

void EmailAuthFlowController::switchEmailMode()
{
    clearErrorMessages();
    setEmailCode(QString());
    setMfaCode(QString());
    setPassword(QString());
    setConfirmPassword(QString());
    setWantsTotpDuringRegistration(false);
    setEmailFlow(m_emailFlow.kind == EmailAuthFlow::Kind::signIn ? EmailAuthFlow::registerAccount()
                                                                 : EmailAuthFlow::signIn());
}

void EmailAuthFlowController::backFromLoginMfa()
{
    setEmailFlow(EmailAuthFlow::signIn());
    setMfaCode(QString());
    clearErrorMessages();
}

void EmailAuthFlowController::backToRegistrationStart()
{
    const EmailAuthFlow::Kind kind = m_emailFlow.kind;
    if (kind != EmailAuthFlow::Kind::verifyRegistration && kind != EmailAuthFlow::Kind::completeRegistration)
        return;
    clearErrorMessages();
    setEmailCode(QString());
    setPassword(QString());
    setConfirmPassword(QString());
    setWantsTotpDuringRegistration(false);
    setEmailFlow(EmailAuthFlow::registerAccount());
}

void EmailAuthFlowController::cancelAuthentication()
{
    if (m_authStore)
        m_authStore->cancelAuthentication();
}

TaskHandle<void> EmailAuthFlowController::startRequest(std::function<QCoro::Task<void>(Self, Store)> request)
{
    // An old message goes as soon as a valid request starts.
    clearErrorMessages();
    Self self(this);
    Store store = m_authStore;
    return spawnTask([request, self, store](CancellationToken) { return request(self, store); });
}

TaskHandle<void> EmailAuthFlowController::loginWithEmail()
{
    if (!validateEmail(EmailSignInRules::normalizedEmail(m_email)) || !validateRequired(m_password, passwordLabel))
        return {};
    const QString email = EmailSignInRules::normalizedEmail(m_email);
    const QString password = m_password;
    return startRequest([email, password](Self self, Store store) { return runLogin(self, store, email, password); });
}

QCoro::Task<void> EmailAuthFlowController::runLogin(Self self, Store store, QString email, QString password)
{
    if (!store)
        co_return;
    const std::optional<EmailLoginResult> result = co_await store->loginWithEmail(email, password);
    if (!self || !result || result->kind != EmailLoginResult::Kind::mfaRequired || !result->challenge)
        co_return;
    self->setMfaCode(QString());
    self->setEmailFlow(EmailAuthFlow::loginMfa(*result->challenge));
}

TaskHandle<void> EmailAuthFlowController::startRegistration()
{
    if (!validateEmail(EmailSignInRules::normalizedEmail(m_email)) || !validateRequired(m_name, nameLabel))
        return {};
    const QString email = EmailSignInRules::normalizedEmail(m_email);
    const QString name = Text::trimmed(m_name);
    return startRequest([email, name](Self self, Store store) { return runStartRegistration(self, store, email, name); });
}

QCoro::Task<void> EmailAuthFlowController::runStartRegistration(Self self, Store store, QString email, QString name)
{
    if (!store)
        co_return;
    const std::optional<QString> sentName = name;
    const std::optional<EmailChallenge> challenge = co_await store->startEmailRegistration(email, sentName);
    if (!self || !challenge)
        co_return;
    self->setEmail(challenge->email);
    self->setEmailCode(QString());
    self->setEmailFlow(EmailAuthFlow::verifyRegistration(*challenge));
}

TaskHandle<void> EmailAuthFlowController::verifyRegistrationCode(EmailChallenge challenge)
{
    if (!validateRequired(m_emailCode, verificationCodeLabel))
        return {};
    const QString code = Text::trimmed(m_emailCode);
    return startRequest([challenge, code](Self self, Store store) { return runVerifyCode(self, store, challenge, code); });
}

QCoro::Task<void> EmailAuthFlowController::runVerifyCode(Self self, Store store, EmailChallenge challenge, QString code)
{
    std::function<QCoro::Task<EmailVerification>(AuthService *)> call = [challenge, code](AuthService *service) {
        return service->verifyEmailCode(challenge.challengeId, challenge.email, code);
    };
    const TaskOutcome<EmailVerification> verification =
        co_await runGuardedServiceCall<EmailVerification>(store, call, nullptr);
    if (!self || !verification.value)
        co_return;
    self->setPassword(QString());
    self->setConfirmPassword(QString());
    self->setWantsTotpDuringRegistration(false);
    self->setEmailFlow(EmailAuthFlow::completeRegistration(*verification.value));
}

TaskHandle<void> EmailAuthFlowController::resendRegistrationCode(EmailChallenge challenge)
{
    return startRequest([challenge](Self self, Store store) { return runResendCode(self, store, challenge); });
}

QCoro::Task<void> EmailAuthFlowController::runResendCode(Self self, Store store, EmailChallenge challenge)
{
    if (!store)
        co_return;
    const std::optional<EmailChallenge> renewed = co_await store->resendEmailCode(challenge.challengeId, challenge.email);
    if (!self || !renewed)
        co_return;
    self->setEmailFlow(EmailAuthFlow::verifyRegistration(*renewed));
}

TaskHandle<void> EmailAuthFlowController::continueRegistration(EmailVerification verification)
{
    if (!validatePasswordForRegistration())
        return {};
    if (!m_wantsTotpDuringRegistration)
        return completeRegistration(verification, std::nullopt);
    return startRequest([verification](Self self, Store store) { return runSetupTotp(self, store, verification); });
}

QCoro::Task<void> EmailAuthFlowController::runSetupTotp(Self self, Store store, EmailVerification verification)
{
    std::function<QCoro::Task<TotpSetup>(AuthService *)> call = [verification](AuthService *service) {
        return service->setupRegistrationTotp(verification.challengeId, verification.email, verification.verificationToken);
    };
    const TaskOutcome<TotpSetup> setup = co_await runGuardedServiceCall<TotpSetup>(store, call, nullptr);
    if (!self || !setup.value)
        co_return;
    // The passwords stay: they are sent with the authenticator code.
    self->setMfaCode(QString());
    self->setEmailFlow(EmailAuthFlow::registrationTotp(verification, *setup.value));
}

TaskHandle<void> EmailAuthFlowController::completeRegistration(EmailVerification verification,
                                                               std::optional<TotpSetup> setup)
{
    if (!validatePasswordForRegistration())
        return {};
    if (setup && !validateRequired(m_mfaCode, authenticatorCodeLabel))
        return {};
    // The address and challenge come from the verification, not from the field.
    CompleteEmailRegistrationInput input;
    input.challengeId = verification.challengeId;
    input.email = verification.email;
    input.name = Text::trimmed(m_name);
    input.password = m_password;
    input.verificationToken = verification.verificationToken;
    if (setup)
        input.mfa = EmailRegistrationMFA{QStringLiteral("totp"), setup->setupId, Text::trimmed(m_mfaCode)};
    return startRequest([input](Self, Store store) { return runCompleteRegistration(store, input); });
}

QCoro::Task<void> EmailAuthFlowController::runCompleteRegistration(Store store, CompleteEmailRegistrationInput input)
{
    if (!store)
        co_return;
    // Success publishes the session and the root view leaves this screen; a failure shows the
    // store's error and the step stays.
    co_await store->completeEmailRegistration(input);
}

TaskHandle<void> EmailAuthFlowController::verifyLoginMfa(MfaChallenge challenge)
{
    if (!validateRequired(m_mfaCode, authenticatorCodeLabel))
        return {};
    const QString code = Text::trimmed(m_mfaCode);
    return startRequest([challenge, code](Self self, Store store) { return runVerifyLoginMfa(self, store, challenge, code); });
}

QCoro::Task<void> EmailAuthFlowController::runVerifyLoginMfa(Self self, Store store, MfaChallenge challenge, QString code)
{
    std::function<QCoro::Task<AuthSession>(AuthService *)> call = [challenge, code](AuthService *service) {
        return service->verifyEmailMfa(challenge.challengeId, challenge.email, code);
    };
    std::function<void(AuthSessionStore *, const AuthSession &)> publish =
        [](AuthSessionStore *authStore, const AuthSession &session) { authStore->setSession(session); };
    const TaskOutcome<AuthSession> outcome = co_await runGuardedServiceCall<AuthSession>(store, call, publish);
    const std::optional<AuthServiceError> error = outcome.errorAs<AuthServiceError>();
    if (!self || !error || error->errorCase() != AuthServiceError::Case::signInRequestGone)
        co_return;
    // No code helps any more; a new sign-in does, and the e-mail and password it needs are
    // still here. The store's message says why the step changed.
    self->setMfaCode(QString());
    self->setEmailFlow(EmailAuthFlow::signIn());
}
