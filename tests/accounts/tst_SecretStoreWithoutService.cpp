#include "accounts/AuthService.h"
#include "platform/LibsecretSecretStore.h"
#include "support/TaskResult.h"

#include <QDir>
#include <QTest>

// Without a Secret Service the session lives in memory for the run and nothing is written
// to disk. Runs its own process, with a session bus address where nothing listens.
class SecretStoreWithoutServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Before the first D-Bus use of the process.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kavrel-test-bus");
    }

    void keepsTheSessionInMemory()
    {
        LibsecretSecretStore store(AuthService::secretStoreService());
        const QString account = QString::fromLatin1(AuthService::sessionAccount);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No Secret Service is available.*")));
        QVERIFY(!runTask(store.load(account)).value->has_value());
        QVERIFY(store.isUsingMemoryFallback());
        // Logged once, whatever follows.
        QVERIFY(runTask(store.save(QByteArray("session"), account)).succeeded());
        QCOMPARE(*runTask(store.load(account)).value, std::optional<QByteArray>("session"));
        QVERIFY(runTask(store.remove(account)).succeeded());
        QVERIFY(!runTask(store.load(account)).value->has_value());
    }
};

QTEST_GUILESS_MAIN(SecretStoreWithoutServiceTest)
#include "tst_SecretStoreWithoutService.moc"
