#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "signin/EmailAuthFlowController.h"
#include "signin/ScriptedMicrophoneAuthorization.h"
#include "signin/widgets/AuthMessageStrip.h"
#include "kit/widgets/KavrelIconButton.h"
#include "signin/widgets/AuthPasswordInput.h"
#include "signin/widgets/AuthTextInput.h"
#include "signin/widgets/AuthenticationView.h"
#include "signin/widgets/KavrelRootView.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"
#include "support/TestTotp.h"
#include "support/X11TestMain.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <memory>

namespace {

using Branch = KavrelRootView::Branch;
using Kind = EmailAuthFlow::Kind;

// The fake backend, where Grace has an account with an authenticator, and the store the screens
// sign in with.
struct Accounts
{
    FakeBackend backend;
    std::unique_ptr<FakeAuthBackend> auth;
    std::unique_ptr<AuthService> service;
    std::unique_ptr<AuthSessionStore> store;

    bool start()
    {
        if (!backend.start())
            return false;
        auth = std::make_unique<FakeAuthBackend>(&backend);
        auth->addAccount(QStringLiteral("grace@example.com"), QStringLiteral("Bright7$x"), QStringLiteral("Grace"), true);
        service = TestAuth::signedInService(backend.baseUrl(), std::nullopt);
        store = std::make_unique<AuthSessionStore>(service.get());
        return true;
    }
};

// How a client on the accessibility bus (an on-screen keyboard, dictation) writes into a field.
enum class BusWrite { setContents, insertWithByteLength, setValue };

} // namespace

Q_DECLARE_METATYPE(BusWrite)

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

    // Writes into a field through its accessible text, as a client on the bus does.
    void write(const QString &field, const QString &text, BusWrite how) const
    {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control<AuthInputFrame>(field)->lineEdit());
        QAccessibleEditableTextInterface *edits = accessible->editableTextInterface();
        const int count = accessible->textInterface()->characterCount();
        switch (how) {
        case BusWrite::setContents:
            edits->replaceText(0, count, text);
            break;
        case BusWrite::insertWithByteLength: {
            // The length in UTF-8 bytes, which Qt's bridge takes for characters and pads to.
            QString padded = text;
            padded.resize(text.toUtf8().size(), QChar(0));
            edits->deleteText(0, count);
            edits->insertText(0, padded);
            break;
        }
        case BusWrite::setValue:
            accessible->setText(QAccessible::Value, text);
            break;
        }
    }

    bool reaches(Kind kind) const
    {
        return FakeBackend::waitUntil([&] { return signInScreen() && signInScreen()->flow()->emailFlow().kind == kind; });
    }

    bool reaches(Branch branch) const
    {
        return FakeBackend::waitUntil([&] { return m_root->branch() == branch; });
    }

    void makeRoot(AuthSessionStore *store, UserDefaults *defaults)
    {
        KavrelRootView::Dependencies dependencies;
        dependencies.authStore = store;
        dependencies.defaults = defaults;
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
    }

    // Keys go to the window, which hands them to whatever has the focus, as a keyboard's do.
    QWindow *window() const { return m_root->windowHandle(); }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        QTest::keyClick(window(), key, modifiers);
    }
    void typeHere(const QString &text) const
    {
        for (const char character : text.toLatin1())
            QTest::keyClick(window(), character);
    }
    void retypeHere(const QString &text) const
    {
        key(Qt::Key_A, Qt::ControlModifier);
        typeHere(text);
    }

    // The field that has the keyboard, or what else has it.
    static QString focused()
    {
        QWidget *widget = QApplication::focusWidget();
        for (QWidget *step = widget; step; step = step->parentWidget()) {
            if (auto *field = qobject_cast<AuthInputFrame *>(step))
                return field->objectName();
        }
        return widget ? QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(widget->metaObject()->className()),
                                                         widget->objectName())
                      : QStringLiteral("nothing");
    }

    QString shownError() const
    {
        const auto *strip = m_root->currentScreen()->findChild<AuthMessageStrip *>(QStringLiteral("errorStrip"));
        return strip && strip->isVisibleTo(m_root.get()) ? strip->text() : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
        // As in the program: a client on the bus reaches the fields through the kit's interfaces.
        KavrelAccessibleFactory::install();
    }

    void everyStepTakesWhatTheBusWrites_data()
    {
        QTest::addColumn<BusWrite>("how");
        QTest::newRow("text set") << BusWrite::setContents;
        QTest::newRow("inserted with its length in bytes") << BusWrite::insertWithByteLength;
        QTest::newRow("value set") << BusWrite::setValue;
    }

    // What a client on the accessibility bus writes into a step's fields is taken as typed: the
    // step checks it, sends it and moves on, with no error on the way.
    void everyStepTakesWhatTheBusWrites()
    {
        QFETCH(BusWrite, how);
        Accounts accounts;
        QVERIFY(accounts.start());
        AuthSessionStore &store = *accounts.store;
        // Settings of its own: the onboarding shows once for them.
        UserDefaults defaults(m_dir.filePath(QStringLiteral("bus-%1.ini").arg(int(how))));
        makeRoot(&store, &defaults);
        QVERIFY(reaches(Branch::signedOut));

        click(QStringLiteral("Create account"));
        QVERIFY(reaches(Kind::registerAccount));
        write(QStringLiteral("Name"), QStringLiteral("Ада Лавлейс"), how);
        write(QStringLiteral("Email"), QStringLiteral(" Ada@Example.com "), how);
        click(QStringLiteral("Send verification code"));
        QVERIFY2(reaches(Kind::verifyRegistration), qPrintable(shownError()));
        write(QStringLiteral("Verification code"), QString::fromLatin1(FakeAuthBackend::emailCode), how);
        click(QStringLiteral("Verify code"));
        QVERIFY2(reaches(Kind::completeRegistration), qPrintable(shownError()));
        write(QStringLiteral("Password"), QStringLiteral("Пароль7$x"), how);
        write(QStringLiteral("Confirm password"), QStringLiteral("Пароль7$x"), how);
        click(QStringLiteral("completeRegistration"));
        QVERIFY2(reaches(Branch::onboarding), qPrintable(shownError()));
        const QJsonObject completion =
            accounts.backend.requests(QString::fromLatin1(FakeAuthBackend::completeRegistrationPath)).last().json();
        QCOMPARE(completion.value(QStringLiteral("name")).toString(), QStringLiteral("Ада Лавлейс"));
        QCOMPARE(completion.value(QStringLiteral("email")).toString(), QStringLiteral("ada@example.com"));
        QCOMPARE(completion.value(QStringLiteral("password")).toString(), QStringLiteral("Пароль7$x"));
        click(QStringLiteral("continueLater"));
        QVERIFY(reaches(Branch::workspace));

        // Out, and in again with the second factor.
        store.signOut();
        QVERIFY(reaches(Branch::signedOut));
        write(QStringLiteral("Email"), QStringLiteral("grace@example.com"), how);
        write(QStringLiteral("Password"), QStringLiteral("Bright7$x"), how);
        click(QStringLiteral("Sign in with email"));
        QVERIFY2(reaches(Kind::loginMfa), qPrintable(shownError()));
        write(QStringLiteral("Authenticator code"), TestTotp::code(QString::fromLatin1(FakeAuthBackend::totpSecret)), how);
        click(QStringLiteral("Verify and sign in"));
        QVERIFY2(reaches(Branch::workspace), qPrintable(shownError()));
        QCOMPARE(store.session()->user.email, QStringLiteral("grace@example.com"));
        m_root.reset();
    }

    void registerThenSignInWithAuthenticator()
    {
        FakeBackend backend;
        QVERIFY(backend.start());
        FakeAuthBackend auth(&backend);
        std::unique_ptr<AuthService> service = TestAuth::signedInService(backend.baseUrl(), std::nullopt);
        AuthSessionStore store(service.get());
        UserDefaults defaults(m_dir.filePath(QStringLiteral("defaults.ini")));
        makeRoot(&store, &defaults);
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

    // Sign-in and registration from the keyboard alone, on a real window: every step puts the
    // keyboard in its first empty field, Return submits and Escape goes back from the window
    // as it stands after the change, errors included. Keys are never sent to a chosen widget.
    void keyboardAloneThroughEveryStep()
    {
        if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
            QSKIP("no X server: run under scripts/test, which starts Xvfb with openbox");
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        Accounts accounts;
        QVERIFY(accounts.start());
        FakeAuthBackend &auth = *accounts.auth;
        AuthSessionStore &store = *accounts.store;
        UserDefaults defaults(m_dir.filePath(QStringLiteral("keyboard.ini")));
        makeRoot(&store, &defaults);
        QVERIFY(QTest::qWaitForWindowActive(m_root.get()));
        QVERIFY(reaches(Branch::signedOut));

        // The first start: the e-mail field has the keyboard, not the "Create account" link.
        QCOMPARE(focused(), QStringLiteral("Email"));
        key(Qt::Key_Escape); // no way back from here
        QCOMPARE(signInScreen()->flow()->emailFlow().kind, Kind::signIn);
        key(Qt::Key_Return); // nothing typed: the error, and the keyboard stays
        QVERIFY(!shownError().isEmpty());
        QCOMPARE(focused(), QStringLiteral("Email"));

        // To the registration by the link, from the keyboard.
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focused(), QStringLiteral("KavrelLinkButton \"Create account\""));
        key(Qt::Key_Return);
        QVERIFY(reaches(Kind::registerAccount));
        QCOMPARE(focused(), QStringLiteral("Name"));
        typeHere(QStringLiteral("Ada"));
        key(Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("Email"));
        typeHere(QStringLiteral("ada@exmaple.com"));
        key(Qt::Key_Return);
        QVERIFY(reaches(Kind::verifyRegistration));
        QCOMPARE(focused(), QStringLiteral("Verification code"));
        typeHere(QStringLiteral("12"));

        // The typo is noticed: back with Escape, the name and e-mail kept.
        key(Qt::Key_Escape);
        QVERIFY(reaches(Kind::registerAccount));
        QCOMPARE(focused(), QStringLiteral("Name"));
        QCOMPARE(signInScreen()->flow()->email(), QStringLiteral("ada@exmaple.com"));
        key(Qt::Key_Tab);
        retypeHere(QStringLiteral("ada@example.com"));
        key(Qt::Key_Enter);
        QVERIFY(reaches(Kind::verifyRegistration));
        QCOMPARE(signInScreen()->flow()->emailFlow().challenge->email, QStringLiteral("ada@example.com"));
        QCOMPARE(focused(), QStringLiteral("Verification code"));
        typeHere(QStringLiteral("000000"));
        QVERIFY(shownError().isEmpty());
        key(Qt::Key_Return); // a wrong code: the error, the step and the keyboard stay
        QVERIFY(FakeBackend::waitUntil([&] { return !shownError().isEmpty() && !store.isAuthenticating(); }));
        QCOMPARE(signInScreen()->flow()->emailFlow().kind, Kind::verifyRegistration);
        QCOMPARE(focused(), QStringLiteral("Verification code"));
        retypeHere(QString::fromLatin1(FakeAuthBackend::emailCode));
        key(Qt::Key_Return);
        QVERIFY(reaches(Kind::completeRegistration));
        QCOMPARE(focused(), QStringLiteral("Password"));

        // The password step's way back, and forward again.
        key(Qt::Key_Escape);
        QVERIFY(reaches(Kind::registerAccount));
        key(Qt::Key_Return);
        QVERIFY(reaches(Kind::verifyRegistration));
        typeHere(QString::fromLatin1(FakeAuthBackend::emailCode));
        key(Qt::Key_Return);
        QVERIFY(reaches(Kind::completeRegistration));
        QCOMPARE(focused(), QStringLiteral("Password"));
        typeHere(QStringLiteral("Bright7$x"));
        // The eye beside the password is the next stop: Space shows the password, and again hides it.
        key(Qt::Key_Tab);
        auto *password = qobject_cast<AuthPasswordInput *>(QApplication::focusWidget()->parentWidget());
        QVERIFY(password);
        QCOMPARE(QApplication::focusWidget(), password->visibilityButton());
        key(Qt::Key_Space);
        QVERIFY(password->isPasswordVisible());
        key(Qt::Key_Space);
        QVERIFY(!password->isPasswordVisible());
        key(Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("Confirm password"));
        typeHere(QStringLiteral("Bright7$x"));
        key(Qt::Key_Tab); // its eye
        QVERIFY(qobject_cast<KavrelIconButton *>(QApplication::focusWidget()));
        key(Qt::Key_Tab);
        key(Qt::Key_Space); // the authenticator box
        QVERIFY(signInScreen()->flow()->wantsTotpDuringRegistration());
        key(Qt::Key_Return);
        QVERIFY(reaches(Kind::registrationTotp));
        QCOMPARE(focused(), QStringLiteral("Authenticator code"));
        const QString secret = QString::fromLatin1(FakeAuthBackend::totpSecret);
        typeHere(TestTotp::code(secret));
        key(Qt::Key_Return);
        QVERIFY(reaches(Branch::onboarding));
        QVERIFY(auth.accountHasAuthenticator(QStringLiteral("ada@example.com")));
        click(QStringLiteral("continueLater"));
        QVERIFY(reaches(Branch::workspace));

        // Signed out, the fresh screen has the keyboard in its e-mail field again.
        store.signOut();
        QVERIFY(reaches(Branch::signedOut));
        QCOMPARE(focused(), QStringLiteral("Email"));
        typeHere(QStringLiteral("grace@example.com"));
        key(Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("Password"));
        typeHere(QStringLiteral("Wrong7$x"));
        QVERIFY(shownError().isEmpty());
        key(Qt::Key_Return); // refused by the server: the error, and the keyboard stays
        QVERIFY(FakeBackend::waitUntil([&] { return !shownError().isEmpty() && !store.isAuthenticating(); }));
        QCOMPARE(focused(), QStringLiteral("Password"));
        retypeHere(QStringLiteral("Bright7$x"));
        key(Qt::Key_Return);
        QVERIFY(reaches(Kind::loginMfa));
        QCOMPARE(focused(), QStringLiteral("Authenticator code"));
        typeHere(QStringLiteral("12"));
        key(Qt::Key_Escape);
        QVERIFY(reaches(Kind::signIn));
        QCOMPARE(signInScreen()->flow()->password(), QStringLiteral("Bright7$x"));
        QCOMPARE(focused(), QStringLiteral("Email")); // nothing empty: the first field
        key(Qt::Key_Return);
        QVERIFY(reaches(Kind::loginMfa));
        QCOMPARE(focused(), QStringLiteral("Authenticator code"));
        typeHere(TestTotp::code(secret));
        key(Qt::Key_Return);
        QVERIFY(reaches(Branch::workspace));
        QCOMPARE(store.session()->user.email, QStringLiteral("grace@example.com"));
        m_root.reset();
    }
};

// The keyboard's way through the screens depends on a real window system's focus: the tests
// run on the test services' X server with its window manager.
KAVREL_X11_TEST_MAIN(tst_SignInEndToEnd, "KAVREL_TEST_X11")
#include "tst_SignInEndToEnd.moc"
