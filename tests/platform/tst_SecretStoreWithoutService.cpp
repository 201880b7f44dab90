#include "accounts/AuthService.h"
#include "platform/LibsecretSecretStore.h"
#include "support/TaskResult.h"

#include <QDir>
#include <QTest>

#include <gio/gio.h>
#include <libsecret/secret.h>

// Without a Secret Service the session lives in memory for the run and nothing is written
// to disk. Runs its own process, with a session bus address where nothing listens.
class tst_SecretStoreWithoutService : public QObject
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

    // Only a missing bus or service sends the session to memory for the run; a slow or
    // busy service fails one call and the keyring is tried again next time.
    void classifiesErrors_data()
    {
        QTest::addColumn<quint32>("domain");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("missing");
        QTest::newRow("service unknown") << quint32(G_DBUS_ERROR) << int(G_DBUS_ERROR_SERVICE_UNKNOWN) << true;
        QTest::newRow("name has no owner") << quint32(G_DBUS_ERROR) << int(G_DBUS_ERROR_NAME_HAS_NO_OWNER) << true;
        QTest::newRow("no bus") << quint32(G_IO_ERROR) << int(G_IO_ERROR_NOT_FOUND) << true;
        QTest::newRow("dbus time-out") << quint32(G_DBUS_ERROR) << int(G_DBUS_ERROR_TIMEOUT) << false;
        QTest::newRow("dbus timed out") << quint32(G_DBUS_ERROR) << int(G_DBUS_ERROR_TIMED_OUT) << false;
        QTest::newRow("no reply") << quint32(G_DBUS_ERROR) << int(G_DBUS_ERROR_NO_REPLY) << false;
        QTest::newRow("io timed out") << quint32(G_IO_ERROR) << int(G_IO_ERROR_TIMED_OUT) << false;
        QTest::newRow("prompt dismissed") << quint32(G_IO_ERROR) << int(G_IO_ERROR_CANCELLED) << false;
        QTest::newRow("locked collection") << quint32(SECRET_ERROR) << int(SECRET_ERROR_IS_LOCKED) << false;
    }

    void classifiesErrors()
    {
        QFETCH(quint32, domain);
        QFETCH(int, code);
        QFETCH(bool, missing);
        QCOMPARE(LibsecretSecretStore::meansServiceMissing(domain, code), missing);
    }
};

QTEST_GUILESS_MAIN(tst_SecretStoreWithoutService)
#include "tst_SecretStoreWithoutService.moc"
