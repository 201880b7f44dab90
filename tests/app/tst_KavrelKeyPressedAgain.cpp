// The key that brought a window of the program forward, pressed again before its user sees where
// it went, or held, on the real X server with its window manager, in Russian: the mini window's
// "Развернуть" and Escape, the tray's "Показать КАВРЕЛ", a link, a second start, and the settings
// asked for from the main window. The window waits with the keyboard on a text to read (the live
// transcript, a screen's heading): the meeting goes on, the microphone stays as it was and no
// setting changes. The keys go through the X server, each to the window that has the keyboard
// when it arrives, as a user's do.

#include "ProgramOverTheSession.h"

#include "app/KavrelAppDelegate.h"
#include "app/KavrelNotifications.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniMicrophoneControl.h"
#include "app/widgets/KavrelTrayItem.h"
#include "kit/KavrelAppearanceMode.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "localization/KavrelLocalizationStore.h"
#include "screens/KavrelSettingsModel.h"
#include "screens/widgets/KavrelScreenLabel.h"
#include "screens/widgets/KavrelSettingsView.h"
#include "screens/widgets/KavrelSidebarButton.h"
#include "screens/widgets/KavrelSidebarView.h"
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
#include <QMenu>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QWindow>

namespace {

QString describe(const QWidget *widget)
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
    QWidget *settingsWindow() const { return over.app->window(QString::fromLatin1(KavrelSettingsView::windowIdentifier)); }

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
                      return model().hasActiveSession() && model().isMicrophoneListening() && !model().isMicrophoneBusy()
                             && view->primaryButton()->isEnabled() && view->microphoneControl()->isVisible();
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
bool keyboardTo(QWidget *control)
{
    control->setFocus(Qt::TabFocusReason);
    return QTest::qWaitFor([control] { return QApplication::focusWidget() == control; });
}

// The live transcript, or the hint that stands in for it while nothing was said.
bool isOnTheTranscript(const ContentView *view, const QWidget *widget)
{
    return widget && view->transcriptColumn()->isAncestorOf(widget)
           && (qobject_cast<const DialogueHistoryPanel *>(widget) || qobject_cast<const EmptyPanelPlaceholder *>(widget));
}

// Waits until the keys the test sent have had their effect, whatever it is.
void settleAfterKeys()
{
    QTest::qWait(400);
}

} // namespace

class tst_KavrelKeyPressedAgain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void wayBackFromTheMiniWindow_data();
    void wayBackFromTheMiniWindow();
    void windowAskedForFromElsewhere_data();
    void windowAskedForFromElsewhere();
};

void tst_KavrelKeyPressedAgain::init()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no window manager: run under scripts/test, which starts one");
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
    QTest::newRow("Развернуть: Space, Space 120 ms apart; main on the microphone") << spaces << 120 << 0 << "microphone" << "expand";
    QTest::newRow("Развернуть: Space, Space 300 ms apart; main on Stop") << spaces << 300 << 0 << "stop" << "expand";
    QTest::newRow("Развернуть: Return, Return at once; main on the microphone") << returns << 0 << 0 << "microphone" << "expand";
    QTest::newRow("Развернуть: Return, Return 120 ms apart; main on Stop") << returns << 120 << 0 << "stop" << "expand";
    QTest::newRow("Развернуть: Return, Return 300 ms apart; main on the microphone") << returns << 300 << 0 << "microphone" << "expand";
    QTest::newRow("Развернуть: Return held; main on Stop") << QStringList{QStringLiteral("Return")} << 0 << 900 << "stop" << "expand";
    QTest::newRow("Развернуть: Space held; main on the microphone") << QStringList{QStringLiteral("space")} << 0 << 900 << "microphone" << "expand";
    QTest::newRow("Escape on the mini microphone, Space at once; main on Stop") << escapeSpace << 0 << 0 << "stop" << "toggle";
    QTest::newRow("Escape on the mini Stop, Space 150 ms later; main on the microphone") << escapeSpace << 150 << 0 << "microphone" << "stop";
    QTest::newRow("Escape on the mini Stop, Return at once; main on the microphone") << escapeReturn << 0 << 0 << "microphone" << "stop";
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
    QVERIFY2(isOnTheTranscript(program.view, QApplication::focusWidget()), qPrintable(describe(QApplication::focusWidget())));
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

void tst_KavrelKeyPressedAgain::windowAskedForFromElsewhere_data()
{
    QTest::addColumn<QString>("way");
    // After the key (or click) that asks for the window, if it is one of the program's.
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("apartMs");
    QTest::addColumn<QString>("mainControl");
    const QStringList returns{QStringLiteral("Return"), QStringLiteral("Return")};
    QTest::newRow("the tray's Показать КАВРЕЛ by Return, Return at once; main on Stop") << "tray" << returns << 0 << "stop";
    QTest::newRow("the tray's Показать КАВРЕЛ by Return, Return 150 ms later; main on the microphone")
        << "tray" << returns << 150 << "microphone";
    QTest::newRow("a link, then Space; main on Stop") << "link" << QStringList{QStringLiteral("space")} << 0 << "stop";
    QTest::newRow("a second start, then Return; main on the microphone")
        << "reopen" << QStringList{QStringLiteral("Return")} << 0 << "microphone";
    QTest::newRow("the sidebar's Настройки by Space, Space 120 ms apart")
        << "settings" << QStringList{QStringLiteral("space"), QStringLiteral("space")} << 120 << "settings";
    QTest::newRow("the sidebar's Настройки by Return, Return at once")
        << "settings" << QStringList{QStringLiteral("Return"), QStringLiteral("Return")} << 0 << "settings";
    QTest::newRow("Ctrl+, and Space at once")
        << "settings" << QStringList{QStringLiteral("ctrl+comma"), QStringLiteral("space")} << 0 << "settings";
    QTest::newRow("Ctrl+, and Return 300 ms later")
        << "settings" << QStringList{QStringLiteral("ctrl+comma"), QStringLiteral("Return")} << 300 << "settings";
}

// A window the user asks for from elsewhere waits with the keyboard on a text to read: the main
// window on its transcript, the settings on their heading. What the keys after the asking do
// changes nothing: the meeting, the microphone, the theme and the mini window's setting stay.
void tst_KavrelKeyPressedAgain::windowAskedForFromElsewhere()
{
    QFETCH(QString, way);
    QFETCH(QStringList, keys);
    QFETCH(int, apartMs);
    QFETCH(QString, mainControl);
    Program program;
    // A stray press on the first theme choice would change this.
    program.over.engine.defaults->setString(QString::fromLatin1(KavrelAppearance::defaultsKey), QStringLiteral("dark"));
    QVERIFY(program.openAndListen());
    const auto stopping = qScopeGuard([&program] {
        if (program.model().hasActiveSession())
            (void)program.over.engine.stop();
    });
    QWidget *aimed = program.window->findChild<KavrelSidebarView *>()->settingsButton();
    if (mainControl == QLatin1String("stop"))
        aimed = program.view->primaryButton();
    else if (mainControl == QLatin1String("microphone"))
        aimed = program.view->microphoneControl();
    QVERIFY(keyboardTo(aimed));
    QSignalSpy settingsChanged(program.over.engine.defaults.get(), &UserDefaults::valueChanged);

    if (way == QLatin1String("settings")) {
        QVERIFY(X11TestInput::keys(keys, apartMs));
        QWidget *settings = nullptr;
        QTRY_VERIFY((settings = program.settingsWindow()) && settings->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), settings, 5000);
        const auto closing = qScopeGuard([settings] { settings->close(); });
        const auto onTheHeading = [settings] {
            const auto *heading = qobject_cast<const KavrelScreenLabel *>(QApplication::focusWidget());
            return heading && settings->isAncestorOf(heading)
                   && heading->text() == KavrelLocalizationStore::shared().localized(QStringLiteral("Settings"));
        };
        QTRY_VERIFY2(onTheHeading(), qPrintable(describe(QApplication::focusWidget())));
        settleAfterKeys();
        QVERIFY2(onTheHeading(), qPrintable(describe(QApplication::focusWidget())));
        // Its next step: Tab reaches the first theme choice.
        QVERIFY(X11TestInput::keys({QStringLiteral("Tab")}));
        QTRY_VERIFY(QApplication::focusWidget() && settings->isAncestorOf(QApplication::focusWidget())
                    && !onTheHeading());
    } else {
        // The main window out of sight, minimized by the user.
        QVERIFY(X11TestInput::movePointer(QPoint(5, 5)));
        X11TestWindows::iconify(quint32(program.window->winId()));
        QTRY_VERIFY(program.window->isMinimized() || !program.window->isVisible());
        if (way == QLatin1String("tray")) {
            program.tray.rebuildMenu();
            QMenu *menu = program.tray.menu();
            menu->popup(QPoint(200, 200));
            QTRY_VERIFY(menu->isVisible() && QApplication::activePopupWidget() == menu);
            const QString show = KavrelLocalizationStore::shared().localized(QStringLiteral("Show КАВРЕЛ"));
            const QList<QAction *> entries = menu->actions();
            const auto entry = std::find_if(entries.begin(), entries.end(), [&](QAction *a) { return a->text() == show; });
            QVERIFY(entry != entries.end());
            menu->setActiveAction(*entry);
            QVERIFY(X11TestInput::keys(keys, apartMs));
        } else {
            if (way == QLatin1String("link"))
                program.delegate.openURLs({QUrl(QStringLiteral("kavrel://open"))});
            else
                program.delegate.handleReopen();
            QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), program.window, 5000);
            QVERIFY(X11TestInput::keys(keys, apartMs));
        }
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), program.window, 5000);
        settleAfterKeys();
    }
    const QString changed = program.meetingChanged();
    QVERIFY2(changed.isEmpty(), qPrintable(changed));
    if (way != QLatin1String("settings")) {
        QVERIFY2(isOnTheTranscript(program.view, QApplication::focusWidget()),
                 qPrintable(describe(QApplication::focusWidget())));
    }
    for (const QList<QVariant> &change : std::as_const(settingsChanged)) {
        const QString key = change.first().toString();
        QVERIFY2(key != QLatin1String(KavrelAppearance::defaultsKey) && key != QLatin1String(KavrelSettingsModel::miniWindowEnabledKey),
                 qPrintable(key));
    }
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("KAVREL_TEST_TRAY") && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    tst_KavrelKeyPressedAgain test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_KavrelKeyPressedAgain.moc"
