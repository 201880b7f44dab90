// A copy of the program whose process is stopped (as a hung one is) while it listens, the main
// window's keyboard on "Остановить прослушивание"; the program started again, for real, in the same
// runtime folder, finds that copy on the instance socket, gets no answer and says so: "КАВРЕЛ
// запущен, но не отвечает". Space pressed twice (150 ms or 700 ms apart) closes that box with the
// first press; the window manager gives the keyboard back to the stopped copy's main window, and
// the second press waits for that copy in the X server's queue, beside the start's request to show
// the window. Once the copy is continued, the meeting runs on, the keyboard on the stop control or,
// where the window was brought forward, on the transcript; one Space on the stop control a moment
// later stops the meeting.
//
// The stopped copy is this executable in a child role: the program's windows, tray menu, link
// handler and instance socket as main() wires them, over the session test fakes (a real meeting
// would need a signed-in account against a backend of its own for the whole run). The second
// start is the program's own executable, unchanged.

#include "KeyPressedAgain.h"

#include "app/KavrelSingleInstance.h"
#include "support/TestChildProcess.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"
#include "support/X11TestWindows.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace KeyPressedAgain;

namespace {

const QString firstCopyRole = QStringLiteral("listening-copy");

void answer(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// The child: the first copy, listening. Its commands, one a line on its input:
// "listen": listens (again), the keyboard on the stop control, and answers "listening <name>";
// "check": once its main window has the keyboard back and the key-burst gap has passed, answers
// "runs, the keyboard on <where>", or what became of the meeting;
// "to-stop": gives the stop control the keyboard, as Tab does, and answers with its name;
// "stopped": answers "stopped" once the meeting has ended (10 s at most), else "still running".
int runFirstCopy()
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    std::unique_ptr<Program> program = programListening();
    if (!program || !program->window)
        return 2;
    KavrelSingleInstance instance(KavrelSingleInstance::defaultSocketPath());
    if (instance.listen() != KavrelSingleInstance::ListenResult::listening)
        return 3;
    QObject::connect(&instance, &KavrelSingleInstance::urlsReceived, &program->delegate, &KavrelAppDelegate::openURLs);
    QObject::connect(&instance, &KavrelSingleInstance::reopenRequested, &program->delegate,
                     &KavrelAppDelegate::handleReopen);

    const auto listen = [&program] {
        Program &p = *program;
        (void)QTest::qWaitFor([&p] { return !p.model().isBusy(); }, 10000);
        if (!p.model().hasActiveSession() && !p.openAndListen())
            return QStringLiteral("not listening");
        QWidget *stop = p.view->primaryButton();
        const QString stopText = KavrelLocalizationStore::shared().localized(QStringLiteral("Stop Listening"));
        if (!QTest::qWaitFor([stop, &stopText] { return describe(stop).contains(stopText); }))
            return QStringLiteral("no stop control: ") + describe(stop);
        if (!keyboardTo(stop) || !X11TestWindows::settledActive(p.window))
            return QStringLiteral("the keyboard is not on the stop control");
        return QStringLiteral("listening ") + describe(stop);
    };
    const auto check = [&program] {
        Program &p = *program;
        (void)QTest::qWaitFor([&p] { return QApplication::activeWindow() == p.window; }, 10000);
        QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 200);
        const QString changed = p.meetingChanged();
        if (!changed.isEmpty())
            return changed;
        if (QApplication::activeWindow() != p.window)
            return QStringLiteral("the main window has no keyboard");
        QWidget *focus = QApplication::focusWidget();
        if (focus == p.view->primaryButton())
            return QStringLiteral("runs, the keyboard on the stop control");
        if (isOnTheTranscript(p.view, focus))
            return QStringLiteral("runs, the keyboard on the transcript");
        return QStringLiteral("runs, the keyboard on ") + describe(focus);
    };
    const auto toStop = [&program] {
        QWidget *stop = program->view->primaryButton();
        return keyboardTo(stop) ? describe(stop) : QStringLiteral("the keyboard did not go to the stop control");
    };
    const auto stopped = [&program] {
        Program &p = *program;
        return QTest::qWaitFor([&p] { return !p.model().hasActiveSession(); }, 10000) ? QStringLiteral("stopped")
                                                                                     : QStringLiteral("still running");
    };

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &input, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, got);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QByteArray command = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (command == "listen")
                answer(listen());
            else if (command == "check")
                answer(check());
            else if (command == "to-stop")
                answer(toStop());
            else if (command == "stopped")
                answer(stopped());
        }
    });
    answer(QStringLiteral("ready"));
    const int status = QApplication::exec();
    endProgram(program);
    return status;
}

} // namespace

class tst_KavrelKeyBurstOverAStoppedCopy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void secondKeyReachesTheStoppedCopy_data();
    void secondKeyReachesTheStoppedCopy();

private:
    QString m_program;
    QTemporaryDir m_runtime;
    std::unique_ptr<QProcess> m_firstCopy;
};

void tst_KavrelKeyBurstOverAStoppedCopy::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no window manager: run under scripts/test, which starts one");
    m_program = qEnvironmentVariable("KAVREL_PROGRAM");
    if (m_program.isEmpty())
        QSKIP("KAVREL_PROGRAM does not name the program's executable: run through CTest");
    QVERIFY(m_runtime.isValid());
    QVERIFY(QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    m_firstCopy = TestChildProcess::start(firstCopyRole, {}, {},
                                          {QStringLiteral("XDG_RUNTIME_DIR=") + m_runtime.path()});
    QVERIFY(m_firstCopy);
}

void tst_KavrelKeyBurstOverAStoppedCopy::cleanupTestCase()
{
    if (m_firstCopy) {
        ::kill(pid_t(m_firstCopy->processId()), SIGCONT);
        TestChildProcess::finish(*m_firstCopy);
    }
}

void tst_KavrelKeyBurstOverAStoppedCopy::secondKeyReachesTheStoppedCopy_data()
{
    QTest::addColumn<int>("apartMs");
    QTest::newRow("Space, Space 150 ms apart") << 150;
    QTest::newRow("Space, Space 700 ms apart") << 700;
}

void tst_KavrelKeyBurstOverAStoppedCopy::secondKeyReachesTheStoppedCopy()
{
    QFETCH(int, apartMs);
    QProcess &first = *m_firstCopy;
    const pid_t firstPid = pid_t(first.processId());
    first.write("listen\n");
    const std::optional<QByteArray> listening = TestChildProcess::readLineStartingWith(first, "");
    QVERIFY(listening && listening->startsWith("listening "));
    const QString stopName = QString::fromUtf8(listening->mid(int(qstrlen("listening "))));
    QVERIFY2(stopName.contains(QStringLiteral("Остановить прослушивание")), qPrintable(stopName));

    QCOMPARE(::kill(firstPid, SIGSTOP), 0);
    auto continueFirst = qScopeGuard([firstPid] { ::kill(firstPid, SIGCONT); });
    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // The sanitizer build reports the libraries' leaks at exit; the exit code is what counts.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    second.setProcessEnvironment(environment);
    second.setStandardErrorFile(m_runtime.filePath(QStringLiteral("second.log")));
    second.start(m_program, {});
    QVERIFY(second.waitForStarted(10000));

    // The box comes forward and keeps the keyboard for a quarter of a second.
    std::optional<quint32> box;
    QElapsedTimer held;
    const bool shown = QTest::qWaitFor([&] {
        const std::optional<quint32> active = X11TestWindows::activeWindow();
        if (!active || active != box
            || X11TestWindows::activeWindowProcessId() != std::optional<qint64>(second.processId())) {
            box = active;
            held.start();
            return false;
        }
        return held.elapsed() >= 250;
    }, 20000);
    QVERIFY(shown);
    QCOMPARE(X11TestWindows::title(*box), QStringLiteral("КАВРЕЛ запущен, но не отвечает"));

    QVERIFY(X11TestInput::keys({QStringLiteral("space"), QStringLiteral("space")}, apartMs));
    // The first press closes the box, and the second copy ends.
    QVERIFY(QTest::qWaitFor([&second] { return second.state() == QProcess::NotRunning; }, 10000));
    QCOMPARE(second.exitCode(), 1);
    QFile log(m_runtime.filePath(QStringLiteral("second.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString said = QString::fromUtf8(log.readAll());
    QVERIFY2(said.contains(QStringLiteral("kill -9 %1").arg(firstPid)), qPrintable(said));
    // The second press waits in the stopped copy's queue a while longer, as it does while a user
    // looks for the copy to end.
    QTest::qWait(500);

    continueFirst.dismiss();
    QCOMPARE(::kill(firstPid, SIGCONT), 0);
    first.write("check\n");
    const std::optional<QByteArray> checked = TestChildProcess::readLineStartingWith(first, "");
    QVERIFY(checked);
    // The start's request to show the window waited for the copy too: brought forward, the window
    // puts its keyboard on the transcript, where no key presses anything.
    const QString outcome = QString::fromUtf8(*checked);
    QVERIFY2(outcome == QLatin1String("runs, the keyboard on the stop control")
                 || outcome == QLatin1String("runs, the keyboard on the transcript"),
             qPrintable(outcome));

    // The keyboard user's one key on the stop control works the first time.
    first.write("to-stop\n");
    const std::optional<QByteArray> onStop = TestChildProcess::readLineStartingWith(first, "");
    QVERIFY(onStop);
    QCOMPARE(QString::fromUtf8(*onStop), stopName);
    QVERIFY(X11TestInput::keys({QStringLiteral("space")}));
    QVERIFY(TestChildProcess::command(first, "stopped", "stopped"));
}

int main(int argc, char **argv)
{
    if (const std::optional<QStringList> role = TestChildProcess::childRole(argc, argv);
        role && role->constFirst() == firstCopyRole) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        QApplication application(argc, argv);
        return runFirstCopy();
    }
    QTEST_SET_MAIN_SOURCE_PATH
    return X11TestMain::run<tst_KavrelKeyBurstOverAStoppedCopy>(argc, argv, "KAVREL_TEST_TRAY");
}

#include "tst_KavrelKeyBurstOverAStoppedCopy.moc"
