// A notice over a running meeting, closed with a key pressed twice (Space or Return, 150 ms or
// 700 ms apart) or with Escape, on the real X server with its window manager, in Russian, the main
// window's keyboard on "Остановить прослушивание": a second copy's "КАВРЕЛ уже запущен" or
// "…запущен, но не отвечает" (another process, as a second start is), or the update check's box
// asked for from the tray's menu. The box goes, the window manager gives the keyboard back to the
// main window, and the second key comes there. The meeting goes on; one Space on the stop control
// afterwards stops it.

#include "KeyPressedAgain.h"

#include "app/widgets/KavrelAlreadyRunningNotice.h"
#include "support/TestChildProcess.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>

#include <cstdio>
#include <memory>

using namespace KeyPressedAgain;

namespace {

const QString noticeRole = QStringLiteral("already-running-notice");

// The child: a second copy's notice, "running" or "not-answering"; it ends once the box is closed.
int showNotice(const QString &which)
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    const auto closed = [] { QCoreApplication::exit(1); };
    QMessageBox *box = which == QLatin1String("running")
                           ? KavrelAlreadyRunningNotice::open(KavrelLocalizationStore::shared(), closed)
                           : KavrelAlreadyRunningNotice::openNotAnswering(KavrelLocalizationStore::shared(),
                                                                          QCoreApplication::applicationPid(), closed);
    if (!QTest::qWaitForWindowActive(box))
        return 2;
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}

// The update check's box, asked for from the tray's menu, over the main window.
bool openUpdateBox(Program &program)
{
    program.tray.rebuildMenu();
    const QString checkText = KavrelLocalizationStore::shared().localized(QStringLiteral("Check for Updates..."));
    for (QAction *action : program.tray.menu()->actions()) {
        if (action->text() == checkText) {
            action->trigger();
            return QTest::qWaitFor([] { return qobject_cast<QMessageBox *>(QApplication::activeWindow()) != nullptr; })
                   && X11TestWindows::settledActive(QApplication::activeWindow());
        }
    }
    return false;
}

} // namespace

class tst_KavrelKeyBurstOnNotices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void secondKeyAfterANotice_data();
    void secondKeyAfterANotice();

private:
    std::unique_ptr<Program> m_program;
};

void tst_KavrelKeyBurstOnNotices::initTestCase()
{
    m_program = programListening();
    if (!m_program)
        QSKIP("no window manager: run under scripts/test, which starts one");
    QVERIFY(m_program->window);
    // Just activated, the main window may lose the keyboard and get it back while the window
    // manager catches up, which the program does not take for another program's window going
    // away: the first notice comes once that while has passed, as every later one does.
    QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 200);
}

void tst_KavrelKeyBurstOnNotices::cleanupTestCase()
{
    endProgram(m_program);
}

void tst_KavrelKeyBurstOnNotices::secondKeyAfterANotice_data()
{
    // Each row's notice is the part of its name before the colon. CTest runs each notice on its
    // own (KAVREL_TEST_NOTICE), which keeps each run under a minute on a small machine.
    const QString only = qEnvironmentVariable("KAVREL_TEST_NOTICE");
    for (const QString notice : {QStringLiteral("running"), QStringLiteral("not-answering"), QStringLiteral("update")}) {
        if (only.isEmpty() || only == notice)
            addKeyBurstRows(notice + QStringLiteral(": "));
    }
}

void tst_KavrelKeyBurstOnNotices::secondKeyAfterANotice()
{
    const QString notice = QString::fromUtf8(QTest::currentDataTag()).section(QLatin1Char(':'), 0, 0);
    QFETCH(QStringList, keys);
    QFETCH(int, apartMs);
    Program &program = *m_program;
    if (!program.model().hasActiveSession())
        QVERIFY(program.openAndListen());
    QWidget *stop = program.view->primaryButton();
    QVERIFY(keyboardTo(stop));
    const QString stopName = describe(stop);

    if (notice == QLatin1String("update")) {
        QVERIFY(openUpdateBox(program));
        QVERIFY(X11TestInput::keys(keys, apartMs));
        meetingGoesOnThenOneSpaceStops(program, stop, stopName);
        return;
    }
    std::unique_ptr<QProcess> secondCopy = TestChildProcess::start(noticeRole, {notice});
    QVERIFY(secondCopy);
    // The window manager gives the box the keyboard: the main window loses it.
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeWindow(), 5000);
    QTRY_VERIFY(X11TestWindows::activeWindow() && *X11TestWindows::activeWindow() != quint32(program.window->winId()));

    QVERIFY(X11TestInput::keys(keys, apartMs));
    const bool ended = QTest::qWaitFor([&secondCopy] { return secondCopy->state() == QProcess::NotRunning; }, 10000);
    QVERIFY2(ended, qPrintable(QString::fromLocal8Bit(secondCopy->readAllStandardError())));
    QCOMPARE(secondCopy->exitCode(), 1);
    meetingGoesOnThenOneSpaceStops(program, stop, stopName);
}

int main(int argc, char **argv)
{
    if (const std::optional<QStringList> role = TestChildProcess::childRole(argc, argv);
        role && role->constFirst() == noticeRole) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        QApplication application(argc, argv);
        return showNotice(role->value(1));
    }
    QTEST_SET_MAIN_SOURCE_PATH
    return X11TestMain::run<tst_KavrelKeyBurstOnNotices>(argc, argv, "KAVREL_TEST_TRAY");
}

#include "tst_KavrelKeyBurstOnNotices.moc"
