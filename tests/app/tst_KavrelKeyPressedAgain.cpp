// The mini window's "Развернуть" and Escape, pressed and then pressed again (or held) before the
// user sees where the key went, on the real X server with its window manager, in Russian: the
// main window comes back with the keyboard on the live transcript, so the meeting goes on and the
// microphone stays as it was. The keys go through the X server, each to the window that has the
// keyboard when it arrives, as a user's do: the second may still reach the mini window on its way
// out.

#include "KeyPressedAgain.h"

#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniMicrophoneControl.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"

#include <QScopeGuard>
#include <QWindow>

using namespace KeyPressedAgain;

class tst_KavrelKeyPressedAgain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void wayBackFromTheMiniWindow_data();
    void wayBackFromTheMiniWindow();
};

void tst_KavrelKeyPressedAgain::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no window manager: run under scripts/test, which starts one");
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
}

void tst_KavrelKeyPressedAgain::wayBackFromTheMiniWindow_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("apartMs");
    QTest::addColumn<int>("heldMs");
    // Where the main window's keyboard was when the mini window took over, and where the mini
    // window's is when the keys come.
    QTest::addColumn<QString>("mainControl");
    QTest::addColumn<QString>("miniControl");
    const QStringList spaces{QStringLiteral("space"), QStringLiteral("space")};
    const QStringList returns{QStringLiteral("Return"), QStringLiteral("Return")};
    const QStringList escapeSpace{QStringLiteral("Escape"), QStringLiteral("space")};
    const QStringList escapeReturn{QStringLiteral("Escape"), QStringLiteral("Return")};
    QTest::newRow("Развернуть: Space, Space at once; main on Stop") << spaces << 0 << 0 << "stop" << "expand";
    QTest::newRow("Развернуть: Space, Space 120 ms apart; main on the microphone")
        << spaces << 120 << 0 << "microphone" << "expand";
    QTest::newRow("Развернуть: Space, Space 300 ms apart; main on Stop") << spaces << 300 << 0 << "stop" << "expand";
    QTest::newRow("Развернуть: Return, Return at once; main on the microphone")
        << returns << 0 << 0 << "microphone" << "expand";
    QTest::newRow("Развернуть: Return, Return 120 ms apart; main on Stop") << returns << 120 << 0 << "stop" << "expand";
    QTest::newRow("Развернуть: Return, Return 300 ms apart; main on the microphone")
        << returns << 300 << 0 << "microphone" << "expand";
    QTest::newRow("Развернуть: Return held; main on Stop")
        << QStringList{QStringLiteral("Return")} << 0 << 900 << "stop" << "expand";
    QTest::newRow("Развернуть: Space held; main on the microphone")
        << QStringList{QStringLiteral("space")} << 0 << 900 << "microphone" << "expand";
    QTest::newRow("Escape on the mini microphone, Space at once; main on Stop")
        << escapeSpace << 0 << 0 << "stop" << "toggle";
    QTest::newRow("Escape on the mini Stop, Space 150 ms later; main on the microphone")
        << escapeSpace << 150 << 0 << "microphone" << "stop";
    QTest::newRow("Escape on the mini Stop, Return at once; main on the microphone")
        << escapeReturn << 0 << 0 << "microphone" << "stop";
    QTest::newRow("Escape, Return 300 ms later; main on Stop") << escapeReturn << 300 << 0 << "stop" << "expand";
}

// Tab to Stop or the microphone, the main window out of sight so the mini window takes over, and
// the keys on the mini window: the main window is back with the keyboard on the live transcript,
// and the meeting and the microphone are as they were. A third press there does nothing either,
// and Tab goes on from the transcript to the controls beside it.
void tst_KavrelKeyPressedAgain::wayBackFromTheMiniWindow()
{
    QFETCH(QStringList, keys);
    QFETCH(int, apartMs);
    QFETCH(int, heldMs);
    QFETCH(QString, mainControl);
    QFETCH(QString, miniControl);
    Program program;
    QVERIFY(program.openAndListen());
    const auto stopping = qScopeGuard([&program] {
        if (program.model().hasActiveSession())
            (void)program.over.engine.stop();
    });
    QWidget *aimed = mainControl == QLatin1String("stop") ? static_cast<QWidget *>(program.view->primaryButton())
                                                           : program.view->microphoneControl();
    QVERIFY(keyboardTo(aimed));

    // The user puts the main window out of sight: the mini window stands in for it.
    QVERIFY(X11TestInput::movePointer(QPoint(5, 5)));
    X11TestWindows::iconify(quint32(program.window->winId()));
    QWidget *mini = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((mini = program.miniWindow()) && mini->isVisible(), 5000);
    mini->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mini));
    QVERIFY(X11TestWindows::settledActive(mini));
    auto *miniView = mini->findChild<KavrelListeningMiniView *>();
    QVERIFY(miniView);
    QWidget *miniAimed = miniControl == QLatin1String("stop")     ? static_cast<QWidget *>(miniView->stopButton())
                         : miniControl == QLatin1String("toggle") ? miniView->microphoneControl()->toggleButton()
                                                                  : miniView->expandButton();
    QTRY_VERIFY(miniAimed->isEnabled());
    QVERIFY(keyboardTo(miniAimed));

    if (heldMs > 0)
        QVERIFY(X11TestInput::holdKey(keys.first(), heldMs));
    else
        QVERIFY(X11TestInput::keys(keys, apartMs));
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), program.window, 5000);
    settleAfterKeys();
    QString changed = program.meetingChanged();
    QVERIFY2(changed.isEmpty(), qPrintable(changed));
    QVERIFY2(isOnTheTranscript(program.view, QApplication::focusWidget()),
             qPrintable(describe(QApplication::focusWidget())));
    QVERIFY(!program.miniWindow() || !program.miniWindow()->isVisible());

    // The same key once more, now in the main window; then Shift+Tab leaves the transcript for
    // the column's controls.
    QVERIFY(X11TestInput::keys({keys.last()}));
    settleAfterKeys();
    changed = program.meetingChanged();
    QVERIFY2(changed.isEmpty(), qPrintable(changed));
    const QWidget *landing = QApplication::focusWidget();
    QVERIFY(X11TestInput::keys({QStringLiteral("shift+Tab")}));
    QTRY_VERIFY(QApplication::focusWidget() != landing);
    QVERIFY2(program.window->isAncestorOf(QApplication::focusWidget())
                 && (QApplication::focusWidget()->focusPolicy() & Qt::TabFocus),
             qPrintable(describe(QApplication::focusWidget())));
}

KAVREL_X11_TEST_MAIN(tst_KavrelKeyPressedAgain, "KAVREL_TEST_TRAY")

#include "tst_KavrelKeyPressedAgain.moc"
