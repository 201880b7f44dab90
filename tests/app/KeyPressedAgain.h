#pragma once

// The program as main() wires it, with its tray's menu and the handler of links and second
// starts, listening with the microphone on, for the tests of a key that brought a window forward
// and is pressed again: what became of the meeting, and where the keyboard is.

#include "ProgramOverTheSession.h"

#include "app/KavrelAppDelegate.h"
#include "app/KavrelNotifications.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelTrayItem.h"
#include "localization/KavrelLocalizationStore.h"
#include "screens/widgets/KavrelSettingsView.h"
#include "support/X11TestInput.h"
#include "support/X11TestWindows.h"
#include "workspace/widgets/ContentView.h"
#include "workspace/widgets/DialogueHistoryPanel.h"
#include "workspace/widgets/EmptyPanelPlaceholder.h"
#include "workspace/widgets/PrimaryActionButton.h"
#include "workspace/widgets/WorkspaceMicrophoneControl.h"
#include "workspace/widgets/WorkspaceTextColumn.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

#include <memory>

namespace KeyPressedAgain {

inline QString describe(const QWidget *widget)
{
    if (!widget)
        return QStringLiteral("nothing");
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(const_cast<QWidget *>(widget));
    const QString name = accessible ? accessible->text(QAccessible::Name) : QString();
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(widget->metaObject()->className()), name);
}

// The program signed in, its main window on the workspace, in Russian, with the tray's menu and
// the handler of links and second starts as main() wires them.
struct Program
{
    AppTest::ProgramOverTheSession over{true};
    KavrelTrayItem tray{*over.surface, *over.authStore, *over.presentation, *over.starter,
                        *over.engine.defaults, *over.updates, over.app->windowOpener()};
    KavrelAppDelegate delegate{over.authService.get(), KavrelNotifications::defaultCenter(),
                               [this] { return over.app->hasVisibleWindows(); }, [this] { over.app->activate(); }};
    QWidget *window = nullptr;
    ContentView *view = nullptr;

    SubtitleViewModel &model() { return *over.engine.model; }
    QWidget *miniWindow() const { return over.app->window(QString::fromLatin1(KavrelApp::miniWindowIdentifier)); }
    QWidget *settingsWindow() const
    {
        return over.app->window(QString::fromLatin1(KavrelSettingsView::windowIdentifier));
    }

    // Listening, with the microphone on.
    bool openAndListen()
    {
        model().localization().setLanguage(KavrelAppLanguage::russian);
        over.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
        window = over.mainWindow();
        if (!window || !QTest::qWaitForWindowActive(window) || !X11TestWindows::settledActive(window))
            return false;
        if (!QTest::qWaitFor([this] { return (view = window->findChild<ContentView *>()) && view->isVisible(); }))
            return false;
        return over.engine.start(ListeningSessionStartMode::newSession, true)
               && QTest::qWaitFor([this] {
                      return model().hasActiveSession() && model().isMicrophoneListening()
                             && !model().isMicrophoneBusy() && view->primaryButton()->isEnabled()
                             && view->microphoneControl()->isVisible();
                  });
    }

    // Empty while the meeting runs as it did, the microphone on; else what became of it.
    QString meetingChanged()
    {
        if (!model().hasActiveSession())
            return QStringLiteral("the meeting ended");
        if (model().isBusy() || model().listeningSession()->isStopping())
            return QStringLiteral("the meeting is stopping");
        if (model().isMicrophoneBusy() || !model().isMicrophoneListening())
            return QStringLiteral("the microphone was switched");
        return {};
    }
};

// Gives `control` the keyboard as Tab would, and waits until it has it.
inline bool keyboardTo(QWidget *control)
{
    control->setFocus(Qt::TabFocusReason);
    return QTest::qWaitFor([control] { return QApplication::focusWidget() == control; });
}

// The live transcript, or the hint that stands in for it while nothing was said.
inline bool isOnTheTranscript(const ContentView *view, const QWidget *widget)
{
    return widget && view->transcriptColumn()->isAncestorOf(widget)
           && (qobject_cast<const DialogueHistoryPanel *>(widget)
               || qobject_cast<const EmptyPanelPlaceholder *>(widget));
}

// Waits until the keys the test sent have had their effect, whatever it is.
inline void settleAfterKeys()
{
    QTest::qWait(400);
}

// The rows of a key pressed twice, 150 ms or 700 ms apart (Space, Return), and of Escape: columns
// "keys" and "apartMs", each row's name after `prefix`.
inline void addKeyBurstRows(const QString &prefix = {})
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("apartMs");
    const QStringList spaces{QStringLiteral("space"), QStringLiteral("space")};
    const QStringList returns{QStringLiteral("Return"), QStringLiteral("Return")};
    for (const int apartMs : {150, 700}) {
        QTest::addRow("%sSpace, Space %d ms apart", qPrintable(prefix), apartMs) << spaces << apartMs;
        QTest::addRow("%sReturn, Return %d ms apart", qPrintable(prefix), apartMs) << returns << apartMs;
    }
    QTest::addRow("%sEscape", qPrintable(prefix)) << QStringList{QStringLiteral("Escape")} << 0;
}

// The program in Russian, its main window in front, listening with the microphone on; null (and
// the test skipped) without a window manager.
inline std::unique_ptr<Program> programListening()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        return nullptr;
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    auto program = std::make_unique<Program>();
    if (!program->openAndListen())
        program->window = nullptr;
    return program;
}

inline void endProgram(std::unique_ptr<Program> &program)
{
    if (program && program->model().hasActiveSession())
        (void)program->over.engine.stop();
    program.reset();
}

// The keys of a burst over a running meeting, the main window's keyboard on the stop control
// named `stopName`: once the window has the keyboard back, the meeting runs on as it did with the
// keyboard where it was, and a pause later one Space there stops the meeting, the first time.
inline void meetingGoesOnThenOneSpaceStops(Program &program, QWidget *stop, const QString &stopName)
{
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), program.window, 5000);
    // Long enough for a stop the second key set off to show.
    QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 200);
    const QString changed = program.meetingChanged();
    QVERIFY2(changed.isEmpty(), qPrintable(changed));
    QCOMPARE(QApplication::focusWidget(), stop);
    QCOMPARE(describe(stop), stopName);
    QVERIFY(X11TestInput::keys({QStringLiteral("space")}));
    QTRY_VERIFY_WITH_TIMEOUT(!program.model().hasActiveSession(), 10000);
}

} // namespace KeyPressedAgain
