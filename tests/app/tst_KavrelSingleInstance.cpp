#include "app/KavrelGracefulQuit.h"
#include "app/KavrelSingleInstance.h"
#include "app/widgets/KavrelAlreadyRunningNotice.h"
#include "base/Async.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "support/Screenshots.h"
#include "support/TestChildProcess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A second start of the program hands its request to the first over the user's local socket.
// The second start runs on a thread of its own here, as it would in its own process: it waits
// for the socket while the first one's event loop answers. A second start that finds no one on
// the socket but the settings file held says so in a window before it ends. A start while the
// first copy quits waits for that copy to end and then runs; the first copy is a process of its
// own then (this executable in the role "first-copy").
class tst_KavrelSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void secondStartForwardsItsRequest_data();
    void secondStartForwardsItsRequest();
    void startWhileTheFirstCopyQuits_data();
    void startWhileTheFirstCopyQuits();
    void startBesideAStoppedCopy_data();
    void startBesideAStoppedCopy();
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

template<typename T>
bool isReady(std::future<T> &future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

using Outcome = KavrelSingleInstance::Handover::Outcome;

const QString firstCopyRole = QStringLiteral("first-copy");

void announce(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// The child: the first copy of the program, as main() makes its instance socket and its
// settings. With a stop time it quits at once, its session taking that long to stop; it lets
// its settings go last, a moment after its socket, as the program does.
int runFirstCopy(const QStringList &arguments)
{
    const QString socketPath = arguments.value(1);
    const QString settingsPath = arguments.value(2);
    const int stopMilliseconds = arguments.value(3).toInt();
    auto defaults = std::make_unique<UserDefaults>(settingsPath);
    auto instance = std::make_unique<KavrelSingleInstance>(socketPath);
    if (instance->listen() != KavrelSingleInstance::ListenResult::listening || defaults->isHeldByAnotherProcess())
        return 2;
    QObject::connect(instance.get(), &KavrelSingleInstance::reopenRequested, [] { announce("reopen"); });
    KavrelGracefulQuit quit([stopMilliseconds]() -> QCoro::Task<void> {
        co_await sleepFor(std::chrono::milliseconds(stopMilliseconds), CancellationToken());
    });
    QObject::connect(&quit, &KavrelGracefulQuit::started, instance.get(), &KavrelSingleInstance::setQuitting);
    QObject::connect(&quit, &KavrelGracefulQuit::started, defaults.get(), &UserDefaults::announceRelease);
    if (stopMilliseconds >= 0)
        quit.requestQuit();
    announce("ready");
    const int status = QCoreApplication::exec();
    instance.reset();
    QThread::msleep(300);
    defaults.reset();
    return status;
}

// What main() does before it makes anything else: "handed over", "failed", "unanswered <pid>" (a
// copy took the request and said nothing), "notice" (the settings are held: the already-running
// notice shows) or "runs".
QString startAsTheProgramDoes(const QString &socketPath, const QString &settingsPath, std::chrono::milliseconds limit)
{
    KavrelSingleInstance instance(socketPath);
    switch (instance.start({}, limit)) {
    case KavrelSingleInstance::StartResult::handedOver:
        return QStringLiteral("handed over");
    case KavrelSingleInstance::StartResult::failed:
        return QStringLiteral("failed");
    case KavrelSingleInstance::StartResult::unanswered:
        return QStringLiteral("unanswered %1").arg(instance.unansweredProcessId());
    case KavrelSingleInstance::StartResult::run:
        break;
    }
    UserDefaults::waitForAnnouncedRelease(settingsPath, limit);
    const UserDefaults defaults(settingsPath);
    return defaults.isHeldByAnotherProcess() ? QStringLiteral("notice") : QStringLiteral("runs");
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
    QTest::addColumn<bool>("quitting");
    QTest::newRow("reopen") << QStringList{} << false;
    QTest::newRow("one callback") << QStringList{"kavrel://auth/callback?code=a%20b&state=x"} << false;
    QTest::newRow("two urls keep their order")
        << QStringList{"https://example.com/page?q=1", "kavrel://auth/microsoft/complete"} << false;
    // A program on its way out shows no window again and takes no link; it says so.
    QTest::newRow("reopen, the first quitting") << QStringList{} << true;
    QTest::newRow("callback, the first quitting") << QStringList{"kavrel://auth/callback?code=1"} << true;
}

void tst_KavrelSingleInstance::secondStartForwardsItsRequest()
{
    QFETCH(QStringList, urls);
    QFETCH(bool, quitting);
    KavrelSingleInstance first(socketPath());
    QCOMPARE(first.listen(), KavrelSingleInstance::ListenResult::listening);
    QSignalSpy received(&first, &KavrelSingleInstance::urlsReceived);
    QSignalSpy reopened(&first, &KavrelSingleInstance::reopenRequested);
    if (quitting)
        first.setQuitting();

    QList<QUrl> list;
    for (const QString &url : urls)
        list.append(QUrl(url));
    const QString path = socketPath();
    auto delivered = std::async(std::launch::async, [path, list] { return KavrelSingleInstance::forward(path, list); });
    QTRY_VERIFY(isReady(delivered));
    const KavrelSingleInstance::Handover handover = delivered.get();
    QCOMPARE(handover.outcome, quitting ? Outcome::declined : Outcome::delivered);
    // The process to wait for.
    QCOMPARE(handover.processId, QCoreApplication::applicationPid());

    if (quitting) {
        QTest::qWait(50);
        QCOMPARE(received.count() + reopened.count(), 0);
    } else if (urls.isEmpty()) {
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
    QCOMPARE(delivered.get().outcome, Outcome::delivered);
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
    QCOMPARE(KavrelSingleInstance::forward(socketPath(), {huge}).outcome, Outcome::failed);

    // And the instance still answers afterwards.
    const QString path = socketPath();
    auto delivered = std::async(std::launch::async, [path] { return KavrelSingleInstance::forward(path, {}); });
    QTRY_VERIFY(isReady(delivered));
    QTRY_COMPARE(reopened.count(), 1);
}

void tst_KavrelSingleInstance::startWhileTheFirstCopyQuits_data()
{
    QTest::addColumn<int>("firstStopsFor");  // milliseconds; -1: it does not quit
    QTest::addColumn<bool>("sameRuntimeFolder");
    QTest::addColumn<int>("waitLimit");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first runs: request handed over") << -1 << true << 5000 << "handed over";
    QTest::newRow("first runs, another runtime folder: the notice") << -1 << false << 5000 << "notice";
    QTest::newRow("first quits: waits, then runs") << 1200 << true << 10000 << "runs";
    QTest::newRow("first quits, another runtime folder: waits, then runs") << 1200 << false << 10000 << "runs";
    QTest::newRow("first quits past the limit") << 4000 << true << 400 << "failed";
    QTest::newRow("first quits past the limit, another runtime folder") << 4000 << false << 400 << "notice";
}

// A start never runs beside the first copy on one settings file: it runs only once that copy
// has let the file go, and never stands waiting for a copy that keeps running.
void tst_KavrelSingleInstance::startWhileTheFirstCopyQuits()
{
    QFETCH(int, firstStopsFor);
    QFETCH(bool, sameRuntimeFolder);
    QFETCH(int, waitLimit);
    QFETCH(QString, expected);

    const QString settings = m_dir->filePath(QStringLiteral("config/preferences.ini"));
    QVERIFY(QDir().mkpath(QFileInfo(settings).absolutePath()));
    std::unique_ptr<QProcess> first =
        TestChildProcess::start(firstCopyRole, {socketPath(), settings, QString::number(firstStopsFor)});
    QVERIFY(first);

    QString socket = socketPath();
    if (!sameRuntimeFolder) {
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("other"))));
        socket = m_dir->filePath(QStringLiteral("other/instance"));
    }
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(startAsTheProgramDoes(socket, settings, std::chrono::milliseconds(waitLimit)), expected);
    const qint64 took = elapsed.elapsed();

    if (firstStopsFor < 0) {
        // No waiting for a copy that stays.
        QVERIFY2(took < 1500, qPrintable(QString::number(took)));
        if (expected == QLatin1String("handed over"))
            QVERIFY(TestChildProcess::readLineStartingWith(*first, "reopen"));
        QCOMPARE(first->state(), QProcess::Running);
        first->kill();
    } else if (expected == QLatin1String("runs")) {
        QVERIFY2(took >= firstStopsFor / 2, qPrintable(QString::number(took)));
    } else {
        QVERIFY2(took < firstStopsFor, qPrintable(QString::number(took)));
    }
    QVERIFY(first->waitForFinished(10000));
    if (firstStopsFor >= 0)
        QCOMPARE(first->exitCode(), 0);
}

void tst_KavrelSingleInstance::startBesideAStoppedCopy_data()
{
    QTest::addColumn<bool>("killedFirst");
    QTest::newRow("stopped: says it does not answer") << false;
    QTest::newRow("stopped, then killed: runs") << true;
}

// A copy whose process is stopped (as a hung one is) still takes connections, but never answers:
// the start must not count that as handed over, and must name the process to end. Once that
// process is gone, the start runs as usual.
void tst_KavrelSingleInstance::startBesideAStoppedCopy()
{
    QFETCH(bool, killedFirst);
    const QString settings = m_dir->filePath(QStringLiteral("config/preferences.ini"));
    QVERIFY(QDir().mkpath(QFileInfo(settings).absolutePath()));
    std::unique_ptr<QProcess> first = TestChildProcess::start(firstCopyRole, {socketPath(), settings, QStringLiteral("-1")});
    QVERIFY(first);
    const qint64 pid = first->processId();
    QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);
    if (killedFirst) {
        first->kill();
        QVERIFY(first->waitForFinished(10000));
    }

    const QString result = startAsTheProgramDoes(socketPath(), settings, std::chrono::milliseconds(5000));
    if (!killedFirst) {
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY(first->waitForFinished(10000));
    }
    QCOMPARE(result, killedFirst ? QStringLiteral("runs") : QStringLiteral("unanswered %1").arg(pid));
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
    QTest::addColumn<bool>("notAnswering");
    QTest::addColumn<QString>("says");
    const QString held = QStringLiteral("настройками");
    const QString stopped = QStringLiteral("не отвечает, поэтому ничего не открывается. Завершите её в системном мониторе "
                                           "или командой «kill -9 4242» в терминале");
    QTest::newRow("Return, on its one button") << "return" << false << held;
    QTest::newRow("Escape") << "escape" << false << held;
    QTest::newRow("the window's close button") << "close" << false << held;
    QTest::newRow("a copy that does not answer, Return") << "return" << true << stopped;
    QTest::newRow("a copy that does not answer, the close button") << "close" << true << stopped;
}

// However the user closes the notice, the copy ends, once; until then it waits for the user.
void tst_KavrelSingleInstance::secondCopyOverHeldSettingsSaysSo()
{
    QFETCH(QString, closedBy);
    QFETCH(bool, notAnswering);
    QFETCH(QString, says);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    int ends = 0;
    const auto closed = [&ends] { ++ends; };
    QPointer<QMessageBox> box = notAnswering
        ? KavrelAlreadyRunningNotice::openNotAnswering(KavrelLocalizationStore::shared(), 4242, closed)
        : KavrelAlreadyRunningNotice::open(KavrelLocalizationStore::shared(), closed);
    QVERIFY(box);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QVERIFY(box->isActiveWindow());
    QVERIFY2(box->informativeText().contains(says), qPrintable(box->informativeText()));
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

int main(int argc, char **argv)
{
    if (const std::optional<QStringList> role = TestChildProcess::childRole(argc, argv);
        role && role->constFirst() == firstCopyRole) {
        QCoreApplication application(argc, argv);
        return runFirstCopy(*role);
    }
    QApplication application(argc, argv);
    tst_KavrelSingleInstance test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_KavrelSingleInstance.moc"
