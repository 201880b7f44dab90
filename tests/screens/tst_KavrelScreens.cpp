#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "services/KavrelUpdateController.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "kit/widgets/KavrelAppearTransition.h"
#include "app/widgets/KavrelAppearanceController.h"
#include "kit/widgets/KavrelSymbols.h"
#include "history/widgets/KavrelHistoryView.h"
#include "platform/UserDefaults.h"
#include "screens/KavrelAvatarLoader.h"
#include "screens/KavrelBillingDisplay.h"
#include "screens/KavrelProfileModel.h"
#include "screens/KavrelSettingsModel.h"
#include "screens/KavrelWorkspaceShellModel.h"
#include "screens/widgets/KavrelAvatarView.h"
#include "screens/widgets/KavrelBillingUsageCard.h"
#include "screens/widgets/KavrelProfileView.h"
#include "screens/widgets/KavrelScreenButton.h"
#include "kit/widgets/KavrelSwitch.h"
#include "screens/widgets/KavrelSettingsUpdateRow.h"
#include "screens/widgets/KavrelSettingsView.h"
#include "screens/widgets/KavrelSidebarButton.h"
#include "screens/widgets/KavrelSidebarRevealTab.h"
#include "screens/widgets/KavrelSidebarUpdateButton.h"
#include "screens/widgets/KavrelSidebarView.h"
#include "screens/widgets/KavrelSidebarVisibilityButton.h"
#include "screens/widgets/KavrelThemeOptionButton.h"
#include "screens/widgets/KavrelWorkspaceShellView.h"
#include "services/KavrelBillingService.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/ScreenFitCheck.h"
#include "support/Screenshots.h"
#include "support/TestAuth.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QJsonDocument>
#include <QLabel>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QScreen>
#include <QTest>

#include <memory>

namespace {

const QString summaryPath = QString::fromLatin1(FakeBillingBackend::summaryPath);
const QString avatarPath = QStringLiteral("/avatars/ada.png");
const QString feedPath = QStringLiteral("/feed.json");

QByteArray avatarPicture()
{
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QJsonObject summaryJson(const QString &planName, const QString &planCode, const QString &status, int included, int used,
                        bool cancelAtPeriodEnd)
{
    const int remaining = std::max(0, included - used);
    return QJsonObject{
        {QStringLiteral("serverTime"), QStringLiteral("2026-12-07T10:00:00Z")},
        {QStringLiteral("subscription"),
         QJsonObject{{QStringLiteral("planCode"), planCode},
                     {QStringLiteral("planName"), planName},
                     {QStringLiteral("status"), status},
                     {QStringLiteral("currentPeriodEnd"), QStringLiteral("2026-12-31T12:00:00Z")},
                     {QStringLiteral("cancelAtPeriodEnd"), cancelAtPeriodEnd}}},
        {QStringLiteral("usage"),
         QJsonObject{{QStringLiteral("meteringUnit"), QStringLiteral("second")},
                     {QStringLiteral("includedSeconds"), included * 60},
                     {QStringLiteral("usedSeconds"), used * 60},
                     {QStringLiteral("remainingSeconds"), remaining * 60},
                     {QStringLiteral("includedMinutes"), included},
                     {QStringLiteral("usedMinutes"), used},
                     {QStringLiteral("remainingMinutes"), remaining},
                     {QStringLiteral("isLimitReached"), remaining == 0},
                     {QStringLiteral("canUseTranscription"), remaining > 0}}},
    };
}

// A signed-in user over the fake backend, with the settings in a temporary file.
struct Screens
{
    FakeBackend backend;
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("prefs.ini"))};
    std::unique_ptr<FakeAuthBackend> auth;
    std::unique_ptr<FakeBillingBackend> billing;
    std::unique_ptr<AuthService> authService;
    std::unique_ptr<AuthSessionStore> store;
    KavrelAvatarLoader avatars;
    std::unique_ptr<KavrelUpdateController> updates;
    QStringList openedWindows;
    QList<QUrl> openedUrls;

    explicit Screens(bool signedIn = true, std::optional<QString> avatarURL = std::nullopt)
    {
        backend.start();
        backend.route("GET", avatarPath, FakeResponse::text(200, avatarPicture(), "image/png"));
        auth = std::make_unique<FakeAuthBackend>(&backend);
        billing = std::make_unique<FakeBillingBackend>(&backend);
        AuthSession session = TestAuth::defaultSession();
        session.user.avatarURL = avatarURL;
        auth->addAccount(session.user.email, QStringLiteral("secret-password"), session.user.displayName, false);
        auth->registerSession(session);
        if (avatarURL)
            auth->setProfileOverride({{QStringLiteral("avatar_url"), *avatarURL}});
        authService = TestAuth::signedInService(backend.baseUrl(), signedIn ? std::optional(session) : std::nullopt);
        store = std::make_unique<AuthSessionStore>(authService.get());
        if (!QTest::qWaitFor([this] { return !store->isRestoringSession(); }))
            qWarning("the stored session was still being restored after 5 s");
        const QUrl feed = backend.baseUrl().resolved(QUrl(feedPath));
        updates = std::make_unique<KavrelUpdateController>(
            [feed](QObject *parent) { return new KavrelUpdater(feed, QStringLiteral("1.0"), parent); });
    }

    bool announceUpdate()
    {
        backend.route("GET", feedPath, FakeResponse::json(200, QByteArrayLiteral(R"({"version":"2.1.0"})")));
        updates->updaterController().checkForUpdateInformation();
        return QTest::qWaitFor([this] { return updates->availableUpdateDisplayVersion().has_value(); });
    }

    std::unique_ptr<KavrelProfileView> makeProfile()
    {
        auto service = std::make_unique<KavrelBillingService>(authService.get(), TestAuth::configurationFor(backend.baseUrl()));
        return std::make_unique<KavrelProfileView>(store.get(), std::move(service), &avatars,
                                                   [this](const QUrl &url) { openedUrls << url; });
    }

    std::unique_ptr<KavrelWorkspaceShellView> makeShell()
    {
        KavrelWorkspaceShellView::Dependencies dependencies;
        dependencies.defaults = &defaults;
        dependencies.authStore = store.get();
        dependencies.updateController = updates.get();
        dependencies.avatarLoader = &avatars;
        dependencies.openWindow = [this](const QString &identifier) { openedWindows << identifier; };
        dependencies.makeWorkspace = [] {
            auto *placeholder = new QLabel(QStringLiteral("Workspace"));
            placeholder->setAlignment(Qt::AlignCenter);
            return placeholder;
        };
        dependencies.makeProfile = [this] { return makeProfile().release(); };
        dependencies.makeHistory = [] { return new QLabel(QStringLiteral("History")); };
        auto shell = std::make_unique<KavrelWorkspaceShellView>(std::move(dependencies));
        shell->setAnimationDuration(1);
        return shell;
    }
};

bool waitForPass(KavrelProfileView &view)
{
    const bool done = QTest::qWaitFor([&] { return !view.model()->isRefreshingProfile(); });
    view.refresh();
    return done;
}

template<typename T>
T *child(QWidget *parent, const QString &name)
{
    return parent->findChild<T *>(name);
}

void drag(QWidget *widget, QPoint from, QPoint to)
{
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), widget->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, to);
}

} // namespace

class tst_KavrelScreens : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void shellSectionsAndSettingsButton();
    void shellSidebarButtonAndTab();
    void sidebarUpdateButtonAndAccountPanel();
    void sidebarKeepsWholeButtonsWhenShort_data();
    void sidebarKeepsWholeButtonsWhenShort();
    void settingsWorkFromTheKeyboard();
    void settingsClosesFromTheKeyboard_data();
    void settingsClosesFromTheKeyboard();
    void profileShowsPlanAndOpensBilling();
    void profileBillingFailureAndRetry();
    void avatarsLoadOnlyOverHttp();
    void shellScreenshots();
    void settingsScreenshots();
    void profileScreenshots();
};

void tst_KavrelScreens::initTestCase()
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    KavrelSymbols::setUsesIconTheme(false);
}

void tst_KavrelScreens::shellSectionsAndSettingsButton()
{
    Screens screens;
    auto shell = screens.makeShell();
    shell->resize(1000, 820);
    shell->show();
    // 760 × 820 where the screen has the room; on a shorter one the height gives way.
    QCOMPARE(shell->minimumSize().width(), 760);
    QVERIFY(shell->minimumSize().height() <= std::min(820, shell->screen()->availableGeometry().height()));
    QCOMPARE(shell->currentSection()->objectName(), QStringLiteral("workspace"));

    const QList<KavrelSidebarButton *> buttons = shell->sidebar()->sectionButtons();
    QCOMPARE(buttons.size(), 3);
    QVERIFY(buttons.at(0)->isSelected());
    QTest::mouseClick(buttons.at(1), Qt::LeftButton);
    QCOMPARE(shell->currentSection()->objectName(), QStringLiteral("profile"));
    QVERIFY(buttons.at(1)->isSelected() && !buttons.at(0)->isSelected());

    // Settings opens its window and changes nothing here.
    QTest::mouseClick(shell->sidebar()->settingsButton(), Qt::LeftButton);
    QCOMPARE(screens.openedWindows, QStringList{QStringLiteral("kavrel-settings")});
    QCOMPARE(shell->model()->selectedSection(), KavrelAppSection::profile);
    QVERIFY(!shell->sidebar()->settingsButton()->isSelected());

    // Every section gets a fresh view; the profile's state does not survive leaving it.
    QPointer<QWidget> profile = shell->currentSection();
    QTest::mouseClick(buttons.at(2), Qt::LeftButton);
    QCOMPARE(shell->currentSection()->objectName(), QStringLiteral("history"));
    QVERIFY(QTest::qWaitFor([&] { return profile.isNull(); }));

    // Without factories of its own the shell makes the real profile and history screens.
    KavrelWorkspaceShellView::Dependencies plain;
    plain.defaults = &screens.defaults;
    plain.authStore = screens.store.get();
    KavrelWorkspaceShellView bare(plain);
    bare.model()->selectSection(KavrelAppSection::history);
    QVERIFY(qobject_cast<KavrelHistoryView *>(bare.currentSection()));
    bare.model()->selectSection(KavrelAppSection::profile);
    QVERIFY(qobject_cast<KavrelProfileView *>(bare.currentSection()));
}

void tst_KavrelScreens::shellSidebarButtonAndTab()
{
    Screens screens;
    auto shell = screens.makeShell();
    shell->resize(1000, 820);
    shell->show();
    KavrelSidebarVisibilityButton *toolbar = shell->visibilityButton();
    KavrelSidebarRevealTab *tab = shell->revealTab();
    QVERIFY(!tab->isVisible());
    QCOMPARE(toolbar->toolTip(), QStringLiteral("Hide sidebar"));

    QTest::mouseClick(toolbar, Qt::LeftButton);
    // The tab fades in from the edge while the sidebar slides out.
    QVERIFY(tab->isVisible());
    QVERIFY(tab->graphicsEffect());
    shell->finishAnimation();
    QVERIFY(!shell->isAnimating());
    QVERIFY(!shell->sidebar()->isVisible());
    QVERIFY(tab->isVisible());
    QVERIFY(!tab->graphicsEffect());
    QCOMPARE(toolbar->toolTip(), QStringLiteral("Show sidebar"));
    QCOMPARE(tab->x(), 0);

    // Short drags, and drags towards the edge, leave it hidden; a long one reveals it.
    const QPoint middle = tab->rect().center();
    drag(tab, middle, middle + QPoint(12, 0));
    drag(tab, middle, middle + QPoint(-20, 0));
    QVERIFY(shell->model()->isSidebarHidden());
    drag(tab, middle, middle + QPoint(13, 0));
    QVERIFY(tab->isVisible()); // leaving
    // The sidebar slides in whole, from the leading edge, fading in; it is never squeezed.
    QCOMPARE(shell->sidebar()->width(), KavrelSidebarView::columnWidth);
    QVERIFY(shell->sidebar()->x() <= 0);
    QVERIFY(shell->sidebar()->graphicsEffect());
    shell->finishAnimation();
    QVERIFY(!tab->isVisible());
    QVERIFY(!tab->graphicsEffect());
    QVERIFY(!shell->model()->isSidebarHidden());
    QVERIFY(shell->sidebar()->isVisible());
    QCOMPARE(shell->sidebar()->width(), KavrelSidebarView::columnWidth);
    QCOMPARE(shell->sidebar()->x(), 0);
    QVERIFY(!shell->sidebar()->graphicsEffect());

    // Focus mode written by the workspace hides it; a click on the tab shows it and ends focus mode.
    screens.defaults.setBool(QString::fromLatin1(KavrelWorkspaceShellModel::focusModeKey), true);
    shell->finishAnimation();
    QVERIFY(tab->isVisible());
    QTest::mouseClick(tab, Qt::LeftButton);
    QVERIFY(!shell->model()->isSidebarHidden());
    QCOMPARE(screens.defaults.boolValue(QString::fromLatin1(KavrelWorkspaceShellModel::focusModeKey)), false);

    // The keyboard reaches the tab as well.
    QTest::mouseClick(toolbar, Qt::LeftButton);
    tab->setFocus();
    QTest::keyClick(tab, Qt::Key_Space);
    QVERIFY(!shell->model()->isSidebarHidden());
}

void tst_KavrelScreens::sidebarUpdateButtonAndAccountPanel()
{
    {
        Screens screens;
        auto shell = screens.makeShell();
        shell->show();
        KavrelSidebarView *sidebar = shell->sidebar();
        QVERIFY(!sidebar->updateButton()->isVisible());
        QVERIFY(sidebar->accountPanel()->isVisible());
        QCOMPARE(sidebar->avatar()->initials(), QStringLiteral("AL"));
        QVERIFY(screens.announceUpdate());
        QVERIFY(sidebar->updateButton()->isVisible());
        QVERIFY(sidebar->updateButtonTransition()->isRunning());
        shell->finishAnimation();
        QVERIFY(sidebar->updateButton()->isVisible());
        QVERIFY(!sidebar->updateButton()->graphicsEffect());

        // The account panel's menu signs out; the panel goes with the user.
        sidebar->showAccountMenu(sidebar->accountPanel()->mapToGlobal(QPoint(10, 10)));
        auto *signOut = sidebar->findChild<QAction *>(QStringLiteral("signOutAction"));
        QVERIFY(signOut);
        QCOMPARE(signOut->text(), QStringLiteral("Sign out"));
        signOut->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !screens.store->isAuthenticated(); }));
        QVERIFY(!sidebar->accountPanel()->isVisible());
    }
    {
        Screens signedOut(false);
        auto shell = signedOut.makeShell();
        shell->show();
        QVERIFY(!shell->sidebar()->accountPanel()->isVisible());
        QCOMPARE(shell->sidebar()->sectionButtons().size(), 3);
    }
}

void tst_KavrelScreens::sidebarKeepsWholeButtonsWhenShort_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("showsMark");
    QTest::newRow("roomy") << 820 << true;
    QTest::newRow("1280 x 720 under a title bar") << 680 << false;
    QTest::newRow("and under a panel") << 640 << false;
}

void tst_KavrelScreens::sidebarKeepsWholeButtonsWhenShort()
{
    QFETCH(int, height);
    QFETCH(bool, showsMark);
    // Russian: "Рабочая область" takes two lines.
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    Screens screens;
    QVERIFY(screens.announceUpdate());
    KavrelSidebarView::Dependencies dependencies;
    dependencies.authStore = screens.store.get();
    dependencies.updateController = screens.updates.get();
    // As the shell holds it: in a strip of the window's height, whatever the column needs.
    QWidget strip;
    KavrelSidebarView sidebar(std::move(dependencies), &strip);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    strip.resize(KavrelSidebarView::columnWidth, height);
    sidebar.setGeometry(strip.rect());
    strip.show();
    sidebar.updateButtonTransition()->finish();
    QCoreApplication::processEvents();
    sidebar.layout()->activate();

    QCOMPARE(sidebar.findChild<QWidget *>(QStringLiteral("appMark"))->isVisible(), showsMark);
    QList<QWidget *> parts{sidebar.settingsButton(), sidebar.updateButton(), sidebar.accountPanel()};
    for (KavrelSidebarButton *button : sidebar.sectionButtons())
        parts.append(button);
    QCOMPARE(sidebar.sectionButtons().first()->text(), QStringLiteral("Рабочая область"));
    for (QWidget *part : std::as_const(parts)) {
        const QString what = part->metaObject()->className() + QStringLiteral(" at ") + QString::number(part->y()) + QLatin1Char('+')
                             + QString::number(part->height());
        QVERIFY2(part->isVisible(), qPrintable(what));
        QVERIFY2(sidebar.rect().contains(part->geometry()), qPrintable(what));
        QVERIFY2(part->height() >= part->minimumSizeHint().height(), qPrintable(what));
    }
}

void tst_KavrelScreens::settingsWorkFromTheKeyboard()
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    defaults.setString(QString::fromLatin1(KavrelAppearance::defaultsKey), QStringLiteral("amber"));
    int closes = 0;
    int checks = 0;
    KavrelSettingsModel model(defaults, [&closes] { ++closes; });
    KavrelSettingsView view(model, [&checks] { ++checks; });
    view.resize(600, 560);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const QList<KavrelThemeOptionButton *> options = view.themeOptions();
    QCOMPARE(options.size(), 3);
    QVERIFY2(options.at(0)->isSelected(), "an unknown stored value shows System");
    QVERIFY(view.miniWindowSwitch()->isChecked());
    QCOMPARE(view.updateRow()->toolTip(), KavrelSettingsUpdateRow::tooltipText());

    // Tab walks the controls in reading order.
    options.at(0)->setFocus(Qt::TabFocusReason);
    QVERIFY(options.at(0)->hasFocus());
    QTest::keyClick(options.at(0), Qt::Key_Right);
    QTest::keyClick(options.at(1), Qt::Key_Right);
    QVERIFY(options.at(2)->hasFocus());
    QTest::keyClick(options.at(2), Qt::Key_Space);
    QCOMPARE(defaults.stringValue(QString::fromLatin1(KavrelAppearance::defaultsKey)), QStringLiteral("dark"));
    QVERIFY(options.at(2)->isSelected() && !options.at(0)->isSelected());
    // The tile springs over and settles fully on the new choice.
    QVERIFY(options.at(2)->isAnimating() && options.at(0)->isAnimating());
    QVERIFY(QTest::qWaitFor([&] { return !options.at(2)->isAnimating() && !options.at(0)->isAnimating(); }));
    QCOMPARE(options.at(2)->highlight(), 1.0);
    QCOMPARE(options.at(0)->highlight(), 0.0);
    QCOMPARE(options.at(1)->highlight(), 0.0);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), view.miniWindowSwitch());
    QTest::keyClick(view.miniWindowSwitch(), Qt::Key_Space);
    QCOMPARE(defaults.boolValue(QString::fromLatin1(KavrelSettingsModel::miniWindowEnabledKey)), false);
    QCOMPARE(closes, 1);
    QTest::keyClick(view.miniWindowSwitch(), Qt::Key_Space);
    QCOMPARE(closes, 1);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), view.updateRow());
    QTest::keyClick(view.updateRow(), Qt::Key_Return);
    QCOMPARE(checks, 1);

    // Smaller than its content, the page scrolls.
    QCOMPARE(view.minimumSize(), QSize(560, 520));
    view.setMinimumSize(0, 0);
    view.resize(560, 300);
    QTest::qWait(10);
    QVERIFY(view.scrollArea()->verticalScrollBar()->maximum() > 0);
    options.at(2)->setFocus(Qt::BacktabFocusReason);
    QCOMPARE(view.scrollArea()->verticalScrollBar()->value(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), view.updateRow());
    QVERIFY(view.scrollArea()->verticalScrollBar()->value() > 0);
}

void tst_KavrelScreens::settingsClosesFromTheKeyboard_data()
{
    QTest::addColumn<QKeyCombination>("keys");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Escape") << QKeyCombination(Qt::Key_Escape) << true;
    QTest::newRow("Ctrl+W") << QKeyCombination(Qt::ControlModifier, Qt::Key_W) << true;
    QTest::newRow("W alone") << QKeyCombination(Qt::Key_W) << false;
}

void tst_KavrelScreens::settingsClosesFromTheKeyboard()
{
    QFETCH(QKeyCombination, keys);
    QFETCH(bool, closes);
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    KavrelSettingsModel model(defaults, [] {});
    KavrelSettingsView view(model, [] {});
    view.resize(600, 560);
    view.show();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    // Wherever the keyboard is in it.
    view.miniWindowSwitch()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view.windowHandle(), keys.key(), keys.keyboardModifiers());
    QCOMPARE(view.isVisible(), !closes);
    QCOMPARE(defaults.boolValue(QString::fromLatin1(KavrelSettingsModel::miniWindowEnabledKey), true), true);
}

void tst_KavrelScreens::profileShowsPlanAndOpensBilling()
{
    Screens screens;
    // A free plan shows the web-billing action and the beta note.
    screens.billing->failNext(FakeBillingBackend::summaryPath,
                              FakeResponse::json(200, summaryJson(QStringLiteral("Free"), QStringLiteral("free"),
                                                                  QStringLiteral("active"), 60, 45, false)));
    auto view = screens.makeProfile();
    view->resize(900, 1400);
    view->show();
    QVERIFY(child<QWidget>(view.get(), QStringLiteral("statusStrip")));
    QVERIFY(!view->refreshButton()->isEnabled());
    QVERIFY(waitForPass(*view));
    QVERIFY(view->refreshButton()->isEnabled());

    QVERIFY(child<QWidget>(view.get(), QStringLiteral("betaNote")));
    auto *action = child<KavrelCapsuleButton>(view.get(), QStringLiteral("billingActionButton"));
    QVERIFY(action);
    QCOMPARE(action->text(), QStringLiteral("Update"));
    QTest::mouseClick(action, Qt::LeftButton);
    QCOMPARE(screens.openedUrls, QList<QUrl>{KavrelBillingDisplay::billingURL()});
    // Switching the appearance recolours the texts at once.
    auto *title = view->findChild<QLabel *>();
    QVERIFY(title);
    view->setPalette(KavrelAppearanceController::palette(KavrelColorScheme::light));
    const QColor light = title->palette().color(QPalette::WindowText);
    view->setPalette(KavrelAppearanceController::palette(KavrelColorScheme::dark));
    QCOMPARE(title->palette().color(QPalette::WindowText), KavrelProfileTheme::primaryText.resolve(KavrelColorScheme::dark));
    QVERIFY(light != title->palette().color(QPalette::WindowText));

    auto *usage = view->findChild<KavrelBillingUsageCard *>();
    QVERIFY(usage);
    QVERIFY(usage->barFillWidth() > 10);

    // The paid plan on the next refresh shows neither.
    QTest::mouseClick(view->refreshButton(), Qt::LeftButton);
    QVERIFY(waitForPass(*view));
    QVERIFY(!child<QWidget>(view.get(), QStringLiteral("betaNote")));
    QVERIFY(!child<QWidget>(view.get(), QStringLiteral("billingActionButton")));

    // Signing out from the footer.
    QTest::mouseClick(view->signOutButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !screens.store->isAuthenticated(); }));
    view->refresh();
    QVERIFY(child<QWidget>(view.get(), QStringLiteral("noAccountText")));
}

void tst_KavrelScreens::profileBillingFailureAndRetry()
{
    Screens screens;
    screens.billing->failNext(FakeBillingBackend::summaryPath,
                              FakeBillingBackend::problem(503, QStringLiteral("Service Unavailable"), std::nullopt));
    auto view = screens.makeProfile();
    view->resize(900, 1200);
    view->show();
    QVERIFY(waitForPass(*view));
    QVERIFY(child<QWidget>(view.get(), QStringLiteral("inlineErrorCard")));
    auto *retry = child<KavrelCapsuleButton>(view.get(), QStringLiteral("inlineErrorAction"));
    QVERIFY(retry);
    QTest::mouseClick(retry, Qt::LeftButton);
    QVERIFY(waitForPass(*view));
    QVERIFY(child<QWidget>(view.get(), QStringLiteral("billingSummary")));
    QVERIFY(!child<QWidget>(view.get(), QStringLiteral("inlineErrorCard")));
    QCOMPARE(screens.backend.requestCount(summaryPath), 2);

    // Leaving the screen mid-pass ends the pass and writes nothing.
    screens.billing->failNext(FakeBillingBackend::summaryPath,
                              FakeBillingBackend::problem(500, QStringLiteral("Broken"), std::nullopt).withDelay(200));
    QTest::mouseClick(view->refreshButton(), Qt::LeftButton);
    QVERIFY(view->model()->isRefreshingProfile());
    view->hide();
    QVERIFY(!view->model()->isRefreshingProfile());
    QTest::qWait(300);
    QVERIFY(!view->model()->billingRefreshErrorMessage());
}

void tst_KavrelScreens::avatarsLoadOnlyOverHttp()
{
    {
        Screens screens;
        const QString url = screens.backend.baseUrl().resolved(QUrl(avatarPath)).toString();
        AuthSession session = *screens.store->session();
        session.user.avatarURL = QStringLiteral("  ") + url + QStringLiteral(" ");
        screens.store->setSession(session);
        auto shell = screens.makeShell();
        shell->show();
        QVERIFY(QTest::qWaitFor([&] { return shell->sidebar()->avatar()->showsPicture(); }));
        QCOMPARE(screens.backend.requestCount(avatarPath), 1);
    }
    {
        Screens screens;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("avatar.png"));
        QImage(16, 16, QImage::Format_RGB32).save(file);
        AuthSession session = *screens.store->session();
        session.user.avatarURL = QUrl::fromLocalFile(file).toString();
        screens.store->setSession(session);
        auto shell = screens.makeShell();
        shell->show();
        QTest::qWait(50);
        QVERIFY(!shell->sidebar()->avatar()->showsPicture());
        QVERIFY(!shell->sidebar()->avatar()->avatarURL());
    }
    {
        // More than the cap: the initials stay.
        Screens screens;
        screens.backend.route("GET", QStringLiteral("/huge.png"),
                              FakeResponse::text(200, QByteArray(KavrelAvatarLoader::maximumImageBytes + 1024, 'x'), "image/png"));
        auto image = QCoro::waitFor(screens.avatars.load(screens.backend.baseUrl().resolved(QUrl(QStringLiteral("/huge.png")))));
        QVERIFY(!image);
    }
}

void tst_KavrelScreens::shellScreenshots()
{
    for (const Screenshots::Variant &variant : Screenshots::variants()) {
        Screens screens;
        QVERIFY(screens.announceUpdate());
        KavrelLocalizationStore::shared().setLanguage(variant.language);
        auto shell = screens.makeShell();
        Screenshots::apply(shell.get(), variant);
        ScreenFitCheck::resizeWindow(shell.get(), QSize(1080, 820));
        shell->show();
        shell->model()->selectSection(KavrelAppSection::profile);
        auto *profile = qobject_cast<KavrelProfileView *>(shell->currentSection());
        QVERIFY(profile);
        QVERIFY(waitForPass(*profile));
        QVERIFY(!Screenshots::write(shell.get(), QStringLiteral("screens-shell-sidebar-open"), variant).isEmpty());

        // Under a 240 px panel on a 1280 × 720 screen: the free area is 480 high, title bar
        // included, and the window's minimum yields to it as the program's screen fit has it.
        const QSize least = shell->minimumSize();
        shell->setMinimumSize(1, 1);
        shell->resize(1242, 480 - KavrelScreenFit::assumedTitleBarHeight);
        QVERIFY(!Screenshots::write(shell.get(), QStringLiteral("screens-shell-short"), variant).isEmpty());
        shell->setMinimumSize(least);
        ScreenFitCheck::resizeWindow(shell.get(), QSize(1080, 820));

        shell->model()->toggleSidebarVisibility();
        shell->finishAnimation();
        QVERIFY(!Screenshots::write(shell.get(), QStringLiteral("screens-shell-sidebar-hidden"), variant).isEmpty());
    }
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
}

void tst_KavrelScreens::settingsScreenshots()
{
    for (const Screenshots::Variant &variant : Screenshots::variants()) {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
        KavrelLocalizationStore::shared().setLanguage(variant.language);
        KavrelSettingsModel model(defaults, [] {});
        model.setAppearanceMode(variant.scheme == KavrelColorScheme::dark ? KavrelAppearanceMode::dark : KavrelAppearanceMode::light);
        KavrelSettingsView view(model, [] {});
        Screenshots::apply(&view, variant);
        view.resize(view.sizeHint());
        view.show();
        QVERIFY(!Screenshots::write(&view, QStringLiteral("screens-settings"), variant).isEmpty());
        // A screen reader hears which theme is chosen, and choosing one by its action chooses it.
        const QList<KavrelThemeOptionButton *> themes = view.findChildren<KavrelThemeOptionButton *>();
        QCOMPARE(themes.size(), 3);
        for (KavrelThemeOptionButton *theme : themes) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(theme);
            QCOMPARE(accessible->role(), QAccessible::RadioButton);
            QVERIFY(accessible->state().checkable);
            QCOMPARE(accessible->state().checked, theme->mode() == model.appearanceMode());
        }
        KavrelThemeOptionButton *system = themes.constFirst();
        QCOMPARE(system->mode(), KavrelAppearanceMode::system);
        QAccessible::queryAccessibleInterface(system)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(model.appearanceMode(), KavrelAppearanceMode::system);
        QVERIFY(QAccessible::queryAccessibleInterface(system)->state().checked);
        // Chosen again, it stays chosen.
        QAccessible::queryAccessibleInterface(system)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(system->isChecked());
    }
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
}

void tst_KavrelScreens::profileScreenshots()
{
    struct Case
    {
        QString name;
        std::optional<FakeResponse> reply;
    };
    const QList<Case> cases = {
        {QStringLiteral("paid"), FakeResponse::json(200, summaryJson(QStringLiteral("Pro"), QStringLiteral("pro-monthly"),
                                                                     QStringLiteral("active"), 600, 212, true))},
        {QStringLiteral("free"), FakeResponse::json(200, summaryJson(QStringLiteral("Free"), QStringLiteral("free"),
                                                                     QStringLiteral("active"), 60, 60, false))},
        {QStringLiteral("billing-failed"),
         FakeBillingBackend::problem(503, QStringLiteral("Service Unavailable"), QStringLiteral("The billing service is down."))},
    };
    for (const Case &item : cases) {
        for (const Screenshots::Variant &variant : Screenshots::variants()) {
            Screens screens;
            KavrelLocalizationStore::shared().setLanguage(variant.language);
            screens.billing->failNext(FakeBillingBackend::summaryPath, *item.reply);
            auto view = screens.makeProfile();
            Screenshots::apply(view.get(), variant);
            // As wide as the section is in the narrowest shell with the sidebar open.
            ScreenFitCheck::resizeWindow(view.get(), QSize(622, item.name == QLatin1String("billing-failed") ? 900 : 1480));
            view->show();
            QVERIFY(waitForPass(*view));
            QVERIFY(!Screenshots::write(view.get(), QStringLiteral("screens-profile-") + item.name, variant).isEmpty());
        }
    }
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
}

QTEST_MAIN(tst_KavrelScreens)
#include "tst_KavrelScreens.moc"
