// The program without a mouse, on the real X server with its window manager, in Russian: every
// control Tab reaches in the main window shows where the keyboard is, on the screen, in the
// light and the dark look; and after each action the keyboard is on the control that makes
// sense next, a named one. Keys are typed into the window that has the keyboard, as a user
// types them.

#include "ProgramOverTheSession.h"

#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "platform/UserDefaults.h"
#include "support/FakeSessionSurface.h"
#include "kit/KavrelPalette.h"
#include "localization/KavrelLocalizationStore.h"
#include "session/widgets/MessageBoxListeningStartPrompts.h"
#include "signin/widgets/PermissionsOnboardingView.h"
#include "support/FocusRingCheck.h"
#include "support/Screenshots.h"
#include "workspace/widgets/ContentView.h"
#include "workspace/widgets/ListeningSetupSheet.h"
#include "workspace/widgets/PrimaryActionButton.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QHash>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

namespace {

// What a screen reader calls the widget.
QString spokenName(QWidget *widget)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

QString describe(QWidget *widget)
{
    if (!widget)
        return QStringLiteral("nothing");
    const QString name = spokenName(widget).isEmpty() ? widget->objectName() : spokenName(widget);
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(widget->metaObject()->className()), name);
}

QWidget *activeKeyboardWindow()
{
    QWidget *window = QApplication::activeWindow();
    return window ? window : QApplication::focusWidget();
}

void typeKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *window = activeKeyboardWindow();
    QVERIFY(window);
    QTest::keyClick(window->windowHandle(), key, modifiers);
}

QMessageBox *openQuestion()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            return box;
    }
    return nullptr;
}

// Applies the program's palette for `scheme` and returns the Russian variant the pictures are
// named after.
Screenshots::Variant applyRussianIn(int scheme)
{
    const bool dark = scheme == int(KavrelColorScheme::dark);
    const Screenshots::Variant variant{KavrelColorScheme(scheme), KavrelAppLanguage::russian,
                                       dark ? QStringLiteral("dark-ru") : QStringLiteral("light-ru")};
    Screenshots::applyProgramPalette(variant);
    return variant;
}

// A control the keyboard reaches with Tab in `window`, as Qt's tab order has them.
QList<QWidget *> tabStops(QWidget *window)
{
    QList<QWidget *> stops;
    for (QWidget *next = window->nextInFocusChain(); next && next != window; next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && next->isEnabled() && next->isVisibleTo(window)
            && window->isAncestorOf(next))
            stops.append(next);
    }
    return stops;
}

// Tabs through `window` once round; each control that takes the keyboard must show it on the
// screen. The first stop (focused on arrival, before any key) is checked when Tab comes back
// to it. Writes what the last control looked like to `picture` for review.
void tabRoundAndSeeTheRing(QWidget *window, const QString &picture, QStringList *reached)
{
    const QList<QWidget *> stops = tabStops(window);
    QVERIFY2(!stops.isEmpty(), "no control takes the keyboard");
    // Nothing shows a ring yet: no key was pressed in the window.
    QHash<QWidget *, QImage> before;
    for (QWidget *stop : stops)
        before.insert(stop, FocusRingCheck::grab(stop));
    QWidget *first = nullptr;
    for (int press = 0; press <= stops.size() + 1; ++press) {
        QWidget *was = QApplication::focusWidget();
        typeKey(Qt::Key_Tab);
        QTRY_VERIFY2(QApplication::focusWidget() != was, qPrintable(describe(was)));
        QWidget *focused = QApplication::focusWidget();
        QVERIFY2(focused && window->isAncestorOf(focused), qPrintable(describe(focused)));
        if (focused == first)
            return;
        if (!first)
            first = focused;
        QVERIFY2(before.contains(focused), qPrintable(QStringLiteral("Tab reached %1, not in the tab order").arg(describe(focused))));
        reached->append(describe(focused));
        QImage after;
        const QRect area(focused->mapTo(window, QPoint(0, 0)), focused->size());
        const QString problem = FocusRingCheck::waitForRing(window, area, before.value(focused), &after);
        QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(describe(focused), problem)));
        // The window as it shows each stop, for review by eye.
        const QDir folder(QDir(Screenshots::directory()).filePath(QStringLiteral("focus")));
        folder.mkpath(QStringLiteral("."));
        FocusRingCheck::grab(window, window->rect()).save(folder.filePath(QStringLiteral("%1-%2.png").arg(picture).arg(press, 2, 10, QLatin1Char('0'))));
    }
    QFAIL("Tab never came back round");
}

} // namespace

class tst_KavrelKeyboardFocus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void everyControlShowsWhereTheKeyboardIs_data();
    void everyControlShowsWhereTheKeyboardIs();
    void settingsControlsShowTheKeyboard_data();
    void settingsControlsShowTheKeyboard();
    void miniWindowControlsShowTheKeyboard_data();
    void miniWindowControlsShowTheKeyboard();
    void keyboardLandsOnTheNextControl_data();
    void keyboardLandsOnTheNextControl();
};

void tst_KavrelKeyboardFocus::init()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no window manager: run under scripts/test, which starts one");
}

void tst_KavrelKeyboardFocus::cleanup()
{
    while (QMessageBox *question = openQuestion())
        delete question;
}

void tst_KavrelKeyboardFocus::everyControlShowsWhereTheKeyboardIs_data()
{
    QTest::addColumn<int>("scheme");
    QTest::newRow("light") << int(KavrelColorScheme::light);
    QTest::newRow("dark") << int(KavrelColorScheme::dark);
}

// The onboarding, then the workspace (sidebar and toolbar), then the start sheet.
void tst_KavrelKeyboardFocus::everyControlShowsWhereTheKeyboardIs()
{
    QFETCH(int, scheme);
    const Screenshots::Variant variant = applyRussianIn(scheme);
    AppTest::ProgramOverTheSession program(false);
    // The engine reads its texts from a store of its own: the whole window in Russian.
    program.engine.model->localization().setLanguage(KavrelAppLanguage::russian);
    program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
    QWidget *window = program.mainWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(kavrelIsDark(window->palette()), scheme == int(KavrelColorScheme::dark));
    QStringList reached;

    auto *onboarding = window->findChild<PermissionsOnboardingView *>();
    QVERIFY(onboarding);
    QWidget *open = onboarding->findChild<QWidget *>(QStringLiteral("openKavrel"));
    QTRY_COMPARE(QApplication::focusWidget(), open);
    QTest::qWait(200);
    tabRoundAndSeeTheRing(window, QStringLiteral("onboarding-") + variant.suffix, &reached);
    if (QTest::currentTestFailed())
        return;
    for (int press = 0; press < 3 && QApplication::focusWidget() != open; ++press)
        typeKey(Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget(), open);
    // Return presses it, as Space does.
    typeKey(Qt::Key_Return);

    ContentView *workspace = nullptr;
    QTRY_VERIFY((workspace = window->findChild<ContentView *>()) && workspace->isVisible());
    QTRY_VERIFY2(QApplication::focusWidget() == workspace->primaryButton(), qPrintable(describe(QApplication::focusWidget())));
    // As after a click: the window shows no ring until the keyboard is used in it again.
    window->setAttribute(Qt::WA_KeyboardFocusChange, false);
    workspace->primaryButton()->update();
    QTest::qWait(200);
    tabRoundAndSeeTheRing(window, QStringLiteral("workspace-") + variant.suffix, &reached);
    if (QTest::currentTestFailed())
        return;

    workspace->primaryButton()->setFocus(Qt::TabFocusReason);
    typeKey(Qt::Key_Space);
    ListeningSetupSheet *sheet = nullptr;
    QTRY_VERIFY((sheet = window->findChild<ListeningSetupSheet *>()) && sheet->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(sheet));
    QTest::qWait(200);
    {
        const auto closing = qScopeGuard([&sheet] { sheet->reject(); });
        // The sheet is a window of its own: no key was pressed in it yet.
        sheet->setAttribute(Qt::WA_KeyboardFocusChange, false);
        tabRoundAndSeeTheRing(sheet, QStringLiteral("start-sheet-") + variant.suffix, &reached);
        if (QTest::currentTestFailed())
            return;
    }

    // Listening: the toolbar and the side panel's buttons come into use.
    QTRY_COMPARE(QApplication::activeWindow(), window);
    QVERIFY(program.engine.start());
    const auto stopping = qScopeGuard([&program] { (void)program.engine.stop(); });
    QTRY_VERIFY(workspace->primaryButton()->isEnabled());
    window->setAttribute(Qt::WA_KeyboardFocusChange, false);
    workspace->primaryButton()->setFocus(Qt::OtherFocusReason);
    // Clearing the attribute repaints nothing: a button that kept the focus would still show
    // the ring it had, and its picture before Tab would hold it already.
    workspace->primaryButton()->update();
    QTest::qWait(200);
    tabRoundAndSeeTheRing(window, QStringLiteral("workspace-listening-") + variant.suffix, &reached);
    qInfo().noquote() << "reached:" << reached.join(QStringLiteral(", "));
}

void tst_KavrelKeyboardFocus::settingsControlsShowTheKeyboard_data()
{
    everyControlShowsWhereTheKeyboardIs_data();
}

// The settings window: its theme choices, switches and pickers.
void tst_KavrelKeyboardFocus::settingsControlsShowTheKeyboard()
{
    QFETCH(int, scheme);
    const Screenshots::Variant variant = applyRussianIn(scheme);
    AppTest::ProgramOverTheSession program(true);
    // The engine reads its texts from a store of its own: the whole window in Russian.
    program.engine.model->localization().setLanguage(KavrelAppLanguage::russian);
    program.app->openWindow(QStringLiteral("kavrel-settings"));
    QWidget *window = program.app->window(QStringLiteral("kavrel-settings"));
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::qWait(200);
    QStringList reached;
    tabRoundAndSeeTheRing(window, QStringLiteral("settings-") + variant.suffix, &reached);
    qInfo().noquote() << "reached:" << reached.join(QStringLiteral(", "));
}

void tst_KavrelKeyboardFocus::miniWindowControlsShowTheKeyboard_data()
{
    everyControlShowsWhereTheKeyboardIs_data();
}

// The mini window's buttons, once the user brought it forward.
void tst_KavrelKeyboardFocus::miniWindowControlsShowTheKeyboard()
{
    QFETCH(int, scheme);
    const Screenshots::Variant variant = applyRussianIn(scheme);
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    FakeSessionSurface session;
    session.update([](auto &state) {
        state.hasActiveSession = true;
        state.status = SubtitleStatus::listening;
    });
    KavrelMiniWindowCoordinator windows([] { return std::optional<X11WindowListSnapshot>(); });
    KavrelPresentationStore presentation(windows, [] { return true; });
    KavrelListeningMiniWindow mini(session, presentation, defaults, [] {});
    mini.show();
    mini.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&mini));
    QTest::qWait(200);
    QStringList reached;
    tabRoundAndSeeTheRing(&mini, QStringLiteral("mini-") + variant.suffix, &reached);
    qInfo().noquote() << "reached:" << reached.join(QStringLiteral(", "));
}

void tst_KavrelKeyboardFocus::keyboardLandsOnTheNextControl_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("stopped from the keyboard") << "stop";
    QTest::newRow("the start questions answered") << "questions";
    QTest::newRow("the start sheet closed with Escape") << "escape";
}

// Each action is started from the start/stop button with the keyboard; afterwards the keyboard
// is back on that button, which says what it does.
void tst_KavrelKeyboardFocus::keyboardLandsOnTheNextControl()
{
    QFETCH(QString, action);
    KavrelApp *questionsOwner = nullptr;
    MessageBoxListeningStartPrompts prompts(KavrelLocalizationStore::shared(), [&questionsOwner] {
        return questionsOwner ? questionsOwner->questionWindow() : nullptr;
    });
    AppTest::ProgramOverTheSession program(true);
    // The engine reads its texts from a store of its own: the whole window in Russian.
    program.engine.model->localization().setLanguage(KavrelAppLanguage::russian);
    questionsOwner = program.app.get();
    const auto ending = qScopeGuard([&] {
        questionsOwner = nullptr;
        program.engine.model->setStartPrompts(nullptr);
    });
    program.engine.model->setStartPrompts(&prompts);
    program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
    QWidget *window = program.mainWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    ContentView *workspace = nullptr;
    QTRY_VERIFY((workspace = window->findChild<ContentView *>()) && workspace->isVisible());
    PrimaryActionButton *primary = workspace->primaryButton();
    QTRY_COMPARE(QApplication::focusWidget(), primary);

    if (action == QLatin1String("stop")) {
        QVERIFY(program.engine.start());
        QVERIFY(program.engine.model->hasActiveSession());
        QTRY_VERIFY(primary->isEnabled());
        primary->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), primary);
        typeKey(Qt::Key_Space);
        QVERIFY(program.engine.settle([&] {
            return !program.engine.model->hasActiveSession() && !program.engine.model->isBusy()
                   && !program.engine.model->listeningSession()->isStopping();
        }, 15000));
    } else if (action == QLatin1String("questions")) {
        // The questions a start asks, answered from the keyboard: a new session, no microphone.
        program.surface->promptAndStartListening(false);
        QMessageBox *question = nullptr;
        QTRY_VERIFY((question = openQuestion()) && QApplication::activeWindow() == question);
        QPointer<QMessageBox> first = question;
        typeKey(Qt::Key_Return);
        QTRY_VERIFY((question = openQuestion()) && question != first && QApplication::activeWindow() == question);
        typeKey(Qt::Key_Escape);
        QVERIFY(program.engine.settle([&] { return program.engine.model->hasActiveSession() && !program.engine.model->isBusy(); }));
        QTRY_VERIFY(!openQuestion());
    } else {
        typeKey(Qt::Key_Space);
        ListeningSetupSheet *sheet = nullptr;
        QTRY_VERIFY((sheet = window->findChild<ListeningSetupSheet *>()) && sheet->isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), sheet);
        typeKey(Qt::Key_Escape);
        QTRY_VERIFY(!window->findChild<ListeningSetupSheet *>() || !window->findChild<ListeningSetupSheet *>()->isVisible());
    }

    QTRY_COMPARE(QApplication::activeWindow(), window);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), static_cast<QWidget *>(primary), 3000);
    QVERIFY(!spokenName(primary).isEmpty());
    if (program.engine.model->hasActiveSession())
        QVERIFY(program.engine.stop());
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("KAVREL_TEST_TRAY") && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    tst_KavrelKeyboardFocus test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_KavrelKeyboardFocus.moc"
