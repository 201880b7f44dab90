// The program from the keyboard, on the real X server with its window manager, in Russian: a
// control pressed keeps the keyboard while its work runs and after it, and the keyboard never
// lands on a neighbour that would end, delete or start something ("Новая" beside the
// microphone). Keys are typed into the window that has the keyboard, as a user types them.

#include "ProgramOverTheSession.h"
#include "kit/widgets/KavrelKeyBurstGuard.h"

#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniMicrophoneControl.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelIconButton.h"
#include "kit/widgets/KavrelSegmentedPicker.h"
#include "localization/KavrelLocalizationStore.h"
#include "support/X11TestWindows.h"
#include "workspace/WorkspaceRules.h"
#include "workspace/widgets/ContentView.h"
#include "workspace/widgets/ListeningSetupSheet.h"
#include "workspace/widgets/PrimaryActionButton.h"
#include "workspace/widgets/WorkspaceMicrophoneControl.h"
#include "workspace/widgets/WorkspaceTextColumn.h"

#include <QAccessible>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

namespace {

QString describe(QWidget *widget)
{
    if (!widget)
        return QStringLiteral("nothing");
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    const QString name = accessible ? accessible->text(QAccessible::Name) : QString();
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(widget->metaObject()->className()), name);
}

// Into the window that has the keyboard or, given, into `window` once it has it back (the
// window manager may hand the keyboard elsewhere for a moment while a window comes up).
void typeKey(Qt::Key key, QWidget *window = nullptr)
{
    if (window)
        QTRY_COMPARE(QApplication::activeWindow(), window);
    else
        window = QApplication::activeWindow();
    QVERIFY2(window, "no window has the keyboard");
    QTest::keyClick(window->windowHandle(), key);
}

// Every control of `window` that takes the keyboard from now on, in order.
class KeyboardTrail
{
public:
    explicit KeyboardTrail(QWidget *window)
    {
        m_connection = QObject::connect(qApp, &QApplication::focusChanged, [this, window](QWidget *, QWidget *now) {
            if (now && now->window() == window)
                m_visited.append({now, describe(now)});
        });
    }
    ~KeyboardTrail() { QObject::disconnect(m_connection); }

    // Empty when the keyboard went nowhere but `allowed`.
    QString strayed(const QList<const QWidget *> &allowed) const
    {
        QStringList stray;
        // Compared by address alone: a window closed since may have taken its controls with it.
        for (const auto &[visited, description] : m_visited) {
            if (!allowed.contains(visited))
                stray.append(description);
        }
        return stray.isEmpty() ? QString() : QStringLiteral("the keyboard went to ") + stray.join(QStringLiteral(", "));
    }

private:
    QMetaObject::Connection m_connection;
    QList<std::pair<const QWidget *, QString>> m_visited;
};

// The program signed in, its main window open on the workspace, in Russian.
struct Workspace
{
    AppTest::ProgramOverTheSession program{true};
    QWidget *window = nullptr;
    ContentView *view = nullptr;

    SubtitleViewModel &model() { return *program.engine.model; }
};

bool openWorkspace(Workspace &workspace)
{
    workspace.program.engine.model->localization().setLanguage(KavrelAppLanguage::russian);
    workspace.program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
    workspace.window = workspace.program.mainWindow();
    if (!workspace.window || !QTest::qWaitForWindowActive(workspace.window))
        return false;
    if (!X11TestWindows::settledActive(workspace.window))
        return false;
    return QTest::qWaitFor([&workspace] {
        workspace.view = workspace.window->findChild<ContentView *>();
        return workspace.view && workspace.view->isVisible();
    });
}

bool listening(Workspace &workspace)
{
    return workspace.program.engine.start()
           && QTest::qWaitFor([&workspace] {
                  return workspace.model().hasActiveSession() && workspace.view->primaryButton()->isEnabled()
                         && workspace.view->microphoneControl()->isVisible();
              });
}

// Gives `control` the keyboard as Tab would, and waits until it has it.
bool keyboardTo(QWidget *control)
{
    control->setFocus(Qt::TabFocusReason);
    return QTest::qWaitFor([control] { return QApplication::focusWidget() == control; });
}

// Whether the microphone's start waits until the test lets it go (the one made already too).
void holdMicrophoneStarts(AppTest::ProgramOverTheSession &program, bool holds)
{
    program.engine.microphones->holdsStarts = holds;
    if (program.engine.microphones->current)
        program.engine.microphones->current->startGate.closed = holds;
}

bool microphoneSettled(SubtitleViewModel &model, bool listening)
{
    return QTest::qWaitFor([&model, listening] { return model.isMicrophoneListening() == listening && !model.isMicrophoneBusy(); });
}

} // namespace

class tst_KavrelKeyboardKeepsItsPlace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void microphoneButtonKeepsTheKeyboard_data();
    void microphoneButtonKeepsTheKeyboard();
    void miniWindowReadsInOrderAndItsToggleKeepsTheKeyboard_data();
    void miniWindowReadsInOrderAndItsToggleKeepsTheKeyboard();
    void everyControlThatStopsActingKeepsTheKeyboard_data();
    void everyControlThatStopsActingKeepsTheKeyboard();
};

void tst_KavrelKeyboardKeepsItsPlace::init()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no window manager: run under scripts/test, which starts one");
    // The first key of a row is not the second of a burst the row before began.
    QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 100);
}

void tst_KavrelKeyboardKeepsItsPlace::microphoneButtonKeepsTheKeyboard_data()
{
    QTest::addColumn<bool>("duringTheSwitch");
    QTest::newRow("second Space after the switch") << false;
    QTest::newRow("second Space while it switches") << true;
}

// Tab to "Микрофон: …", Space, Space: the microphone is where it started (or, for a Space while
// it switches, which the button ignores, where the first Space put it), the meeting goes on and
// the keyboard never left the button.
void tst_KavrelKeyboardKeepsItsPlace::microphoneButtonKeepsTheKeyboard()
{
    QFETCH(bool, duringTheSwitch);
    Workspace workspace;
    QVERIFY(openWorkspace(workspace));
    QVERIFY(listening(workspace));
    const auto stopping = qScopeGuard([&workspace] { (void)workspace.program.engine.stop(); });
    holdMicrophoneStarts(workspace.program, duringTheSwitch);
    const auto letGo = qScopeGuard([&workspace] { holdMicrophoneStarts(workspace.program, false); });
    SubtitleViewModel &model = workspace.model();
    QVERIFY(!model.isMicrophoneListening());
    WorkspaceMicrophoneControl *microphone = workspace.view->microphoneControl();
    QVERIFY(keyboardTo(workspace.view->primaryButton()));
    QSignalSpy newPresses(workspace.view->newButton(), &QAbstractButton::clicked);

    typeKey(Qt::Key_Tab, workspace.window);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(microphone));
    const KeyboardTrail trail(workspace.window);
    typeKey(Qt::Key_Space, workspace.window);
    if (duringTheSwitch) {
        QVERIFY(model.isMicrophoneBusy());
        QVERIFY(KavrelFocusHold::isHeld(microphone));
        QCOMPARE(QAccessible::queryAccessibleInterface(microphone)->text(QAccessible::Description),
                 KavrelFocusHold::unavailableDescription());
        typeKey(Qt::Key_Space, workspace.window);
        typeKey(Qt::Key_Return, workspace.window);
        QTest::qWait(100);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(microphone));
        QVERIFY(model.isMicrophoneBusy());
        workspace.program.engine.microphones->current->startGate.closed = false;
    }
    QVERIFY(microphoneSettled(model, true));
    QVERIFY(!KavrelFocusHold::isHeld(microphone));
    QVERIFY(microphone->isEnabled());
    if (!duringTheSwitch) {
        typeKey(Qt::Key_Space, workspace.window);
        QVERIFY(microphoneSettled(model, false));
    }

    QVERIFY(model.hasActiveSession());
    QCOMPARE(newPresses.count(), 0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(microphone));
    const QString strayed = trail.strayed({microphone});
    QVERIFY2(strayed.isEmpty(), qPrintable(strayed));
    // And it still works from the keyboard.
    typeKey(Qt::Key_Space, workspace.window);
    QVERIFY(microphoneSettled(model, duringTheSwitch ? false : true));
}

void tst_KavrelKeyboardKeepsItsPlace::miniWindowReadsInOrderAndItsToggleKeepsTheKeyboard_data()
{
    microphoneButtonKeepsTheKeyboard_data();
}

// The mini window: Tab reads it top to bottom, the toggle keeps the keyboard through Space,
// Space, and Escape gives the main window back as "Развернуть" does.
void tst_KavrelKeyboardKeepsItsPlace::miniWindowReadsInOrderAndItsToggleKeepsTheKeyboard()
{
    QFETCH(bool, duringTheSwitch);
    AppTest::ProgramOverTheSession program(true);
    program.engine.model->localization().setLanguage(KavrelAppLanguage::russian);
    QVERIFY(program.engine.start());
    const auto stopping = qScopeGuard([&program] { (void)program.engine.stop(); });
    holdMicrophoneStarts(program, duringTheSwitch);
    const auto letGo = qScopeGuard([&program] { holdMicrophoneStarts(program, false); });
    SubtitleViewModel &model = *program.engine.model;
    int mainWindowOpened = 0;
    QPointer<KavrelListeningMiniWindow> mini = new KavrelListeningMiniWindow(
        *program.surface, *program.presentation, *program.engine.defaults, [&mainWindowOpened] { ++mainWindowOpened; });
    const auto closing = qScopeGuard([&mini] { delete mini.data(); });
    mini->show();
    mini->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mini));
    QVERIFY(X11TestWindows::settledActive(mini));
    KavrelListeningMiniView *view = mini->findChild<KavrelListeningMiniView *>();
    QVERIFY(view);
    QTRY_VERIFY(view->stopButton()->isEnabled());

    // Round once with Tab, wherever the keyboard starts.
    const QList<QWidget *> readingOrder{view->layoutPicker(), view->microphoneControl()->menuButton(),
                                        view->microphoneControl()->toggleButton(), view->stopButton(),
                                        view->expandButton(), view->hideCompletelyButton()};
    QList<QWidget *> reached;
    for (int press = 0; press < readingOrder.size() + 1; ++press) {
        QWidget *was = QApplication::focusWidget();
        typeKey(Qt::Key_Tab, mini);
        QTRY_VERIFY2(QApplication::focusWidget() != was, qPrintable(describe(was)));
        reached.append(QApplication::focusWidget());
    }
    const qsizetype first = reached.indexOf(readingOrder.first());
    QStringList all;
    for (QWidget *stop : std::as_const(reached))
        all.append(describe(stop));
    QVERIFY2(first >= 0, qPrintable(describe(reached.first())));
    // One round, from the header's first control on.
    const QList<QWidget *> once = reached.mid(0, readingOrder.size());
    const QList<QWidget *> round = once.mid(first) + once.mid(0, first);
    QStringList names;
    for (QWidget *stop : std::as_const(round))
        names.append(describe(stop));
    QVERIFY2(round == readingOrder, qPrintable(names.join(QStringLiteral(", "))));

    QWidget *toggle = view->microphoneControl()->toggleButton();
    while (QApplication::focusWidget() != toggle)
        typeKey(Qt::Key_Tab, mini);
    const KeyboardTrail trail(mini);
    typeKey(Qt::Key_Space, mini);
    if (duringTheSwitch) {
        QVERIFY(model.isMicrophoneBusy());
        QVERIFY(KavrelFocusHold::isHeld(toggle));
        typeKey(Qt::Key_Space, mini);
        QTest::qWait(100);
        QCOMPARE(QApplication::focusWidget(), toggle);
        program.engine.microphones->current->startGate.closed = false;
    }
    QVERIFY(microphoneSettled(model, true));
    if (!duringTheSwitch) {
        typeKey(Qt::Key_Space, mini);
        QVERIFY(microphoneSettled(model, false));
    }
    QVERIFY(model.hasActiveSession());
    QCOMPARE(QApplication::focusWidget(), toggle);
    QVERIFY(!KavrelFocusHold::isHeld(toggle));
    const QString strayed = trail.strayed({toggle});
    QVERIFY2(strayed.isEmpty(), qPrintable(strayed));

    QCOMPARE(mainWindowOpened, 0);
    typeKey(Qt::Key_Escape, mini);
    QTRY_COMPARE(mainWindowOpened, 1);
    QVERIFY(model.hasActiveSession());
}

void tst_KavrelKeyboardKeepsItsPlace::everyControlThatStopsActingKeepsTheKeyboard_data()
{
    QTest::addColumn<QString>("control");
    QTest::newRow("toolbar: Stop while it stops") << "stop";
    QTest::newRow("toolbar: New") << "new";
    QTest::newRow("toolbar: focus mode's exit as the meeting ends") << "focusExit";
    QTest::newRow("transcript: larger text up to its limit") << "larger";
    QTest::newRow("transcript: smaller text down to its limit") << "smaller";
    QTest::newRow("start sheet: Start") << "sheetStart";
    QTest::newRow("mini window: Stop") << "miniStop";
}

// Each control that may stop acting (busy, gone, at its limit) while it has the keyboard,
// pressed from the keyboard: the keyboard stays on it or lands on the control named for that,
// and goes nowhere else in between.
void tst_KavrelKeyboardKeepsItsPlace::everyControlThatStopsActingKeepsTheKeyboard()
{
    QFETCH(QString, control);
    Workspace workspace;
    // The mini window stands in for a main window out of sight, which would close it.
    const bool mini = control.startsWith(QLatin1String("mini"));
    if (!mini)
        QVERIFY(openWorkspace(workspace));
    SubtitleViewModel &model = workspace.model();
    ContentView *view = workspace.view;
    PrimaryActionButton *primary = view ? view->primaryButton() : nullptr;
    const auto stopping = qScopeGuard([&workspace] {
        if (workspace.model().hasActiveSession())
            (void)workspace.program.engine.stop();
    });

    if (control == QLatin1String("stop")) {
        QVERIFY(listening(workspace));
        QVERIFY(keyboardTo(primary));
        const KeyboardTrail trail(workspace.window);
        typeKey(Qt::Key_Space, workspace.window);
        QVERIFY(model.isBusy());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(primary));
        QVERIFY(workspace.program.engine.settle([&] { return !model.hasActiveSession() && !model.isBusy(); }, 15000));
        QTRY_VERIFY(KavrelFocusHold::looksAvailable(primary));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(primary));
        const QString strayed = trail.strayed({primary});
        QVERIFY2(strayed.isEmpty(), qPrintable(strayed));
    } else if (control == QLatin1String("new")) {
        QVERIFY(listening(workspace));
        QVERIFY(keyboardTo(view->newButton()));
        const KeyboardTrail trail(workspace.window);
        typeKey(Qt::Key_Space, workspace.window);
        QVERIFY(workspace.program.engine.settle([&] { return !model.isBusy(); }, 15000));
        QTest::qWait(100);
        QWidget *now = QApplication::focusWidget();
        QVERIFY2(now == primary || (now == view->newButton() && view->newButton()->isVisible()), qPrintable(describe(now)));
        const QString strayed = trail.strayed({view->newButton(), primary});
        QVERIFY2(strayed.isEmpty(), qPrintable(strayed));
    } else if (control == QLatin1String("focusExit")) {
        QVERIFY(listening(workspace));
        QVERIFY(keyboardTo(view->focusButton()));
        const KeyboardTrail trail(workspace.window);
        typeKey(Qt::Key_Space, workspace.window);
        QTRY_VERIFY(view->isFocusModeEnabled() && !primary->isVisible());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(view->focusButton()));
        // The meeting ends elsewhere (the tray, the mini window): the exit goes with it.
        QVERIFY(workspace.program.engine.stop());
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(primary));
        const QString strayed = trail.strayed({view->focusButton(), primary});
        QVERIFY2(strayed.isEmpty(), qPrintable(strayed));
        // The same key again at once would not press the control the program moved the keyboard to.
        QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 100);
        typeKey(Qt::Key_Space, workspace.window);  // opens the start sheet, which asks before anything starts
        QTRY_VERIFY(view->listeningSetupSheet() && view->listeningSetupSheet()->isVisible());
        view->listeningSetupSheet()->reject();
    } else if (control == QLatin1String("larger") || control == QLatin1String("smaller")) {
        const bool larger = control == QLatin1String("larger");
        WorkspaceTextColumn *column = view->transcriptColumn();
        QWidget *button = larger ? static_cast<QWidget *>(column->largerTextButton()) : column->smallerTextButton();
        QVERIFY(keyboardTo(button));
        const KeyboardTrail trail(workspace.window);
        const auto atLimit = [&] {
            const double size = model.transcriptFontSize();
            return larger ? !WorkspaceRules::canIncreaseFontSize(size) : !WorkspaceRules::canDecreaseFontSize(size);
        };
        for (int press = 0; press < 40 && !atLimit(); ++press)
            typeKey(Qt::Key_Space, workspace.window);
        QTRY_VERIFY(atLimit());
        QVERIFY(KavrelFocusHold::isHeld(button));
        QVERIFY(!KavrelFocusHold::looksAvailable(button));
        typeKey(Qt::Key_Space, workspace.window);
        QCOMPARE(QApplication::focusWidget(), button);
        const QString strayed = trail.strayed({button});
        QVERIFY2(strayed.isEmpty(), qPrintable(strayed));
        // Once the keyboard moves on it is disabled as usual, and Tab passes it by.
        typeKey(Qt::Key_Tab, workspace.window);
        QTRY_VERIFY(!button->isEnabled());
    } else if (control == QLatin1String("sheetStart")) {
        QVERIFY(keyboardTo(primary));
        typeKey(Qt::Key_Space, workspace.window);
        ListeningSetupSheet *sheet = nullptr;
        QTRY_VERIFY((sheet = view->listeningSetupSheet()) && sheet->isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(sheet));
        QWidget *start = sheet->startButton();
        QVERIFY(keyboardTo(start));
        const KeyboardTrail trail(sheet);
        const QPointer<ListeningSetupSheet> closing = sheet;
        typeKey(Qt::Key_Space, sheet);
        // Start closes the sheet; the start goes on behind it.
        QTRY_VERIFY(!closing || !closing->isVisible());
        const QString strayed = trail.strayed({start});
        QVERIFY2(strayed.isEmpty(), qPrintable(strayed));
    } else if (control == QLatin1String("miniStop")) {
        QVERIFY(workspace.program.engine.start());
        QPointer<KavrelListeningMiniWindow> window = new KavrelListeningMiniWindow(
            *workspace.program.surface, *workspace.program.presentation, *workspace.program.engine.defaults, [] {});
        const auto closing = qScopeGuard([&window] { delete window.data(); });
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        // A key pressed while the window manager still moves the keyboard away and back (as it
        // catches up with the windows of the rows before) is cut in two, and presses nothing.
        QVERIFY(X11TestWindows::settledActive(window));
        KavrelListeningMiniView *miniView = window->findChild<KavrelListeningMiniView *>();
        QWidget *stop = miniView->stopButton();
        QTRY_VERIFY(stop->isEnabled());
        QVERIFY(keyboardTo(stop));
        const KeyboardTrail trail(window);
        typeKey(Qt::Key_Space, window);
        QVERIFY(workspace.program.engine.settle([&] { return !model.hasActiveSession() && !model.isBusy(); }, 15000));
        QCOMPARE(QApplication::focusWidget(), stop);
        QVERIFY(KavrelFocusHold::isHeld(stop));
        const QString strayed = trail.strayed({stop});
        QVERIFY2(strayed.isEmpty(), qPrintable(strayed));
    } else {
        QFAIL("unknown control");
    }
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("KAVREL_TEST_TRAY") && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    tst_KavrelKeyboardKeepsItsPlace test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_KavrelKeyboardKeepsItsPlace.moc"
