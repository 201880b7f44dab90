#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "signin/EmailAuthFlowController.h"
#include "signin/EmailSignInRules.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"
#include "support/TestTotp.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using Kind = EmailAuthFlow::Kind;

QCoro::Task<void> completionOf(TaskHandle<void> handle)
{
    co_await handle.completion();
}

// Runs an action's request to its end; an action that failed validation started none.
bool finish(TaskHandle<void> handle)
{
    if (!handle.isValid())
        return false;
    runTask(completionOf(handle));
    return true;
}

const QString strongPassword = QStringLiteral("Bright7$x");

} // namespace

class tst_EmailAuthFlowController : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<KavrelLocalizationStore> m_localization;
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_auth;
    std::unique_ptr<AuthService> m_service;
    std::unique_ptr<AuthSessionStore> m_store;
    std::unique_ptr<EmailAuthFlowController> m_flow;

    QJsonObject lastBody(const char *path) const
    {
        const QList<RecordedRequest> requests = m_backend->requests(QString::fromLatin1(path));
        return requests.isEmpty() ? QJsonObject() : requests.last().json();
    }

    // Registers up to the password step.
    EmailVerification reachPasswordStep(const QString &email)
    {
        m_flow->setEmail(email);
        m_flow->setName(QStringLiteral("Ada"));
        finish(m_flow->startRegistration());
        const EmailChallenge challenge = *m_flow->emailFlow().challenge;
        m_flow->setEmailCode(QString::fromLatin1(FakeAuthBackend::emailCode));
        finish(m_flow->verifyRegistrationCode(challenge));
        return *m_flow->emailFlow().verification;
    }

private Q_SLOTS:
    void init()
    {
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("defaults.ini")));
        m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
        m_localization->setLanguage(KavrelAppLanguage::english);
        m_backend = std::make_unique<FakeBackend>();
        QVERIFY(m_backend->start());
        m_auth = std::make_unique<FakeAuthBackend>(m_backend.get());
        m_service = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
        m_store = std::make_unique<AuthSessionStore>(m_service.get());
        runTask(m_store->restored());
        m_flow = std::make_unique<EmailAuthFlowController>(m_store.get(), *m_localization);
    }

    void cleanup()
    {
        m_flow.reset();
        m_store.reset();
        m_service.reset();
        m_auth.reset();
        m_backend.reset();
    }

    void modeSwitch_data()
    {
        QTest::addColumn<bool>("fromRegister");
        QTest::newRow("sign in to register") << false;
        QTest::newRow("register to sign in") << true;
    }

    void modeSwitch()
    {
        QFETCH(bool, fromRegister);
        if (fromRegister)
            m_flow->switchEmailMode();
        m_flow->setEmail(QStringLiteral("ada@example.com"));
        m_flow->setName(QStringLiteral("Ada"));
        m_flow->setPassword(strongPassword);
        m_flow->setConfirmPassword(strongPassword);
        m_flow->setEmailCode(QStringLiteral("111"));
        m_flow->setMfaCode(QStringLiteral("222"));
        m_flow->setWantsTotpDuringRegistration(true);
        m_flow->setLocalErrorMessage(QStringLiteral("local"));
        m_store->setErrorMessage(QStringLiteral("store"));

        m_flow->switchEmailMode();
        QCOMPARE(m_flow->emailFlow().kind, fromRegister ? Kind::signIn : Kind::registerAccount);
        QVERIFY(m_flow->showsEmailModeSwitch());
        QCOMPARE(m_flow->email(), QStringLiteral("ada@example.com"));
        QCOMPARE(m_flow->name(), QStringLiteral("Ada"));
        QVERIFY(m_flow->password().isEmpty());
        QVERIFY(m_flow->confirmPassword().isEmpty());
        QVERIFY(m_flow->emailCode().isEmpty());
        QVERIFY(m_flow->mfaCode().isEmpty());
        QVERIFY(!m_flow->wantsTotpDuringRegistration());
        QVERIFY(!m_flow->errorText());
    }

    void signInWithSecondFactor()
    {
        const QString email = QStringLiteral("grace@example.com");
        m_auth->addAccount(email, QStringLiteral(" Spaced7$"), QStringLiteral("Grace"), true);
        m_flow->setEmail(QStringLiteral("  Grace@Example.COM "));
        m_flow->setPassword(QStringLiteral(" Spaced7$"));
        m_flow->setMfaCode(QStringLiteral("stale"));

        QVERIFY(finish(m_flow->loginWithEmail()));
        // Sent trimmed and lowercased, the password as typed; the field keeps what was typed.
        QCOMPARE(lastBody(FakeAuthBackend::loginPath).value(QStringLiteral("email")).toString(), email);
        QCOMPARE(lastBody(FakeAuthBackend::loginPath).value(QStringLiteral("password")).toString(), QStringLiteral(" Spaced7$"));
        QCOMPARE(m_flow->email(), QStringLiteral("  Grace@Example.COM "));
        QCOMPARE(m_flow->emailFlow().kind, Kind::loginMfa);
        QVERIFY(!m_flow->showsEmailModeSwitch());
        QVERIFY(m_flow->mfaCode().isEmpty());
        QVERIFY(!m_store->isAuthenticated());

        // A wrong code: the store says why, the step and the code stay.
        const MfaChallenge challenge = *m_flow->emailFlow().mfaChallenge;
        m_flow->setMfaCode(QStringLiteral("000000"));
        QVERIFY(finish(m_flow->verifyLoginMfa(challenge)));
        QCOMPARE(m_flow->emailFlow().kind, Kind::loginMfa);
        QCOMPARE(m_flow->mfaCode(), QStringLiteral("000000"));
        QCOMPARE(m_flow->errorText().value_or(QString()), QStringLiteral("The authenticator code is wrong."));
        QVERIFY(!m_store->isAuthenticating());

        // Back keeps the password typed for the retry.
        m_flow->backFromLoginMfa();
        QCOMPARE(m_flow->emailFlow().kind, Kind::signIn);
        QCOMPARE(m_flow->password(), QStringLiteral(" Spaced7$"));
        QVERIFY(m_flow->mfaCode().isEmpty());
        QVERIFY(!m_flow->errorText());

        QVERIFY(finish(m_flow->loginWithEmail()));
        const MfaChallenge second = *m_flow->emailFlow().mfaChallenge;
        m_flow->setMfaCode(QLatin1Char(' ') + TestTotp::code(QString::fromLatin1(FakeAuthBackend::totpSecret)) + QLatin1Char('\n'));
        QVERIFY(finish(m_flow->verifyLoginMfa(second)));
        QVERIFY(m_store->isAuthenticated());
        QCOMPARE(m_store->session()->user.email, email);
        QVERIFY(!m_store->isAuthenticating());
        QVERIFY(!m_store->activeAuthenticationProvider());
    }

    // The server takes the code and the answer is lost; the next press meets a sign-in request
    // the server no longer has. That leads back to the sign-in step with what was typed, and says
    // so in the interface language, not in the server's words; one press there signs in again.
    void lostAnswerToTheCodeLeadsBackToSignIn()
    {
        const QString email = QStringLiteral("grace@example.com");
        m_auth->addAccount(email, strongPassword, QStringLiteral("Grace"), true);
        m_flow->setEmail(email);
        m_flow->setPassword(strongPassword);
        QVERIFY(finish(m_flow->loginWithEmail()));
        const MfaChallenge challenge = *m_flow->emailFlow().mfaChallenge;
        m_flow->setMfaCode(QString::fromLatin1(FakeAuthBackend::totpCode));
        m_auth->loseNextAnswers(FakeAuthBackend::mfaVerifyPath, 1);
        QVERIFY(finish(m_flow->verifyLoginMfa(challenge)));
        QCOMPARE(m_flow->emailFlow().kind, Kind::loginMfa);
        QVERIFY(!m_store->isAuthenticated());

        QVERIFY(finish(m_flow->verifyLoginMfa(challenge)));
        QCOMPARE(m_flow->emailFlow().kind, Kind::signIn);
        QCOMPARE(m_flow->email(), email);
        QCOMPARE(m_flow->password(), strongPassword);
        QVERIFY(m_flow->mfaCode().isEmpty());
        QVERIFY(!m_store->isAuthenticating());
        const QString shown = m_flow->errorText().value_or(QString());
        QCOMPARE(shown, AuthServiceError::signInRequestGone(404).message());
        m_localization->setLanguage(KavrelAppLanguage::russian);
        QVERIFY2(m_localization->localizedMessage(shown).startsWith(QStringLiteral("Этот запрос на вход больше не действителен")),
                 qPrintable(m_localization->localizedMessage(shown)));

        QVERIFY(finish(m_flow->loginWithEmail()));
        QCOMPARE(m_flow->emailFlow().kind, Kind::loginMfa);
        m_flow->setMfaCode(QString::fromLatin1(FakeAuthBackend::totpCode));
        QVERIFY(finish(m_flow->verifyLoginMfa(*m_flow->emailFlow().mfaChallenge)));
        QVERIFY(m_store->isAuthenticated());
        QVERIFY(!m_flow->errorText());
    }

    // The registration's code and password steps lead back to its start, where the e-mail is
    // corrected; elsewhere the way back does nothing.
    void backToRegistrationStart_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("goesBack");
        QTest::newRow("code step") << int(Kind::verifyRegistration) << true;
        QTest::newRow("password step") << int(Kind::completeRegistration) << true;
        QTest::newRow("e-mail sign-in") << int(Kind::signIn) << false;
        QTest::newRow("registration start") << int(Kind::registerAccount) << false;
    }

    void backToRegistrationStart()
    {
        QFETCH(int, from);
        QFETCH(bool, goesBack);
        if (from != int(Kind::signIn)) {
            m_flow->switchEmailMode();
            m_flow->setName(QStringLiteral("Ada"));
            m_flow->setEmail(QStringLiteral("ada@exmaple.com"));
        }
        if (from == int(Kind::verifyRegistration) || from == int(Kind::completeRegistration))
            QVERIFY(finish(m_flow->startRegistration()));
        if (from == int(Kind::completeRegistration)) {
            m_flow->setEmailCode(QString::fromLatin1(FakeAuthBackend::emailCode));
            QVERIFY(finish(m_flow->verifyRegistrationCode(*m_flow->emailFlow().challenge)));
        }
        QCOMPARE(int(m_flow->emailFlow().kind), from);
        m_flow->setEmailCode(QStringLiteral("12"));
        m_flow->setPassword(strongPassword);
        m_flow->setConfirmPassword(strongPassword);
        m_flow->setWantsTotpDuringRegistration(true);
        m_flow->setLocalErrorMessage(QStringLiteral("local"));
        const QString email = m_flow->email();

        m_flow->backToRegistrationStart();
        QCOMPARE(m_flow->emailFlow().kind, goesBack ? Kind::registerAccount : Kind(from));
        QCOMPARE(m_flow->email(), email);
        if (!goesBack) {
            QCOMPARE(m_flow->password(), strongPassword);
            return;
        }
        QVERIFY(m_flow->showsEmailModeSwitch());
        QCOMPARE(m_flow->name(), QStringLiteral("Ada"));
        QVERIFY(m_flow->emailCode().isEmpty());
        QVERIFY(m_flow->password().isEmpty());
        QVERIFY(m_flow->confirmPassword().isEmpty());
        QVERIFY(!m_flow->wantsTotpDuringRegistration());
        QVERIFY(!m_flow->errorText());

        // The corrected address starts a new registration.
        m_flow->setEmail(QStringLiteral("ada@example.com"));
        QVERIFY(finish(m_flow->startRegistration()));
        QCOMPARE(m_flow->emailFlow().kind, Kind::verifyRegistration);
        QCOMPARE(m_flow->emailFlow().challenge->email, QStringLiteral("ada@example.com"));
    }

    void signInWithoutSecondFactorStaysOnStep()
    {
        m_auth->addAccount(QStringLiteral("ada@example.com"), strongPassword, QStringLiteral("Ada"), false);
        m_flow->setEmail(QStringLiteral("ada@example.com"));
        m_flow->setPassword(strongPassword);
        QVERIFY(finish(m_flow->loginWithEmail()));
        QVERIFY(m_store->isAuthenticated());
        QCOMPARE(m_flow->emailFlow().kind, Kind::signIn);
    }

    void validationStartsNothing_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("message");
        QTest::newRow("login without dot") << "login" << EmailSignInRules::invalidEmailMessage;
        QTest::newRow("login with blank password") << "login blank" << QStringLiteral("Password is required.");
        QTest::newRow("register without name") << "register" << QStringLiteral("Name is required.");
        QTest::newRow("verify without code") << "verify" << QStringLiteral("Verification code is required.");
        QTest::newRow("finish without authenticator code") << "finish" << QStringLiteral("Authenticator code is required.");
    }

    void validationStartsNothing()
    {
        QFETCH(QString, action);
        QFETCH(QString, message);
        m_store->setErrorMessage(QStringLiteral("from the server"));
        m_flow->setEmail(action == QLatin1String("login") ? QStringLiteral("ada@example") : QStringLiteral("ada@example.com"));
        m_flow->setPassword(action == QLatin1String("login blank") ? QStringLiteral("  ") : strongPassword);
        m_flow->setConfirmPassword(strongPassword);
        m_flow->setName(QStringLiteral(" "));
        TaskHandle<void> handle;
        if (action.startsWith(QLatin1String("login")))
            handle = m_flow->loginWithEmail();
        else if (action == QLatin1String("register"))
            handle = m_flow->startRegistration();
        else if (action == QLatin1String("verify"))
            handle = m_flow->verifyRegistrationCode(EmailChallenge{});
        else
            handle = m_flow->completeRegistration(EmailVerification{}, TotpSetup{});
        QVERIFY(!handle.isValid());
        QCOMPARE(m_flow->errorText().value_or(QString()), message);
        // The store is untouched: its message only hides behind the local one.
        QCOMPARE(m_store->errorMessage().value_or(QString()), QStringLiteral("from the server"));
        QVERIFY(m_backend->requests().isEmpty());
    }

    void registrationWithAuthenticator()
    {
        m_flow->switchEmailMode();
        m_flow->setEmail(QStringLiteral(" New@Example.com"));
        m_flow->setName(QStringLiteral("  Ada Lovelace \n"));
        m_flow->setEmailCode(QStringLiteral("left over"));
        QVERIFY(finish(m_flow->startRegistration()));
        QCOMPARE(lastBody(FakeAuthBackend::registerPath).value(QStringLiteral("name")).toString(), QStringLiteral("Ada Lovelace"));
        QCOMPARE(m_flow->emailFlow().kind, Kind::verifyRegistration);
        QCOMPARE(m_flow->email(), QStringLiteral("new@example.com")); // as the server writes it
        QVERIFY(m_flow->emailCode().isEmpty());
        const EmailChallenge first = *m_flow->emailFlow().challenge;

        // Resend replaces only the challenge.
        m_flow->setEmailCode(QStringLiteral("12"));
        QVERIFY(finish(m_flow->resendRegistrationCode(first)));
        const EmailChallenge renewed = *m_flow->emailFlow().challenge;
        QVERIFY(renewed.challengeId != first.challengeId);
        QCOMPARE(m_flow->emailCode(), QStringLiteral("12"));

        // A wrong code leaves the step and the code, with the server's reason.
        QVERIFY(finish(m_flow->verifyRegistrationCode(renewed)));
        QCOMPARE(m_flow->emailFlow().kind, Kind::verifyRegistration);
        QCOMPARE(m_flow->emailCode(), QStringLiteral("12"));
        QCOMPARE(m_store->errorMessage().value_or(QString()), QStringLiteral("The code is wrong or has expired."));

        // The right one empties the password step, whatever was typed before.
        m_flow->setPassword(QStringLiteral("typed early"));
        m_flow->setConfirmPassword(QStringLiteral("typed early"));
        m_flow->setWantsTotpDuringRegistration(true);
        m_flow->setEmailCode(QStringLiteral(" 123456 "));
        QVERIFY(finish(m_flow->verifyRegistrationCode(renewed)));
        QCOMPARE(m_flow->emailFlow().kind, Kind::completeRegistration);
        QVERIFY(!m_flow->errorText());
        QVERIFY(m_flow->password().isEmpty());
        QVERIFY(m_flow->confirmPassword().isEmpty());
        QVERIFY(!m_flow->wantsTotpDuringRegistration());
        const EmailVerification verification = *m_flow->emailFlow().verification;

        m_flow->setPassword(strongPassword);
        m_flow->setConfirmPassword(strongPassword);
        m_flow->setWantsTotpDuringRegistration(true);
        QCOMPARE(m_flow->completeRegistrationButtonTitle(), QStringLiteral("Continue to 2FA"));
        m_flow->setMfaCode(QStringLiteral("stale"));
        QVERIFY(finish(m_flow->continueRegistration(verification)));
        QCOMPARE(m_flow->emailFlow().kind, Kind::registrationTotp);
        QVERIFY(m_flow->mfaCode().isEmpty());
        QCOMPARE(m_flow->password(), strongPassword);
        const TotpSetup setup = *m_flow->emailFlow().setup;
        QVERIFY(!m_store->isAuthenticated());

        const QString code = TestTotp::code(setup.secret);
        m_flow->setMfaCode(QStringLiteral("  ") + code);
        m_flow->setEmail(QStringLiteral("edited@example.com")); // not what is sent
        QVERIFY(finish(m_flow->completeRegistration(verification, setup)));
        const QJsonObject body = lastBody(FakeAuthBackend::completeRegistrationPath);
        QCOMPARE(body.value(QStringLiteral("email")).toString(), QStringLiteral("new@example.com"));
        QCOMPARE(body.value(QStringLiteral("password")).toString(), strongPassword);
        QCOMPARE(body.value(QStringLiteral("name")).toString(), QStringLiteral("Ada Lovelace"));
        const QJsonObject mfa = body.value(QStringLiteral("mfa")).toObject();
        QCOMPARE(mfa.value(QStringLiteral("type")).toString(), QStringLiteral("totp"));
        QCOMPARE(mfa.value(QStringLiteral("setupId")).toString(), setup.setupId);
        QCOMPARE(mfa.value(QStringLiteral("code")).toString(), code);
        QVERIFY(m_store->isAuthenticated());
        QVERIFY(m_auth->accountHasAuthenticator(QStringLiteral("new@example.com")));
    }

    void registrationWithoutAuthenticatorSendsNullMfa()
    {
        const EmailVerification verification = reachPasswordStep(QStringLiteral("plain@example.com"));
        m_flow->setPassword(strongPassword);
        m_flow->setConfirmPassword(strongPassword);
        QCOMPARE(m_flow->completeRegistrationButtonTitle(), QStringLiteral("Create account"));
        QVERIFY(finish(m_flow->continueRegistration(verification)));
        const QJsonObject body = lastBody(FakeAuthBackend::completeRegistrationPath);
        QVERIFY(body.contains(QStringLiteral("mfa")));
        QVERIFY(body.value(QStringLiteral("mfa")).isNull());
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::totpSetupPath)), 0);
        QVERIFY(m_store->isAuthenticated());
        QCOMPARE(m_flow->emailFlow().kind, Kind::completeRegistration);
    }

    // Another sign-in runs: every action clears the messages and is dropped.
    void requestsDroppedWhileAuthenticating_data()
    {
        QTest::addColumn<QString>("action");
        for (const char *action : {"login", "register", "verify", "resend", "continue to 2FA", "finish", "second factor"})
            QTest::newRow(action) << QString::fromLatin1(action);
    }

    void requestsDroppedWhileAuthenticating()
    {
        QFETCH(QString, action);
        m_flow->setEmail(QStringLiteral("ada@example.com"));
        m_flow->setName(QStringLiteral("Ada"));
        m_flow->setPassword(strongPassword);
        m_flow->setConfirmPassword(strongPassword);
        m_flow->setEmailCode(QStringLiteral("123456"));
        m_flow->setMfaCode(QStringLiteral("654321"));
        m_flow->setWantsTotpDuringRegistration(true);
        m_store->setIsAuthenticating(true);
        m_store->setActiveAuthenticationProvider(AuthenticationProvider::google);
        m_store->setErrorMessage(QStringLiteral("old server text"));
        m_flow->setLocalErrorMessage(QStringLiteral("old local text"));
        const EmailAuthFlow before = m_flow->emailFlow();

        TaskHandle<void> handle;
        if (action == QLatin1String("login"))
            handle = m_flow->loginWithEmail();
        else if (action == QLatin1String("register"))
            handle = m_flow->startRegistration();
        else if (action == QLatin1String("verify"))
            handle = m_flow->verifyRegistrationCode(EmailChallenge{QStringLiteral("c"), QStringLiteral("ada@example.com")});
        else if (action == QLatin1String("resend"))
            handle = m_flow->resendRegistrationCode(EmailChallenge{QStringLiteral("c"), QStringLiteral("ada@example.com")});
        else if (action == QLatin1String("continue to 2FA"))
            handle = m_flow->continueRegistration(EmailVerification{});
        else if (action == QLatin1String("finish"))
            handle = m_flow->completeRegistration(EmailVerification{}, TotpSetup{});
        else
            handle = m_flow->verifyLoginMfa(MfaChallenge{});
        QVERIFY(finish(handle));

        QVERIFY(!m_flow->errorText());
        QVERIFY(m_store->isAuthenticating());
        QCOMPARE(m_store->activeAuthenticationProvider(), std::optional(AuthenticationProvider::google));
        QCOMPARE(m_flow->emailFlow(), before);
        QCOMPARE(m_flow->mfaCode(), QStringLiteral("654321"));
        QVERIFY(m_backend->requests().isEmpty());
    }

    void messagesAndEnabling_data()
    {
        QTest::addColumn<bool>("authenticating");
        QTest::addColumn<int>("provider"); // -1: none
        QTest::addColumn<QString>("progress");
        QTest::addColumn<bool>("cancelLink");

        const QString google = QStringLiteral("КАВРЕЛ opened your default browser. Finish Google sign-in there and the app will activate again automatically.");
        QTest::newRow("idle") << false << -1 << QString() << false;
        QTest::newRow("e-mail") << true << int(AuthenticationProvider::email) << QStringLiteral("Checking your КАВРЕЛ account...") << false;
        QTest::newRow("google") << true << int(AuthenticationProvider::google) << google << true;
        QTest::newRow("apple") << true << int(AuthenticationProvider::apple) << QStringLiteral("Complete Apple sign-in in the system prompt.") << true;
        QTest::newRow("running without provider") << true << -1 << QString() << false;
        QTest::newRow("provider while idle") << false << int(AuthenticationProvider::microsoft) << QString() << false;
    }

    void messagesAndEnabling()
    {
        QFETCH(bool, authenticating);
        QFETCH(int, provider);
        QFETCH(QString, progress);
        QFETCH(bool, cancelLink);
        m_store->setIsAuthenticating(authenticating);
        if (provider >= 0)
            m_store->setActiveAuthenticationProvider(AuthenticationProvider(provider));
        QCOMPARE(m_flow->progressMessage().value_or(QString()), progress);
        QCOMPARE(m_flow->showsCancelSignIn(), cancelLink);
        QCOMPARE(m_flow->areActionsEnabled(), !authenticating);

        // One error line: the screen's own message first.
        m_store->setErrorMessage(QStringLiteral("server"));
        m_flow->setLocalErrorMessage(QStringLiteral("local"));
        QCOMPARE(*m_flow->errorText(), QStringLiteral("local"));
        m_flow->setLocalErrorMessage(std::nullopt);
        QCOMPARE(*m_flow->errorText(), QStringLiteral("server"));
    }

    // The screen is replaced (a language change rebuilds it) while a request runs: the
    // answer still settles the store, and nothing writes to the flow that is gone.
    void replacedScreenWritesNothingAfterItsRequest_data()
    {
        QTest::addColumn<bool>("throughStore");
        QTest::newRow("verify code, called directly") << false;
        QTest::newRow("login, through the store") << true;
    }

    void replacedScreenWritesNothingAfterItsRequest()
    {
        QFETCH(bool, throughStore);
        TaskHandle<void> handle;
        if (throughStore) {
            m_auth->addAccount(QStringLiteral("grace@example.com"), strongPassword, QStringLiteral("Grace"), true);
            m_flow->setEmail(QStringLiteral("grace@example.com"));
            m_flow->setPassword(strongPassword);
            m_auth->setReplyDelay(100);
            handle = m_flow->loginWithEmail();
        } else {
            m_flow->setName(QStringLiteral("Late"));
            m_flow->setEmail(QStringLiteral("late@example.com"));
            finish(m_flow->startRegistration());
            const EmailChallenge challenge = *m_flow->emailFlow().challenge;
            m_flow->setEmailCode(QString::fromLatin1(FakeAuthBackend::emailCode));
            m_auth->setReplyDelay(100);
            handle = m_flow->verifyRegistrationCode(challenge);
        }
        QVERIFY(handle.isValid());
        QVERIFY(m_store->isAuthenticating());
        m_flow.reset();
        QVERIFY(finish(handle));
        QVERIFY(!m_store->isAuthenticating());
        QVERIFY(!m_store->activeAuthenticationProvider());
        QVERIFY(!m_store->errorMessage());
    }
};

QTEST_GUILESS_MAIN(tst_EmailAuthFlowController)
#include "tst_EmailAuthFlowController.moc"
