#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "signin/EmailAuthFlowController.h"
#include "signin/ScriptedMicrophoneAuthorization.h"
#include "signin/widgets/AuthTextInput.h"
#include "signin/widgets/AuthenticationView.h"
#include "signin/widgets/KavrelRootView.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"
#include "support/TestTotp.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using Branch = KavrelRootView::Branch;
using Kind = EmailAuthFlow::Kind;

} // namespace

// A new user registers with an authenticator, passes the onboarding, signs out and signs in
// again with the second factor: all through the screens, against the fake backend.
class tst_SignInEndToEnd : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<KavrelRootView> m_root;

    AuthenticationView *signInScreen() const { return qobject_cast<AuthenticationView *>(m_root->currentScreen()); }

    template<typename T>
    T *control(const QString &name) const
    {
        T *found = m_root->currentScreen()->findChild<T *>(name);
        if (!found || !found->isVisibleTo(m_root.get()))
            qFatal("no visible control %s", qPrintable(name));
        return found;
    }

    void type(const QString &field, const QString &text) const
    {
        QLineEdit *edit = control<AuthInputFrame>(field)->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    void click(const QString &name) const { QTest::mouseClick(control<QAbstractButton>(name), Qt::LeftButton); }

    bool reaches(Kind kind) const
    {
        return FakeBackend::waitUntil([&] { return signInScreen() && signInScreen()->flow()->emailFlow().kind == kind; });
    }

    bool reaches(Branch branch) const
    {
        return FakeBackend::waitUntil([&] { return m_root->branch() == branch; });
    }

private Q_SLOTS:
    void registerThenSignInWithAuthenticator()
    {
        KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
        FakeBackend backend;
        QVERIFY(backend.start());
        FakeAuthBackend auth(&backend);
        std::unique_ptr<AuthService> service = TestAuth::signedInService(backend.baseUrl(), std::nullopt);
        AuthSessionStore store(service.get());
        UserDefaults defaults(m_dir.filePath(QStringLiteral("defaults.ini")));

        KavrelRootView::Dependencies dependencies;
        dependencies.authStore = &store;
        dependencies.defaults = &defaults;
        dependencies.makeWorkspace = [] {
            auto *workspace = new QLabel(QStringLiteral("workspace"));
            workspace->setObjectName(QStringLiteral("workspace"));
            return workspace;
        };
        dependencies.makePermissionsController = [] {
            auto authorization = std::make_shared<ScriptedAuthorization>();
            authorization->cached = MicrophoneAuthorization::Status::authorized;
            return std::make_unique<AppPermissionsController>(authorization);
        };
        m_root = std::make_unique<KavrelRootView>(dependencies);
        m_root->resize(1200, 820);
        m_root->show();
        QCOMPARE(m_root->branch(), Branch::restoring);
        QVERIFY(reaches(Branch::signedOut));

        // Register.
        click(QStringLiteral("Create account"));
        QVERIFY(reaches(Kind::registerAccount));
        type(QStringLiteral("Name"), QStringLiteral("Ada Lovelace"));
        type(QStringLiteral("Email"), QStringLiteral(" Ada@Example.com "));
        click(QStringLiteral("Send verification code"));
        QVERIFY(reaches(Kind::verifyRegistration));

        type(QStringLiteral("Verification code"), QString::fromLatin1(FakeAuthBackend::emailCode));
        click(QStringLiteral("Verify code"));
        QVERIFY(reaches(Kind::completeRegistration));

        type(QStringLiteral("Password"), QStringLiteral("Bright7$x"));
        type(QStringLiteral("Confirm password"), QStringLiteral("Bright7$x"));
        QTest::mouseClick(control<QCheckBox>(QStringLiteral("Set up 2FA before finishing")), Qt::LeftButton,
                          Qt::NoModifier, QPoint(8, 8));
        QVERIFY(signInScreen()->flow()->wantsTotpDuringRegistration());
        click(QStringLiteral("completeRegistration"));
        QVERIFY(reaches(Kind::registrationTotp));

        const QString secret = control<QLabel>(QStringLiteral("secret"))->text();
        QCOMPARE(secret, QString::fromLatin1(FakeAuthBackend::totpSecret));
        type(QStringLiteral("Authenticator code"), TestTotp::code(secret));
        click(QStringLiteral("Finish registration"));

        // Signed in: the onboarding first, once.
        QVERIFY(reaches(Branch::onboarding));
        QVERIFY(auth.accountHasAuthenticator(QStringLiteral("ada@example.com")));
        const QJsonObject completion = backend.requests(QString::fromLatin1(FakeAuthBackend::completeRegistrationPath)).last().json();
        QCOMPARE(completion.value(QStringLiteral("name")).toString(), QStringLiteral("Ada Lovelace"));
        QVERIFY(completion.value(QStringLiteral("mfa")).isObject());
        click(QStringLiteral("continueLater"));
        QVERIFY(reaches(Branch::workspace));

        // Out, and back in with the second factor.
        store.signOut();
        QVERIFY(reaches(Branch::signedOut));
        QVERIFY(!store.isAuthenticated());
        type(QStringLiteral("Email"), QStringLiteral("ada@example.com"));
        type(QStringLiteral("Password"), QStringLiteral("Bright7$x"));
        click(QStringLiteral("Sign in with email"));
        QVERIFY(reaches(Kind::loginMfa));
        type(QStringLiteral("Authenticator code"), TestTotp::code(secret));
        click(QStringLiteral("Verify and sign in"));
        QVERIFY(reaches(Branch::workspace));
        QCOMPARE(store.session()->user.email, QStringLiteral("ada@example.com"));
        QVERIFY(!store.isAuthenticating());

        // The session is kept for the next launch.
        AuthSessionStore relaunched(service.get());
        runTask(relaunched.restored());
        QVERIFY(relaunched.isAuthenticated());
        m_root.reset();
    }
};

QTEST_MAIN(tst_SignInEndToEnd)
#include "tst_SignInEndToEnd.moc"
