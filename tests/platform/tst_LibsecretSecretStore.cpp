#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "platform/LibsecretSecretStore.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QProcess>
#include <QTest>

// Runs against the real Secret Service that scripts/with-test-services starts (a private
// gnome-keyring); other tests cover the same code paths through the in-memory store.
class tst_LibsecretSecretStore : public QObject
{
    Q_OBJECT

private:
    QString m_service;

    // What secret-tool, an independent client, finds for the item.
    static QByteArray lookedUpBySecretTool(const QString &service, const QString &account)
    {
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"),
                   {QStringLiteral("lookup"), QStringLiteral("service"), service, QStringLiteral("account"), account});
        if (!tool.waitForFinished(10000))
            return QByteArray("<secret-tool did not finish>");
        return tool.readAllStandardOutput();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariable("KAVREL_TEST_SECRET_SERVICE") != QLatin1String("1"))
            QSKIP("SKIPPED LOUDLY: no private Secret Service; run under scripts/with-test-services (KAVREL_TEST_SECRET_SERVICE=1)");
        m_service = AuthService::secretStoreService() + QStringLiteral(".test-") + QString::number(QCoreApplication::applicationPid());
    }

    void storeReadReplaceDelete()
    {
        LibsecretSecretStore store(m_service);
        const QString account = QString::fromLatin1(AuthService::sessionAccount);
        QVERIFY(!runTask(store.load(account)).value->has_value());

        const QByteArray first = TestAuth::defaultSession().toJsonBytes();
        QVERIFY(runTask(store.save(first, account)).succeeded());
        QCOMPARE(*runTask(store.load(account)).value, std::optional<QByteArray>(first));
        QVERIFY(!store.isUsingMemoryFallback());

        AuthSession second = TestAuth::defaultSession();
        second.accessToken = QStringLiteral("replaced-access-token");
        QVERIFY(runTask(store.save(second.toJsonBytes(), account)).succeeded());
        QCOMPARE(*runTask(store.load(account)).value, std::optional<QByteArray>(second.toJsonBytes()));

        // One item, replaced in place, visible to other Secret Service clients.
        QProcess search;
        search.start(QStringLiteral("secret-tool"), {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("service"),
                                                     m_service, QStringLiteral("account"), account});
        QVERIFY(search.waitForFinished(10000));
        const QByteArray listing = search.readAllStandardOutput() + search.readAllStandardError();
        QCOMPARE(listing.count("secret = "), 1);
        QCOMPARE(lookedUpBySecretTool(m_service, account), second.toJsonBytes());

        // Another account of the same service is separate.
        QVERIFY(runTask(store.save(QByteArray("other"), QStringLiteral("other-account"))).succeeded());
        QCOMPARE(*runTask(store.load(account)).value, std::optional<QByteArray>(second.toJsonBytes()));

        QVERIFY(runTask(store.remove(account)).succeeded());
        QVERIFY(!runTask(store.load(account)).value->has_value());
        QVERIFY(runTask(store.remove(account)).succeeded()); // an absent item is no error
        QCOMPARE(*runTask(store.load(QStringLiteral("other-account"))).value, std::optional<QByteArray>("other"));
        runTask(store.remove(QStringLiteral("other-account")));
    }

    void shutdownEndsPendingCallsWithCancellation()
    {
        const QString account = QString::fromLatin1(AuthService::sessionAccount);
        auto *store = new LibsecretSecretStore(m_service);
        auto load = spawnTask([store, account](CancellationToken) -> QCoro::Task<void> {
            co_await store->load(account);
        });
        auto save = spawnTask([store, account](CancellationToken) { return store->save(QByteArray("x"), account); });
        delete store;
        QVERIFY(FakeBackend::waitUntil([&] { return load.isFinished() && save.isFinished(); }));
        for (const TaskHandle<void> &call : {load, save}) {
            const auto result = runTask([](TaskHandle<void> handle) -> QCoro::Task<void> { co_await handle.result(); }(call));
            QVERIFY(result.isCancellation());
        }
        LibsecretSecretStore cleanup(m_service);
        runTask(cleanup.remove(account));
    }

    void signInSurvivesARestart()
    {
        const QString account = QString::fromLatin1(AuthService::sessionAccount);
        {
            auto *store = new LibsecretSecretStore(m_service);
            AuthService service(TestAuth::configurationFor(QUrl(QStringLiteral("http://127.0.0.1:1"))), store);
            QVERIFY(runTask(store->save(TestAuth::defaultSession().toJsonBytes(), account)).succeeded());
        }
        // A new process would build everything anew: the session is read back from the keyring.
        auto *store = new LibsecretSecretStore(m_service);
        AuthService service(TestAuth::configurationFor(QUrl(QStringLiteral("http://127.0.0.1:1"))), store);
        AuthSessionStore sessionStore(&service);
        runTask(sessionStore.restored());
        QVERIFY(sessionStore.isAuthenticated());
        QCOMPARE(*sessionStore.session(), TestAuth::defaultSession());
        QVERIFY(runTask(service.logout(std::nullopt, std::nullopt)).succeeded());
        QVERIFY(!runTask(store->load(account)).value->has_value());
    }
};

QTEST_GUILESS_MAIN(tst_LibsecretSecretStore)
#include "tst_LibsecretSecretStore.moc"
