#include "app/KavrelSingleInstance.h"
#include "app/widgets/KavrelAlreadyRunningNotice.h"
#include "localization/KavrelLocalizationStore.h"
#include "support/Screenshots.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A second start of the program hands its request to the first over the user's local socket.
// The second start runs on a thread of its own here, as it would in its own process: it waits
// for the socket while the first one's event loop answers. A second start that finds no one on
// the socket but the settings file held says so in a window before it ends.
class tst_KavrelSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void secondStartForwardsItsRequest_data();
    void secondStartForwardsItsRequest();
    void onlyOneInstanceListensAndItsSocketIsPrivate();
    void socketLeftByACrashedInstanceIsReplaced();
    void malformedAndOverlongRequestsAreDropped();
    void argumentsGiveTheURLs();
    void secondCopyOverHeldSettingsSaysSo_data();
    void secondCopyOverHeldSettingsSaysSo();
    void alreadyRunningNoticeScreenshots();

private:
    QString socketPath() const { return m_dir->filePath(QStringLiteral("instance")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

// Writes raw bytes to the socket from another thread and reports whether the peer hung up.
std::future<bool> sendRaw(const QString &path, QByteArray bytes)
{
    return std::async(std::launch::async, [path, bytes] {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (!socket.waitForConnected(2000))
            return false;
        socket.write(bytes);
        socket.waitForBytesWritten(2000);
        return socket.state() != QLocalSocket::ConnectedState || socket.waitForDisconnected(5000);
    });
}

bool isReady(std::future<bool> &future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

} // namespace

void tst_KavrelSingleInstance::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_KavrelSingleInstance::secondStartForwardsItsRequest_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::newRow("reopen") << QStringList{};
    QTest::newRow("one callback") << QStringList{"kavrel://auth/callback?code=a%20b&state=x"};
    QTest::newRow("two urls keep their order")
        << QStringList{"https://example.com/page?q=1", "kavrel://auth/microsoft/complete"};
}

void tst_KavrelSingleInstance::secondStartForwardsItsRequest()
{
    QFETCH(QStringList, urls);
    KavrelSingleInstance first(socketPath());
    QCOMPARE(first.listen(), KavrelSingleInstance::ListenResult::listening);
    QSignalSpy received(&first, &KavrelSingleInstance::urlsReceived);
    QSignalSpy reopened(&first, &KavrelSingleInstance::reopenRequested);

    QList<QUrl> list;
    for (const QString &url : urls)
        list.append(QUrl(url));
    const QString path = socketPath();
    auto delivered = std::async(std::launch::async, [path, list] { return KavrelSingleInstance::forward(path, list); });
    QTRY_VERIFY(isReady(delivered));
    QVERIFY(delivered.get());

    if (urls.isEmpty()) {
        QTRY_COMPARE(reopened.count(), 1);
        QCOMPARE(received.count(), 0);
    } else {
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(reopened.count(), 0);
        QCOMPARE(received.first().first().value<QList<QUrl>>(), list);
    }
}

void tst_KavrelSingleInstance::onlyOneInstanceListensAndItsSocketIsPrivate()
{
    KavrelSingleInstance first(socketPath());
    QCOMPARE(first.listen(), KavrelSingleInstance::ListenResult::listening);
    KavrelSingleInstance second(socketPath());
    QCOMPARE(second.listen(), KavrelSingleInstance::ListenResult::anotherInstanceRuns);
    QVERIFY(!second.isListening());

    const QFileInfo socket(socketPath());
    QVERIFY(socket.exists());
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                      | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(socket.permissions() & others, QFile::Permissions());

    QCOMPARE(KavrelSingleInstance(m_dir->filePath(QStringLiteral("missing/instance"))).listen(),
             KavrelSingleInstance::ListenResult::unavailable);
}

void tst_KavrelSingleInstance::socketLeftByACrashedInstanceIsReplaced()
{
    // A bound socket file that nobody listens on any more.
    const QByteArray path = QFile::encodeName(socketPath());
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(descriptor >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, path.constData(), sizeof(address.sun_path));
    QCOMPARE(::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(descriptor);
    QVERIFY(QFileInfo::exists(socketPath()));

    KavrelSingleInstance first(socketPath());
    QCOMPARE(first.listen(), KavrelSingleInstance::ListenResult::listening);
    QSignalSpy reopened(&first, &KavrelSingleInstance::reopenRequested);
    const QString stalePath = socketPath();
    auto delivered = std::async(std::launch::async, [stalePath] { return KavrelSingleInstance::forward(stalePath, {}); });
    QTRY_VERIFY(isReady(delivered));
    QVERIFY(delivered.get());
    QTRY_COMPARE(reopened.count(), 1);
}

void tst_KavrelSingleInstance::malformedAndOverlongRequestsAreDropped()
{
    KavrelSingleInstance first(socketPath());
    first.setRequestTimeLimit(std::chrono::milliseconds(300));
    QCOMPARE(first.listen(), KavrelSingleInstance::ListenResult::listening);
    QSignalSpy received(&first, &KavrelSingleInstance::urlsReceived);
    QSignalSpy reopened(&first, &KavrelSingleInstance::reopenRequested);

    // Over the cap without a line end: the connection is cut, nothing is routed.
    auto overlong = sendRaw(socketPath(), QByteArray(KavrelSingleInstance::maximumRequestBytes + 100, 'a'));
    // Unknown words and URLs without a scheme are ignored.
    auto unknown = sendRaw(socketPath(), QByteArrayLiteral("launch-rockets\n"));
    auto schemeless = sendRaw(socketPath(), QByteArrayLiteral("open just-words\n"));
    // A line never finished is cut after the time limit.
    auto unfinished = sendRaw(socketPath(), QByteArrayLiteral("reopen"));
    QTRY_VERIFY(isReady(overlong) && isReady(unknown) && isReady(schemeless) && isReady(unfinished));
    QVERIFY(overlong.get());
    QVERIFY(unfinished.get());
    QCOMPARE(received.count(), 0);
    QCOMPARE(reopened.count(), 0);

    // The sending side refuses a request over the cap before it connects.
    const QUrl huge(QStringLiteral("kavrel://auth/callback?code=") + QString(KavrelSingleInstance::maximumRequestBytes, 'x'));
    QVERIFY(!KavrelSingleInstance::forward(socketPath(), {huge}));

    // And the instance still answers afterwards.
    const QString path = socketPath();
    auto delivered = std::async(std::launch::async, [path] { return KavrelSingleInstance::forward(path, {}); });
    QTRY_VERIFY(isReady(delivered));
    QTRY_COMPARE(reopened.count(), 1);
}

void tst_KavrelSingleInstance::argumentsGiveTheURLs()
{
    const QStringList arguments{"kavrel", "--verbose", "kavrel://auth/callback?code=1", "word", "-x",
                                "https://example.com/"};
    const QList<QUrl> urls = KavrelSingleInstance::urlsFromArguments(arguments);
    QCOMPARE(urls, (QList<QUrl>{QUrl("kavrel://auth/callback?code=1"), QUrl("https://example.com/")}));
    QVERIFY(KavrelSingleInstance::urlsFromArguments({"kavrel"}).isEmpty());
}

void tst_KavrelSingleInstance::secondCopyOverHeldSettingsSaysSo_data()
{
    QTest::addColumn<QString>("closedBy");
    QTest::newRow("Return, on its one button") << "return";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("the window's close button") << "close";
}

// However the user closes the notice, the copy ends, once; until then it waits for the user.
void tst_KavrelSingleInstance::secondCopyOverHeldSettingsSaysSo()
{
    QFETCH(QString, closedBy);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    int ends = 0;
    QPointer<QMessageBox> box = KavrelAlreadyRunningNotice::open(KavrelLocalizationStore::shared(), [&ends] { ++ends; });
    QVERIFY(box);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QVERIFY(box->isActiveWindow());
    QVERIFY2(box->informativeText().contains(QStringLiteral("настройками")), qPrintable(box->informativeText()));
    QCoreApplication::processEvents();
    QCOMPARE(ends, 0);

    // The keys go to the window, as a user's do: the keyboard starts on its one button.
    if (closedBy == QLatin1String("return")) {
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->focusWidget(), box->buttons().constFirst());
        QTest::keyClick(box, Qt::Key_Return);
    } else if (closedBy == QLatin1String("escape")) {
        QTest::keyClick(box, Qt::Key_Escape);
    } else {
        box->close();
    }
    QCOMPARE(ends, 1);
    QTRY_VERIFY(!box);
    QCOMPARE(ends, 1);
}

void tst_KavrelSingleInstance::alreadyRunningNoticeScreenshots()
{
    for (const auto &variant : Screenshots::variants()) {
        QWidget scene; // sets the language the notice reads its texts in
        Screenshots::apply(&scene, variant);
        QPointer<QMessageBox> box = KavrelAlreadyRunningNotice::open(KavrelLocalizationStore::shared(), {});
        box->setPalette(scene.palette());
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QVERIFY(!Screenshots::write(box, QStringLiteral("already-running"), variant).isEmpty());
        box->close();
        QTRY_VERIFY(!box);
    }
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
}

QTEST_MAIN(tst_KavrelSingleInstance)
#include "tst_KavrelSingleInstance.moc"
