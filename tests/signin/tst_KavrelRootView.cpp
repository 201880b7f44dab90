#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "signin/ScriptedMicrophoneAuthorization.h"
#include "signin/widgets/AuthTextInput.h"
#include "signin/widgets/AuthenticationLoadingView.h"
#include "signin/widgets/AuthenticationView.h"
#include "signin/widgets/KavrelRootView.h"
#include "signin/widgets/PermissionsOnboardingView.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using Branch = KavrelRootView::Branch;

const QString versionKey = QString::fromLatin1(KavrelRootView::onboardingVersionKey);

} // namespace

class tst_KavrelRootView : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_auth;
    std::unique_ptr<AuthService> m_service;
    std::unique_ptr<AuthSessionStore> m_store;
    int m_workspacesMade = 0;

    std::unique_ptr<KavrelRootView> makeRoot()
    {
        KavrelRootView::Dependencies dependencies;
        dependencies.authStore = m_store.get();
        dependencies.defaults = m_defaults.get();
        dependencies.makeWorkspace = [this] {
            ++m_workspacesMade;
            auto *workspace = new QLabel(QStringLiteral("workspace"));
            workspace->setObjectName(QStringLiteral("workspace"));
            return workspace;
        };
        dependencies.makePermissionsController = [] {
            auto authorization = std::make_shared<ScriptedAuthorization>();
            authorization->cached = MicrophoneAuthorization::Status::denied;
            return std::make_unique<AppPermissionsController>(authorization);
        };
        auto root = std::make_unique<KavrelRootView>(dependencies);
        root->resize(1200, 800);
        root->show();
        return root;
    }

    // Lets replaced screens go (they are deleted on the next turn).
    static void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private Q_SLOTS:
    void init()
    {
        KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("defaults-%1.ini").arg(QTest::currentTestFunction())));
        m_defaults->remove(versionKey);
        m_backend = std::make_unique<FakeBackend>();
        QVERIFY(m_backend->start());
        m_auth = std::make_unique<FakeAuthBackend>(m_backend.get());
        m_service = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
        m_store = std::make_unique<AuthSessionStore>(m_service.get());
        m_workspacesMade = 0;
    }

    void cleanup()
    {
        m_store.reset();
        m_service.reset();
        m_auth.reset();
        m_backend.reset();
        m_defaults.reset();
    }

    void branchFor_data()
    {
        QTest::addColumn<bool>("restoring");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<qint64>("version");
        QTest::addColumn<Branch>("branch");

        QTest::newRow("restoring wins over a session") << true << true << qint64(1) << Branch::restoring;
        QTest::newRow("signed out") << false << false << qint64(1) << Branch::signedOut;
        QTest::newRow("never onboarded") << false << true << qint64(0) << Branch::onboarding;
        QTest::newRow("negative version") << false << true << qint64(-1) << Branch::onboarding;
        QTest::newRow("onboarded") << false << true << qint64(1) << Branch::workspace;
        QTest::newRow("later version") << false << true << qint64(2) << Branch::workspace;
    }

    void branchFor()
    {
        QFETCH(bool, restoring);
        QFETCH(bool, signedIn);
        QFETCH(qint64, version);
        QFETCH(Branch, branch);
        QCOMPARE(KavrelRootView::branchFor(restoring, signedIn, version), branch);
    }

    // From launch to the workspace and back out: each change of the choice makes a fresh
    // screen, and nothing else does.
    void followsTheStoreAndTheSetting()
    {
        m_store->setSession(TestAuth::defaultSession()); // published before the restore ends
        auto root = makeRoot();
        QCOMPARE(root->branch(), Branch::restoring);
        QVERIFY(qobject_cast<AuthenticationLoadingView *>(root->currentScreen()));

        runTask(m_store->restored());
        QCOMPARE(root->branch(), Branch::onboarding);
        auto *onboarding = qobject_cast<PermissionsOnboardingView *>(root->currentScreen());
        QVERIFY(onboarding);
        QPointer<AppPermissionsController> controller = onboarding->permissionsController();

        QTest::mouseClick(onboarding->findChild<QAbstractButton *>(QStringLiteral("openKavrel")), Qt::LeftButton);
        QCOMPARE(m_defaults->integerValue(versionKey), std::optional<qint64>(1));
        QCOMPARE(root->branch(), Branch::workspace);
        QCOMPARE(root->currentScreen()->objectName(), QStringLiteral("workspace"));
        settle();
        QVERIFY(!controller); // released with the onboarding

        m_store->signOut();
        QVERIFY(FakeBackend::waitUntil([&] { return root->branch() == Branch::signedOut; }));
        QVERIFY(qobject_cast<AuthenticationView *>(root->currentScreen()));

        // Another account signs in: straight to a new workspace, no onboarding.
        AuthSession other = TestAuth::defaultSession();
        other.user.email = QStringLiteral("grace@example.com");
        m_store->setSession(other);
        QCOMPARE(root->branch(), Branch::workspace);
        QCOMPARE(m_workspacesMade, 2);
        QCOMPARE(m_defaults->integerValue(versionKey), std::optional<qint64>(1));
    }

    void formSurvivesStoreSignals()
    {
        runTask(m_store->restored());
        auto root = makeRoot();
        QPointer<QWidget> screen = root->currentScreen();
        QVERIFY(qobject_cast<AuthenticationView *>(screen.data()));
        auto *email = screen->findChild<AuthTextInput *>(QStringLiteral("Email"));
        QTest::keyClicks(email->lineEdit(), QStringLiteral("half@typed"));

        m_store->setErrorMessage(QStringLiteral("Wrong e-mail or password."));
        m_store->setIsAuthenticating(true);
        m_store->setActiveAuthenticationProvider(AuthenticationProvider::google);
        m_store->cancelAuthentication();
        m_store->setErrorMessage(std::nullopt);
        settle();
        QCOMPARE(root->currentScreen(), screen.data());
        QCOMPARE(email->lineEdit()->text(), QStringLiteral("half@typed"));

        // A new language rebuilds the same screen from its initial state.
        KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
        settle();
        QVERIFY(!screen);
        QCOMPARE(root->branch(), Branch::signedOut);
        auto *rebuilt = root->currentScreen()->findChild<AuthTextInput *>(QStringLiteral("Email"));
        QVERIFY(rebuilt->lineEdit()->text().isEmpty());
        KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    }

    void signOutDuringOnboardingKeepsItPending()
    {
        runTask(m_store->restored());
        m_store->setSession(TestAuth::defaultSession());
        auto root = makeRoot();
        QCOMPARE(root->branch(), Branch::onboarding);
        m_store->signOut();
        QVERIFY(FakeBackend::waitUntil([&] { return root->branch() == Branch::signedOut; }));
        QVERIFY(!m_defaults->contains(versionKey));
        m_store->setSession(TestAuth::defaultSession());
        QCOMPARE(root->branch(), Branch::onboarding);

        // A value written from elsewhere is followed at once.
        m_defaults->setInteger(versionKey, 3);
        QCOMPARE(root->branch(), Branch::workspace);
    }
};

QTEST_MAIN(tst_KavrelRootView)
#include "tst_KavrelRootView.moc"
