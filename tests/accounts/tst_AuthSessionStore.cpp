#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "accounts/DesktopOAuthCallbackWaiter.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/InMemorySecretStore.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/RefusedPort.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString account = QString::fromLatin1(AuthService::sessionAccount);

// A secret store whose reads can fail, as a keyring does when D-Bus times out or the user
// dismisses its unlock prompt.
class FlakySecretStore final : public SecretStore
{
public:
    InMemorySecretStore items;
    bool failReads = false;

    QCoro::Task<std::optional<QByteArray>> load(QString name) override
    {
        if (failReads)
            throw SecretStoreError(QStringLiteral("Timeout was reached"));
        co_return items.value(name);
    }
    QCoro::Task<void> save(QByteArray data, QString name) override
    {
        items.setValue(name, data);
        co_return;
    }
    QCoro::Task<void> remove(QString name) override
    {
        items.removeValue(name);
        co_return;
    }
};

} // namespace

class tst_AuthSessionStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_auth;
    std::unique_ptr<AuthService> m_service;
    QDateTime m_now;
    const RefusedPort m_refusing;

    InMemorySecretStore *store() const { return TestAuth::secretStoreOf(m_service.get()); }

    QUrl closedPortUrl()
    {
        QUrl url = m_backend->baseUrl();
        url.setPort(m_refusing.port());
        return url;
    }

    void makeService(const QUrl &baseUrl)
    {
        m_service = TestAuth::signedInService(baseUrl, std::nullopt);
        m_service->setClock([this] { return m_now; });
    }

    AuthSession saveSession(qint64 secondsLeft)
    {
        AuthSession session = TestAuth::defaultSession();
        session.expiresAt = m_now.addSecs(secondsLeft);
        m_auth->registerSession(session);
        store()->setValue(account, session.toJsonBytes());
        return session;
    }

    std::unique_ptr<AuthSessionStore> restoredStore()
    {
        auto sessionStore = std::make_unique<AuthSessionStore>(m_service.get());
        runTask(sessionStore->restored());
        return sessionStore;
    }

private Q_SLOTS:
    void init()
    {
        m_backend = std::make_unique<FakeBackend>();
        QVERIFY(m_backend->start());
        m_auth = std::make_unique<FakeAuthBackend>(m_backend.get());
        m_now = QDateTime::currentDateTimeUtc();
        makeService(m_backend->baseUrl());
    }

    void cleanup()
    {
        m_service.reset();
        m_auth.reset();
        m_backend.reset();
    }

    void restore_data()
    {
        QTest::addColumn<qint64>("secondsLeft"); // 0: no saved session
        QTest::addColumn<QString>("backend");    // "fake", "down", "rejects", "fails"
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("itemKept");
        QTest::addColumn<QString>("message");

        const QString expired = AuthSessionStore::previousLoginExpiredText();
        QTest::newRow("nothing saved") << qint64(0) << "fake" << false << false << QString();
        QTest::newRow("valid for an hour") << qint64(3600) << "down" << true << true << QString();
        QTest::newRow("30 s left, refreshed") << qint64(30) << "fake" << true << true << QString();
        QTest::newRow("30 s left, refresh rejected") << qint64(30) << "rejects" << false << false << expired;
        QTest::newRow("expired, backend unreachable") << qint64(-600) << "down" << true << true << QString();
        QTest::newRow("30 s left, backend failing") << qint64(30) << "fails" << true << true << QString();
    }

    void restore()
    {
        QFETCH(qint64, secondsLeft);
        QFETCH(QString, backend);
        QFETCH(bool, signedIn);
        QFETCH(bool, itemKept);
        QFETCH(QString, message);
        if (backend == QLatin1String("down"))
            makeService(closedPortUrl());
        if (backend == QLatin1String("rejects"))
            m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::refreshPath),
                             FakeAuthBackend::errorReply(401, QStringLiteral("error_description"), QStringLiteral("Token revoked")));
        if (backend == QLatin1String("fails"))
            m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::refreshPath), FakeResponse::text(503, " \n"));
        if (secondsLeft != 0)
            saveSession(secondsLeft);

        AuthSessionStore sessionStore(m_service.get());
        QVERIFY(sessionStore.isRestoringSession());
        QVERIFY(!sessionStore.isAuthenticated());
        QSignalSpy restoring(&sessionStore, &AuthSessionStore::isRestoringSessionChanged);
        runTask(sessionStore.restored());
        QCOMPARE(restoring.count(), 1);
        QVERIFY(!sessionStore.isRestoringSession());
        QCOMPARE(sessionStore.isAuthenticated(), signedIn);
        QCOMPARE(store()->value(account).has_value(), itemKept);
        QCOMPARE(sessionStore.errorMessage().value_or(QString()), message);
        if (backend == QLatin1String("fake") && secondsLeft == 30)
            QVERIFY(sessionStore.session()->refreshToken != TestAuth::defaultSession().refreshToken);
    }

    void ensureActiveSession_data()
    {
        QTest::addColumn<qint64>("publishedSecondsLeft");
        QTest::addColumn<qint64>("savedSecondsLeft"); // 0: item missing
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<bool>("staysSignedIn");
        QTest::addColumn<bool>("itemKept");
        QTest::addColumn<QString>("message");

        const QString expired = QStringLiteral("[ru] Your login expired. Sign in again to continue.");
        QTest::newRow("fresh session") << qint64(3600) << qint64(3600) << "fake" << true << true << true << QString();
        QTest::newRow("item gone, published valid")
            << qint64(3600) << qint64(0) << "fake" << false << true << false << AuthService::signInRequiredText();
        QTest::newRow("near expiry, refresh rejected") << qint64(30) << qint64(30) << "rejects" << false << false << false << expired;
        QTest::newRow("near expiry, item gone") << qint64(30) << qint64(0) << "fake" << false << false << false << expired;
        QTest::newRow("near expiry, offline")
            << qint64(30) << qint64(30) << "down" << false << true << true << QStringLiteral("Could not connect to the server.");
    }

    void ensureActiveSession()
    {
        QFETCH(qint64, publishedSecondsLeft);
        QFETCH(qint64, savedSecondsLeft);
        QFETCH(QString, backend);
        QFETCH(bool, succeeds);
        QFETCH(bool, staysSignedIn);
        QFETCH(bool, itemKept);
        QFETCH(QString, message);

        if (backend == QLatin1String("down"))
            makeService(closedPortUrl());
        if (backend == QLatin1String("rejects"))
            m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::refreshPath),
                             FakeAuthBackend::errorReply(401, QStringLiteral("message"), QStringLiteral("Token revoked")));
        auto sessionStore = restoredStore();
        sessionStore->setLocalizer([](const QString &key) { return QStringLiteral("[ru] ") + key; });
        sessionStore->setErrorMessage(QStringLiteral("old message"));
        // The state a running program reaches: a published session and, maybe, its item.
        const AuthSession published = saveSession(publishedSecondsLeft);
        sessionStore->setSession(published);
        if (savedSecondsLeft == 0)
            store()->removeValue(account);

        const auto result = runTask(sessionStore->ensureActiveSession());
        QCOMPARE(result.succeeded(), succeeds);
        QCOMPARE(sessionStore->isAuthenticated(), staysSignedIn);
        QCOMPARE(store()->value(account).has_value(), itemKept);
        QCOMPARE(sessionStore->errorMessage().value_or(QString()), message);
        if (!succeeds && staysSignedIn)
            QCOMPARE(sessionStore->session(), std::optional<AuthSession>(published));
    }

    void expiredLoginTextIsLocalizedByDefault()
    {
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::refreshPath),
                         FakeAuthBackend::errorReply(401, QStringLiteral("message"), QStringLiteral("Token revoked")));
        auto sessionStore = restoredStore();
        sessionStore->setSession(saveSession(30));
        KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
        QVERIFY(!runTask(sessionStore->ensureActiveSession()).succeeded());
        QVERIFY(!sessionStore->isAuthenticated());
        const QString key = AuthSessionStore::loginExpiredKey();
        QCOMPARE(sessionStore->errorMessageText(), KavrelLocalizationStore::shared().localized(key));
        QVERIFY(sessionStore->errorMessageText() != key);
    }

    void followsEverySaveOfTheService()
    {
        saveSession(3600);
        auto sessionStore = restoredStore();
        const AuthSession restored = *sessionStore->session();

        // An hour on, the proxy (or billing, or history) asks for a token and gets it refreshed.
        m_now = m_now.addSecs(3590);
        m_auth->setSessionLifetimeSeconds(7200);
        const auto proxied = runTask(m_service->activeSession());
        QVERIFY2(proxied.succeeded(), qPrintable(proxied.errorText()));
        QVERIFY(proxied.value->refreshToken != restored.refreshToken);
        QCOMPARE(sessionStore->session(), std::optional<AuthSession>(*proxied.value));

        // The profile refresh starts from the live tokens.
        m_auth->setProfileOverride(QJsonObject{{QStringLiteral("display_name"), QStringLiteral("Countess")}});
        const auto profile = runTask(sessionStore->refreshCurrentUserProfile());
        QVERIFY2(profile.succeeded(), qPrintable(profile.errorText()));
        QCOMPARE(sessionStore->currentUser()->displayName, QStringLiteral("Countess"));
        QCOMPARE(sessionStore->session()->refreshToken, proxied.value->refreshToken);

        // Sign-out revokes the live refresh token.
        sessionStore->signOut();
        QVERIFY(FakeBackend::waitUntil([&] { return !sessionStore->isSigningOut(); }));
        QCOMPARE(m_backend->requests(QString::fromLatin1(FakeAuthBackend::logoutPath)).last().json().value(QStringLiteral("refresh_token")).toString(),
                 proxied.value->refreshToken);
        QVERIFY(!m_auth->isRefreshTokenValid(proxied.value->refreshToken));
        QVERIFY(!sessionStore->isAuthenticated());

        // A sign-in made outside the store (the second-factor screen) shows too, and so does
        // its removal.
        m_auth->addAccount(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906"), QStringLiteral("Grace"), false);
        QVERIFY(runTask(m_service->loginWithEmail(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906"))).succeeded());
        QCOMPARE(sessionStore->currentUser()->email, QStringLiteral("grace@example.org"));
        runTask(m_service->deleteSavedSession());
        QVERIFY(!sessionStore->isAuthenticated());
    }

    void unreadableSecretStoreKeepsTheItem()
    {
        auto *secrets = new FlakySecretStore();
        m_service = std::make_unique<AuthService>(TestAuth::configurationFor(m_backend->baseUrl()), secrets);
        m_service->setClock([this] { return m_now; });
        AuthSession session = TestAuth::defaultSession();
        session.expiresAt = m_now.addSecs(30);
        m_auth->registerSession(session);
        secrets->items.setValue(account, session.toJsonBytes());
        secrets->failReads = true;

        // At start-up: not signed in, but told why, and the item stays.
        AuthSessionStore sessionStore(m_service.get());
        runTask(sessionStore.restored());
        QVERIFY(!sessionStore.isRestoringSession());
        QVERIFY(!sessionStore.isAuthenticated());
        QCOMPARE(sessionStore.errorMessageText(), AuthService::readFailedText());
        QVERIFY(secrets->items.value(account));

        // Near expiry, before a backend action: the failure is reported, nothing is deleted.
        sessionStore.setSession(session);
        const auto result = runTask(sessionStore.ensureActiveSession());
        QCOMPARE(result.errorAs<SecretStoreError>()->message(), AuthService::readFailedText());
        QVERIFY(sessionStore.isAuthenticated());
        QCOMPARE(sessionStore.errorMessageText(), AuthService::readFailedText());
        QCOMPARE(secrets->items.value(account), std::optional<QByteArray>(session.toJsonBytes()));
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::refreshPath)), 0);

        // Once the keyring answers again, the same item signs the user in.
        secrets->failReads = false;
        QVERIFY(runTask(sessionStore.ensureActiveSession()).succeeded());
        QVERIFY(sessionStore.isAuthenticated());
        QVERIFY(!sessionStore.errorMessage());
    }

    void emailLoginGuardsAndPublishes()
    {
        m_auth->addAccount(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906"), QStringLiteral("Grace"), false);
        auto sessionStore = restoredStore();
        m_auth->setReplyDelay(100);
        AuthSessionStore *raw = sessionStore.get();
        auto first = spawnTask([raw](CancellationToken) {
            return raw->loginWithEmail(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906"));
        });
        QVERIFY(sessionStore->isAuthenticating());
        QCOMPARE(sessionStore->activeAuthenticationProvider(), std::optional<AuthenticationProvider>(AuthenticationProvider::email));
        // A second sign-in while the first runs is refused and changes nothing.
        const auto second = runTask(sessionStore->startEmailRegistration(QStringLiteral("x@y.z"), std::nullopt));
        QVERIFY(second.succeeded());
        QVERIFY(!*second.value);
        QVERIFY(sessionStore->isAuthenticating());
        QVERIFY(FakeBackend::waitUntil([&] { return first.isFinished(); }));
        QVERIFY(!sessionStore->isAuthenticating());
        QVERIFY(!sessionStore->activeAuthenticationProvider());
        QVERIFY(sessionStore->isAuthenticated());
        QCOMPARE(sessionStore->currentUser()->email, QStringLiteral("grace@example.org"));
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::registerPath)), 0);
    }

    void emailLoginOutcomes()
    {
        m_auth->addAccount(QStringLiteral("ada@example.org"), QStringLiteral("analytical"), QStringLiteral("Ada"), true);
        auto sessionStore = restoredStore();
        auto result = runTask(sessionStore->loginWithEmail(QStringLiteral("ada@example.org"), QStringLiteral("wrong")));
        QVERIFY(!*result.value);
        QCOMPARE(sessionStore->errorMessage(), std::optional<QString>(QStringLiteral("Wrong e-mail or password.")));
        QVERIFY(!sessionStore->isAuthenticating());

        result = runTask(sessionStore->loginWithEmail(QStringLiteral("ada@example.org"), QStringLiteral("analytical")));
        QCOMPARE((*result.value)->kind, EmailLoginResult::Kind::mfaRequired);
        QVERIFY(!sessionStore->errorMessage());
        QVERIFY(!sessionStore->isAuthenticating());
        QVERIFY(!sessionStore->isAuthenticated());
    }

    void cancelAbortsTheRunningStep()
    {
        m_auth->addAccount(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906"), QStringLiteral("Grace"), false);
        auto sessionStore = restoredStore();
        sessionStore->cancelAuthentication();
        QVERIFY(!sessionStore->errorMessage());

        m_auth->setReplyDelay(300);
        AuthSessionStore *raw = sessionStore.get();
        auto login = spawnTask([raw](CancellationToken) {
            return raw->loginWithEmail(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906"));
        });
        QVERIFY(FakeBackend::waitUntil([&] { return m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::loginPath)) == 1; }));
        sessionStore->cancelAuthentication();
        QVERIFY(!sessionStore->isAuthenticating());
        QCOMPARE(sessionStore->errorMessage(), std::optional<QString>(QStringLiteral("Sign-in was canceled.")));
        QVERIFY(FakeBackend::waitUntil([&] { return login.isFinished(); }));
        QTest::qWait(400);
        QVERIFY(!sessionStore->isAuthenticated());
        QVERIFY(!store()->value(account));
        QCOMPARE(sessionStore->errorMessage(), std::optional<QString>(QStringLiteral("Sign-in was canceled.")));
    }

    void cancelEndsAWaitingProviderSignIn()
    {
        auto sessionStore = restoredStore();
        auto *waiter = new DesktopOAuthCallbackWaiter();
        m_service->setActiveDesktopCallbackWaiter(waiter);
        sessionStore->setIsAuthenticating(true);
        sessionStore->setActiveAuthenticationProvider(AuthenticationProvider::google);
        auto wait = spawnTask([waiter](CancellationToken) { return waiter->waitForCallback(); });
        sessionStore->cancelAuthentication();
        QVERIFY(!m_service->activeDesktopCallbackWaiter());
        QVERIFY(FakeBackend::waitUntil([&] { return wait.isFinished(); }));
        const auto result = runTask([](TaskHandle<QUrl> handle) -> QCoro::Task<QUrl> {
            QUrl url = co_await handle.result();
            co_return url;
        }(wait));
        QVERIFY(result.isCancellation());
        QVERIFY(!sessionStore->activeAuthenticationProvider());
    }

    void signOutOnce()
    {
        const AuthSession session = saveSession(3600);
        auto sessionStore = restoredStore();
        QVERIFY(sessionStore->isAuthenticated());
        sessionStore->signOut();
        sessionStore->signOut();
        QVERIFY(sessionStore->isSigningOut());
        QVERIFY(sessionStore->isAuthenticated()); // until the server call has finished
        QVERIFY(FakeBackend::waitUntil([&] { return !sessionStore->isSigningOut(); }));
        QVERIFY(!sessionStore->isAuthenticated());
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::logoutPath)), 1);
        QCOMPARE(m_backend->requests(QString::fromLatin1(FakeAuthBackend::logoutPath)).first().header("Authorization"),
                 "Bearer " + session.accessToken.toUtf8());
        QVERIFY(!store()->value(account));
        QVERIFY(!m_auth->isRefreshTokenValid(session.refreshToken));

        // Without a session it still clears the item.
        store()->setValue(account, QByteArray("stale"));
        sessionStore->signOut();
        QVERIFY(FakeBackend::waitUntil([&] { return !sessionStore->isSigningOut(); }));
        QVERIFY(!store()->value(account));
        QCOMPARE(m_backend->requests(QString::fromLatin1(FakeAuthBackend::logoutPath)).last().headerCount("Authorization"), 0);
    }

    void profileRefreshPublishes()
    {
        saveSession(30);
        auto sessionStore = restoredStore();
        AuthSession nearExpiry = *sessionStore->session();
        nearExpiry.expiresAt = m_now.addSecs(20);
        sessionStore->setSession(nearExpiry);
        m_auth->setProfileOverride(QJsonObject{{QStringLiteral("display_name"), QStringLiteral("Countess of Lovelace")}});
        const auto result = runTask(sessionStore->refreshCurrentUserProfile());
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(sessionStore->currentUser()->displayName, QStringLiteral("Countess of Lovelace"));
        // The near-expiry session was refreshed first, so the profile request used a live token.
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::refreshPath)), 2);
        QVERIFY(sessionStore->session()->accessToken != nearExpiry.accessToken);
    }
};

QTEST_GUILESS_MAIN(tst_AuthSessionStore)
#include "tst_AuthSessionStore.moc"
