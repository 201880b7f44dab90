#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "session/KavrelListeningStarter.h"
#include "localization/KavrelLocalizationStore.h"
#include "app/KavrelNotifications.h"
#include "services/KavrelUpdateController.h"
#include "app/widgets/KavrelBackgroundCoordinator.h"
#include "app/widgets/KavrelMenuBarIcon.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "kit/widgets/KavrelSymbols.h"
#include "app/widgets/KavrelTrayItem.h"
#include "platform/UserDefaults.h"
#include "platform/X11WindowList.h"
#include "support/FakeBackend.h"
#include "support/FakeSessionSurface.h"
#include "support/Screenshots.h"
#include "support/TestAuth.h"
#include "support/X11TestMain.h"

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

struct Tray
{
    FakeBackend backend;
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("prefs.ini"))};
    FakeSessionSurface session;
    std::unique_ptr<AuthService> authService;
    std::unique_ptr<AuthSessionStore> authStore;
    KavrelMiniWindowCoordinator windows{[] { return std::optional<X11WindowListSnapshot>(); }};
    KavrelPresentationStore presentation{windows, [] { return true; }};
    std::unique_ptr<KavrelListeningStarter> starter;
    // The version feed on the fake backend, for a tray made with one.
    std::optional<QUrl> feed;
    KavrelUpdateController updates{[this](QObject *parent) { return new KavrelUpdater(feed, QStringLiteral("1.0"), parent); }};
    QStringList opened;
    // What opening a window does besides being noted; nothing unless a test shows real windows.
    std::function<void(const QString &)> onOpen;
    int quits = 0;
    std::unique_ptr<KavrelTrayItem> item;

    explicit Tray(bool signedIn = true, bool withFeed = false)
    {
        backend.start();
        if (withFeed)
            feed = backend.baseUrl().resolved(QUrl(QStringLiteral("/feed.json")));
        authService = TestAuth::signedInService(backend.baseUrl(), signedIn ? std::optional(TestAuth::defaultSession()) : std::nullopt);
        authStore = std::make_unique<AuthSessionStore>(authService.get());
        starter = std::make_unique<KavrelListeningStarter>(authStore.get(), &session);
        defaults.setInteger(QString::fromLatin1(KavrelMenuBarState::onboardingVersionKey), 1);
        item = std::make_unique<KavrelTrayItem>(session, *authStore, presentation, *starter, defaults, updates,
                                                [this](const QString &identifier) {
                                                    opened << identifier;
                                                    if (onOpen)
                                                        onOpen(identifier);
                                                });
        item->setQuitAction([this] { ++quits; });
    }

    ~Tray()
    {
        // The store's restore must end before the store goes.
        restored();
    }

    bool restored() { return QTest::qWaitFor([&] { return !authStore->isRestoringSession(); }); }

    // The menu's visible entries as "text" or "text (off)", separators as "-".
    QStringList entries(QMenu *menu = nullptr)
    {
        if (!menu) {
            item->rebuildMenu();
            menu = item->menu();
        }
        QStringList list;
        for (QAction *action : menu->actions()) {
            if (action->isSeparator())
                list << QStringLiteral("-");
            else
                list << action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (off)"));
        }
        return list;
    }

    QMenu *microphoneMenu()
    {
        item->rebuildMenu();
        for (QAction *action : item->menu()->actions()) {
            if (action->menu())
                return action->menu();
        }
        return nullptr;
    }

    QAction *action(const QString &text)
    {
        item->rebuildMenu();
        for (QAction *action : item->menu()->actions()) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }
};

QColor iconPixel(bool active, bool showsStatus, QPoint at)
{
    QImage image(QSize(64, 64), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    KavrelMenuBarIcon::icon(active, showsStatus).paint(&painter, image.rect());
    painter.end();
    return image.pixelColor(at);
}

} // namespace

class tst_KavrelTrayItem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void menuBarStates_data();
    void menuBarStates();
    void menuFollowsTheState();
    void microphoneSubmenu();
    void menuStartLeavesBackgroundOnlyModePromptStartDoesNot();
    void iconShowsTheSessionAndTheTooltipSaysListening();
    void windowsAndQuitFromTheMenu();
    void updateCheckWithoutFeedPointsToThePackage();
    void updateCheckIsOneBoxFromCheckingToTheAnswer();
    void updateCheckScreenshots();
    void trayHostShowsTheItem();
    void hidingEveryWindowKeepsTheTrayIcon();
    void settingsFromTheMenuComeToTheFront();
    void menuScreenshots();
};

void tst_KavrelTrayItem::initTestCase()
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    KavrelSymbols::setUsesIconTheme(false);
}

void tst_KavrelTrayItem::menuBarStates_data()
{
    QTest::addColumn<bool>("restoring");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<int>("onboarding");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("toggle");
    QTest::addColumn<bool>("toggleEnabled");
    QTest::addColumn<bool>("microphonesEnabled");
    QTest::newRow("fresh start") << false << true << 1 << false << false << false << "Ready to listen" << "Start Listening" << true << true;
    QTest::newRow("restoring comes first") << true << false << 0 << false << false << false << "Preparing session" << "Start Listening" << false << false;
    QTest::newRow("signed out") << false << false << 1 << false << false << false << "Grant access to continue" << "Start Listening" << false << false;
    QTest::newRow("onboarding not done") << false << true << 0 << false << false << false << "Grant access to continue" << "Start Listening" << false << false;
    QTest::newRow("listening") << false << true << 1 << true << false << false << "Listening" << "Stop Listening" << true << true;
    QTest::newRow("listening, busy") << false << true << 1 << true << false << true << "Listening" << "Stop Listening" << false << false;
    QTest::newRow("stopped") << false << true << 1 << false << true << false << "Listening stopped" << "Start Listening" << true << true;
    // A session that outlived its sign-in can still be stopped.
    QTest::newRow("listening after sign-out") << false << false << 1 << true << false << false << "Grant access to continue" << "Stop Listening" << true << false;
    QTest::newRow("listening while restoring") << true << true << 1 << true << false << false << "Preparing session" << "Stop Listening" << true << false;
}

void tst_KavrelTrayItem::menuBarStates()
{
    QFETCH(bool, restoring);
    QFETCH(bool, signedIn);
    QFETCH(int, onboarding);
    QFETCH(bool, active);
    QFETCH(bool, stopped);
    QFETCH(bool, busy);
    QFETCH(QString, title);
    QFETCH(QString, toggle);
    QFETCH(bool, toggleEnabled);
    QFETCH(bool, microphonesEnabled);
    for (const bool microphoneBusy : {false, true}) {
        if (microphoneBusy && !busy)
            continue;
        KavrelMenuBarState state;
        state.isRestoringSession = restoring;
        state.isAuthenticated = signedIn;
        state.permissionsOnboardingVersion = onboarding;
        state.hasActiveSession = active;
        state.status = stopped ? SubtitleStatus::stopped : SubtitleStatus::idle;
        state.isBusy = busy && !microphoneBusy;
        state.isMicrophoneBusy = busy && microphoneBusy;
        QCOMPARE(state.statusTitleKey(), title);
        QCOMPARE(state.toggleTitleKey(), toggle);
        QCOMPARE(state.isToggleEnabled(), toggleEnabled);
        QCOMPARE(state.isMicrophoneMenuEnabled(), microphonesEnabled);
    }
}

void tst_KavrelTrayItem::menuFollowsTheState()
{
    Tray tray(false);
    QVERIFY(tray.restored());
    QCOMPARE(tray.entries(), (QStringList{"Start Listening (off)", "Show КАВРЕЛ", "-", "Grant access to continue (off)",
                                          "Select microphone (off)", "Settings...", "Check for Updates...", "-",
                                          "Quit КАВРЕЛ completely"}));
    tray.session.update([](auto &s) {
        s.hasActiveSession = true;
        s.status = SubtitleStatus::listening;
    });
    QCOMPARE(tray.entries().mid(0, 4), (QStringList{"Stop Listening", "Show КАВРЕЛ", "-", "Grant access to continue (off)"}));
    tray.item->toggleListening();
    QCOMPARE(tray.session.commands, QStringList{QStringLiteral("stopActiveSession()")});

    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    const QStringList russian = tray.entries();
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    QCOMPARE(russian.value(0), QStringLiteral("Остановить прослушивание"));
}

void tst_KavrelTrayItem::microphoneSubmenu()
{
    Tray tray;
    QVERIFY(tray.restored());
    QCOMPARE(tray.entries(tray.microphoneMenu()),
             (QStringList{"Refresh microphones", "-", "No microphone devices available (off)"}));
    tray.session.update([](auto &s) {
        s.availableMicrophones = {{QStringLiteral("mic-1"), QStringLiteral("Built-in")}, {QStringLiteral("mic-2"), QStringLiteral("USB Headset")}};
        s.selectedMicrophoneID = QStringLiteral("mic-2");
    });
    QMenu *menu = tray.microphoneMenu();
    QVERIFY(menu->isEnabled());
    QCOMPARE(tray.entries(menu), (QStringList{"Refresh microphones", "-", "Built-in", "USB Headset (off)"}));
    menu->actions().at(0)->trigger();
    menu->actions().at(2)->trigger();
    QCOMPARE(tray.session.commands, (QStringList{"refreshAvailableMicrophones()", "selectMicrophone(mic-1)"}));
    QVERIFY(!menu->actions().at(2)->icon().isNull());
}

void tst_KavrelTrayItem::menuStartLeavesBackgroundOnlyModePromptStartDoesNot()
{
    {
        Tray tray;
        QVERIFY(tray.restored());
        tray.session.state.startsWithMicrophoneEnabled = true;
        tray.presentation.enterBackgroundOnlyMode();
        tray.action(QStringLiteral("Start Listening"))->trigger();
        QTRY_COMPARE(tray.session.commands, QStringList{QStringLiteral("promptAndStartListening(true)")});
        QTRY_VERIFY(!tray.presentation.isBackgroundOnly());
        QTRY_COMPARE(tray.opened, QStringList{QStringLiteral("kavrel-main")});
        // The tray item may go while the start runs; the start still ends against the stores.
    }
    {
        Tray tray;
        QVERIFY(tray.restored());
        KavrelBackgroundCoordinator coordinator(tray.session, tray.presentation, tray.windows, tray.defaults,
                                                [&](const QString &identifier) { tray.opened << identifier; });
        tray.presentation.enterBackgroundOnlyMode();
        coordinator.startListeningAfterAuthRefresh(*tray.starter);
        QTRY_COMPARE(tray.session.commands, QStringList{QStringLiteral("promptAndStartListening(false)")});
        QTest::qWait(20);
        QVERIFY(tray.presentation.isBackgroundOnly());
        QVERIFY(tray.opened.isEmpty());
    }
    {
        // A menu start whose menu and tray item are gone before the refresh ends.
        Tray tray;
        QVERIFY(tray.restored());
        tray.item->toggleListening();
        tray.item.reset();
        QTRY_COMPARE(tray.session.commands, QStringList{QStringLiteral("promptAndStartListening(false)")});
        QTRY_COMPARE(tray.opened, QStringList{QStringLiteral("kavrel-main")});
    }
}

void tst_KavrelTrayItem::iconShowsTheSessionAndTheTooltipSaysListening()
{
    Tray tray;
    QCOMPARE(tray.item->trayIcon().toolTip(), QStringLiteral("КАВРЕЛ"));
    tray.session.update([](auto &s) { s.hasActiveSession = true; });
    QCOMPARE(tray.item->trayIcon().toolTip(), QStringLiteral("Listening"));
    tray.presentation.enterBackgroundOnlyMode();
    QCOMPARE(tray.item->trayIcon().toolTip(), QStringLiteral("Listening"));

    // The red dot sits in the top-right corner only while the status is shown.
    const QPoint dot(56, 8);
    const QColor withDot = iconPixel(true, true, dot);
    QVERIFY(withDot.red() > 200 && withDot.green() < 60);
    const QColor hidden = iconPixel(true, false, dot);
    QVERIFY(!(hidden.red() > 200 && hidden.green() < 60));
    QVERIFY(!(iconPixel(false, true, dot).red() > 200 && iconPixel(false, true, dot).green() < 60));
    // Inactive is drawn fainter.
    QVERIFY(iconPixel(false, true, QPoint(32, 50)).alpha() < iconPixel(true, true, QPoint(32, 50)).alpha());
}

void tst_KavrelTrayItem::windowsAndQuitFromTheMenu()
{
    Tray tray;
    tray.presentation.enterBackgroundOnlyMode();
    tray.action(QStringLiteral("Settings..."))->trigger();
    QTRY_COMPARE(tray.opened, QStringList{QStringLiteral("kavrel-settings")});
    QVERIFY(!tray.presentation.isBackgroundOnly());
    tray.action(QStringLiteral("Show КАВРЕЛ"))->trigger();
    KavrelNotifications::defaultCenter().post(KavrelNotifications::openMainWindow);
    QTRY_COMPARE(tray.opened, (QStringList{"kavrel-settings", "kavrel-main", "kavrel-main"}));
    tray.action(QStringLiteral("Quit КАВРЕЛ completely"))->trigger();
    QCOMPARE(tray.quits, 1);
}

void tst_KavrelTrayItem::updateCheckWithoutFeedPointsToThePackage()
{
    Tray tray;
    QSignalSpy shown(tray.item.get(), &KavrelTrayItem::updateCheckShown);
    tray.action(QStringLiteral("Check for Updates..."))->trigger();
    QCOMPARE(shown.count(), 1);
    QVERIFY(shown.at(0).at(1).toString().contains(QStringLiteral("package manager")));
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->inherits("QMessageBox"))
            window->close();
    }
}

QList<QMessageBox *> updateBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible())
            boxes.append(box);
    }
    return boxes;
}

// With a slow feed, the user's request shows at once that the check is under way, and asking
// again while it runs brings that box forward: one box, which then gives the one answer.
void tst_KavrelTrayItem::updateCheckIsOneBoxFromCheckingToTheAnswer()
{
    Tray tray(true, true);
    const FakeResponse newer = FakeResponse::json(200, QByteArray(R"({"version":"1.5"})"));
    tray.backend.route("GET", QStringLiteral("/feed.json"), FakeResponse(newer).withDelay(500));
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    QSignalSpy shown(tray.item.get(), &KavrelTrayItem::updateCheckShown);
    for (int request = 1; request <= 3; ++request) {
        tray.action(QStringLiteral("Проверить обновления..."))->trigger();
        QCOMPARE(updateBoxes().size(), 1);
        QCOMPARE(updateBoxes().constFirst()->text(), QStringLiteral("Проверяем обновления..."));
        QCOMPARE(updateBoxes().constFirst()->windowTitle(), QStringLiteral("Проверка обновлений"));
    }
    QPointer<QMessageBox> box = updateBoxes().constFirst();
    QTRY_COMPARE(box->text(), QStringLiteral("Доступна версия КАВРЕЛ 1.5. Обновите её через менеджер пакетов системы."));
    QCOMPARE(box->windowTitle(), QStringLiteral("Доступно обновление"));
    QTest::qWait(700);
    QCOMPARE(updateBoxes(), QList<QMessageBox *>{box});
    QCOMPARE(shown.count(), 4);
    QCOMPARE(tray.backend.requestCount(QStringLiteral("/feed.json")), 1);

    // Asked again, the same box checks again; put away while it runs, it stays away.
    tray.backend.route("GET", QStringLiteral("/feed.json"), FakeResponse::hang());
    tray.updates.updaterController().setTimeout(std::chrono::milliseconds(400));
    QSignalSpy answers(&tray.updates.updaterController(), &KavrelUpdater::userCheckFinished);
    tray.action(QStringLiteral("Проверить обновления..."))->trigger();
    QCOMPARE(updateBoxes(), QList<QMessageBox *>{box});
    QCOMPARE(box->text(), QStringLiteral("Проверяем обновления..."));
    box->button(QMessageBox::Cancel)->click();
    QTRY_VERIFY(!box);
    QVERIFY(answers.wait());
    QTest::qWait(50);
    QVERIFY(updateBoxes().isEmpty());

    // A failure reads in Russian all through.
    tray.action(QStringLiteral("Проверить обновления..."))->trigger();
    QVERIFY(answers.wait());
    QCOMPARE(updateBoxes().size(), 1);
    QCOMPARE(updateBoxes().constFirst()->text(), QStringLiteral("Не удалось проверить обновления: Время ожидания запроса истекло."));
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    updateBoxes().constFirst()->close();
}

void tst_KavrelTrayItem::updateCheckScreenshots()
{
    Tray tray(true, true);
    tray.backend.route("GET", QStringLiteral("/feed.json"),
                       FakeResponse::json(200, QByteArray(R"({"version":"1.5"})")).withDelay(300));
    QSignalSpy answers(&tray.updates.updaterController(), &KavrelUpdater::userCheckFinished);
    for (const auto &variant : Screenshots::variants()) {
        QWidget scene; // sets the language the box reads its texts in
        Screenshots::apply(&scene, variant);
        // The buttons' words are Qt's own, in its catalogue, as the program installs it.
        KavrelLocalizationStore::shared().installQtTranslations();
        tray.action(KavrelLocalizationStore::shared().localized(QStringLiteral("Check for Updates...")))->trigger();
        QPointer<QMessageBox> box = updateBoxes().constFirst();
        box->setPalette(scene.palette());
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QVERIFY(!Screenshots::write(box, QStringLiteral("update-check-running"), variant).isEmpty());
        QVERIFY(answers.wait());
        // The box takes the size of its new text once the event loop lays it out again.
        QCoreApplication::sendPostedEvents(box, QEvent::LayoutRequest);
        QVERIFY(!Screenshots::write(box, QStringLiteral("update-check-answer"), variant).isEmpty());
        box->close();
        QTRY_VERIFY(!box);
    }
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    KavrelLocalizationStore::shared().installQtTranslations();
}

void tst_KavrelTrayItem::trayHostShowsTheItem()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no tray host: run under scripts/test, which starts one");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY(KavrelTrayItem::isAvailable());
    Tray tray;
    QVERIFY(tray.item->show());
    QTRY_VERIFY(tray.item->trayIcon().geometry().isValid());
    QVERIFY(tray.item->trayIcon().geometry().width() > 0);
    tray.session.update([](auto &s) { s.hasActiveSession = true; });
    QCOMPARE(tray.item->trayIcon().toolTip(), QStringLiteral("Listening"));
}

// Under an XEmbed tray host the icon is a top-level widget of the program; "Hide completely"
// must leave it docked, or nothing brings the windows back.
void tst_KavrelTrayItem::hidingEveryWindowKeepsTheTrayIcon()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no tray host: run under scripts/test, which starts one");
    Tray tray;
    QVERIFY(tray.item->show());
    QTRY_VERIFY(tray.item->trayIcon().geometry().width() > 8);
    const QRect docked = tray.item->trayIcon().geometry();
    QWidget *iconWidget = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QSystemTrayIconSys"))
            iconWidget = widget;
    }
    QVERIFY(iconWidget);
    QVERIFY(!KavrelMiniWindowCoordinator::isProgramWindow(iconWidget));

    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("КАВРЕЛ"));
    mainWindow.show();
    QWidget settings;
    settings.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    tray.presentation.enterBackgroundOnlyMode();
    QVERIFY(tray.presentation.isBackgroundOnly());
    QVERIFY(!mainWindow.isVisible());
    QVERIFY(!settings.isVisible());
    QVERIFY(iconWidget->isVisible());
    // The host keeps the icon at its size; a hidden embedded window shrinks to a sliver.
    QTest::qWait(300);
    QCOMPARE(tray.item->trayIcon().geometry().size(), docked.size());

    // The menu's "Show" brings the window back beside the icon.
    tray.action(QStringLiteral("Show КАВРЕЛ"))->trigger();
    QVERIFY(!tray.presentation.isBackgroundOnly());
    QTRY_COMPARE(tray.opened, QStringList{QStringLiteral("kavrel-main")});
    QVERIFY(iconWidget->isVisible());
    QCOMPARE(tray.item->trayIcon().geometry().size(), docked.size());
}

// Settings already open behind the main window: the menu's "Settings..." brings them to the
// front, and they stay there once the event loop and the window manager have settled.
void tst_KavrelTrayItem::settingsFromTheMenuComeToTheFront()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no tray host: run under scripts/test, which starts one");
    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("КАВРЕЛ"));
    mainWindow.setGeometry(120, 120, 640, 420);
    QWidget settings;
    settings.setWindowTitle(QStringLiteral("Settings"));
    settings.setGeometry(220, 180, 420, 300);
    Tray tray;
    tray.onOpen = [&](const QString &identifier) {
        QWidget *window = identifier == QLatin1String("kavrel-settings") ? &settings : &mainWindow;
        window->show();
        window->raise();
        window->activateWindow();
    };
    settings.show();
    QVERIFY(QTest::qWaitForWindowExposed(&settings));
    mainWindow.show();
    mainWindow.raise();
    mainWindow.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&mainWindow));

    tray.action(QStringLiteral("Settings..."))->trigger();
    QVERIFY(QTest::qWaitForWindowActive(&settings));
    QTest::qWait(400);
    QVERIFY(settings.isActiveWindow());
    QCOMPARE(QGuiApplication::focusWindow(), settings.windowHandle());
    // Stacked above the main window, as the window manager lists them (front to back).
    X11WindowList list;
    const std::optional<X11WindowListSnapshot> snapshot = list.read();
    QVERIFY(snapshot);
    auto place = [&](const QWidget &window) {
        const auto &windows = snapshot->windows;
        const auto found = std::find_if(windows.begin(), windows.end(),
                                        [&](const X11Window &listed) { return listed.id == quint32(window.winId()); });
        return found == windows.end() ? -1 : int(found - windows.begin());
    };
    QVERIFY(place(settings) >= 0);
    QVERIFY(place(mainWindow) >= 0);
    QVERIFY2(place(settings) < place(mainWindow), "the settings are behind the main window");
}

void tst_KavrelTrayItem::menuScreenshots()
{
    Tray tray;
    QVERIFY(tray.restored());
    tray.session.update([](auto &s) {
        s.hasActiveSession = true;
        s.status = SubtitleStatus::listening;
        s.availableMicrophones = {{QStringLiteral("mic-1"), QStringLiteral("Built-in Microphone")},
                                  {QStringLiteral("mic-2"), QStringLiteral("USB Headset")}};
        s.selectedMicrophoneID = QStringLiteral("mic-1");
    });
    for (const auto &variant : Screenshots::variants()) {
        KavrelLocalizationStore::shared().setLanguage(variant.language);
        tray.item->rebuildMenu();
        QMenu *microphones = tray.microphoneMenu();
        for (QMenu *menu : {tray.item->menu(), microphones}) {
            Screenshots::apply(menu, variant);
            tray.item->rebuildMenu(); // icons take the palette's colour
        }
        microphones = tray.microphoneMenu();
        Screenshots::apply(microphones, variant);
        Screenshots::apply(tray.item->menu(), variant);
        tray.item->menu()->adjustSize();
        microphones->adjustSize();
        // The item under the pointer, as the user meets it in every menu.
        tray.item->menu()->setActiveAction(tray.action(KavrelLocalizationStore::shared().localized(QStringLiteral("Show КАВРЕЛ"))));
        microphones->setActiveAction(microphones->actions().constLast());
        QVERIFY(tray.item->menu()->activeAction() && microphones->activeAction()->isEnabled());
        QVERIFY(!Screenshots::write(tray.item->menu(), QStringLiteral("tray-menu"), variant).isEmpty());
        QVERIFY(!Screenshots::write(microphones, QStringLiteral("tray-menu-microphones"), variant).isEmpty());
    }
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);

    // The icon itself, large, in its three looks.
    QWidget strip;
    strip.resize(200, 64);
    QImage image(QSize(400, 128), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(QColor(40, 40, 44));
    QPainter painter(&image);
    KavrelMenuBarIcon::paint(painter, QRectF(4, 4, 56, 56), false, true);
    KavrelMenuBarIcon::paint(painter, QRectF(72, 4, 56, 56), true, true);
    KavrelMenuBarIcon::paint(painter, QRectF(140, 4, 56, 56), true, false);
    painter.end();
    QVERIFY(image.save(Screenshots::directory() + QStringLiteral("/tray-icon.png")));
}

// With a tray host under the test services, the tray is tested on the real X server.
KAVREL_X11_TEST_MAIN(tst_KavrelTrayItem, "KAVREL_TEST_TRAY")

#include "tst_KavrelTrayItem.moc"
