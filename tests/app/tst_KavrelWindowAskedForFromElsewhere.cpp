// A window of the program asked for from elsewhere, on the real X server with its window manager,
// in Russian: the main window from the tray's "Показать КАВРЕЛ", a link or a second start, and the
// settings from a key in the main window. The key that asked, pressed again before the user sees
// where it went, finds the keyboard on a text to read (the live transcript, the settings'
// heading): the meeting goes on, the microphone stays as it was and no setting changes. The keys
// go through the X server, each to the window that has the keyboard when it arrives.

#include "KeyPressedAgain.h"

#include "kit/KavrelAppearanceMode.h"
#include "screens/KavrelSettingsModel.h"
#include "screens/widgets/KavrelScreenLabel.h"
#include "screens/widgets/KavrelSidebarButton.h"
#include "screens/widgets/KavrelSidebarView.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"

#include <QMenu>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QUrl>

#include <algorithm>

using namespace KeyPressedAgain;

class tst_KavrelWindowAskedForFromElsewhere : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void windowAskedForFromElsewhere_data();
    void windowAskedForFromElsewhere();
};

void tst_KavrelWindowAskedForFromElsewhere::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no window manager: run under scripts/test, which starts one");
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
}

void tst_KavrelWindowAskedForFromElsewhere::windowAskedForFromElsewhere_data()
{
    QTest::addColumn<QString>("way");
    // After the key (or click) that asks for the window, if it is one of the program's.
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("apartMs");
    QTest::addColumn<QString>("mainControl");
    const QStringList returns{QStringLiteral("Return"), QStringLiteral("Return")};
    QTest::newRow("the tray's Показать КАВРЕЛ by Return, Return at once; main on Stop")
        << "tray" << returns << 0 << "stop";
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
void tst_KavrelWindowAskedForFromElsewhere::windowAskedForFromElsewhere()
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
        // The mini window takes over, and the window manager hands the keyboard on (a menu opened
        // meanwhile would lose it).
        QWidget *mini = nullptr;
        QTRY_VERIFY((mini = program.miniWindow()) && mini->isVisible()
                    && X11TestWindows::isViewable(quint32(mini->winId())));
        QTest::qWait(300);
        if (way == QLatin1String("tray")) {
            program.tray.rebuildMenu();
            QMenu *menu = program.tray.menu();
            menu->popup(QPoint(200, 200));
            QTRY_VERIFY(menu->isVisible() && QApplication::activePopupWidget() == menu);
            const QString show = KavrelLocalizationStore::shared().localized(QStringLiteral("Show КАВРЕЛ"));
            const QList<QAction *> entries = menu->actions();
            const auto entry =
                std::find_if(entries.begin(), entries.end(), [&](QAction *a) { return a->text() == show; });
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
        QVERIFY2(key != QLatin1String(KavrelAppearance::defaultsKey)
                     && key != QLatin1String(KavrelSettingsModel::miniWindowEnabledKey),
                 qPrintable(key));
    }
}

KAVREL_X11_TEST_MAIN(tst_KavrelWindowAskedForFromElsewhere, "KAVREL_TEST_TRAY")

#include "tst_KavrelWindowAskedForFromElsewhere.moc"
