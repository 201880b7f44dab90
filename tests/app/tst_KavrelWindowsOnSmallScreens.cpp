// Every window of the program on a 1366 × 768 laptop and on a 1280 × 720 work area: none asks
// for more room than its screen's free area, and each opens inside it. And the sidebar of the
// main window takes one form at every height and keeps it while nothing happens, on those
// screens, on a 1280 × 732 one and on a 2560 × 1440 one at 200 %. The screens are those of the
// offscreen platform, set up by a configuration file before the application starts.

#include "ProgramOverTheSession.h"
#include "SidebarWatch.h"

#include "accounts/AuthSessionStore.h"
#include "app/widgets/KavrelApp.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "kit/widgets/KavrelAppearTransition.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "localization/KavrelLocalizationStore.h"
#include "screens/widgets/KavrelWorkspaceShellView.h"
#include "services/KavrelUpdater.h"
#include "session/widgets/MessageBoxListeningStartPrompts.h"
#include "signin/widgets/PermissionsOnboardingView.h"
#include "support/ScreenFitCheck.h"
#include "support/TestProgramObjects.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "workspace/widgets/ListeningSetupSheet.h"

#include "../history/HistoryTestClient.h"
#include "../signin/ScriptedMicrophoneAuthorization.h"
#include "../workspace/WorkspaceHarness.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

using namespace AppTest;

namespace {

QScreen *screenOfSize(QSize size)
{
    // The screen at 200 % is looked for by its name.
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().size() == size && screen->devicePixelRatio() == 1)
            return screen;
    }
    return nullptr;
}

// As a window manager that cascades new windows would place it.
void showOn(QWidget *window, QScreen *screen)
{
    window->hide();
    window->setScreen(screen);
    window->move(screen->availableGeometry().topLeft() + QPoint(60, 60));
    window->show();
}

template<typename T>
QCoro::Task<> answered(QCoro::Task<T> question)
{
    co_await std::move(question);
}

QScreen *screenNamed(const QString &name)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == name)
            return screen;
    }
    return nullptr;
}

// A signed-in user, and an update controller that knows of a newer version or not.
struct SidebarFixture
{
    explicit SidebarFixture(bool updateKnown)
    {
        (void)QTest::qWaitFor([this] { return !objects.authStore->isRestoringSession(); });
        const QString feedPath = QStringLiteral("/feed.json");
        objects.backend.route("GET", feedPath, FakeResponse::json(200, QByteArrayLiteral(R"({"version":"2.1.0"})")));
        const QUrl feed = objects.backend.baseUrl().resolved(QUrl(feedPath));
        updates = std::make_unique<KavrelUpdateController>(
            [feed](QObject *parent) { return new KavrelUpdater(feed, QStringLiteral("1.0"), parent); });
        if (updateKnown) {
            updates->updaterController().checkForUpdateInformation();
            (void)QTest::qWaitFor([this] { return updates->availableUpdateDisplayVersion().has_value(); });
        }
    }

    // A sidebar as the shell holds it: in a strip as high as the window, whatever it needs.
    KavrelSidebarView *addSidebar(QScreen *screen)
    {
        auto strip = std::make_unique<QWidget>();
        strip->setScreen(screen);
        strip->move(screen->availableGeometry().topLeft() + QPoint(int(strips.size()) * 4, 0));
        KavrelSidebarView::Dependencies dependencies;
        dependencies.authStore = objects.authStore.get();
        dependencies.updateController = updates.get();
        auto *sidebar = new KavrelSidebarView(std::move(dependencies), strip.get());
        strips.push_back(std::move(strip));
        return sidebar;
    }

    TestProgramObjects objects{true, [] { return false; }};
    std::unique_ptr<KavrelUpdateController> updates;
    std::vector<std::unique_ptr<QWidget>> strips;
};

void setSidebarHeight(KavrelSidebarView *sidebar, int height)
{
    QWidget *strip = sidebar->parentWidget();
    strip->resize(KavrelSidebarView::columnWidth, height);
    sidebar->setGeometry(strip->rect());
}

// Lets layouts, deferred updates and repaints run out.
void settle()
{
    for (int turn = 0; turn < 6; ++turn) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

} // namespace

class tst_KavrelWindowsOnSmallScreens : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fitting_data();
    void fitting();
    void checkFindsWhatIsCut_data();
    void checkFindsWhatIsCut();
    void windowsStayInsideTheWorkArea_data();
    void windowsStayInsideTheWorkArea();
    void mainWindowLeavesRoomForPanelsNobodyTells_data();
    void mainWindowLeavesRoomForPanelsNobodyTells();
    void sidebarTakesOneFormAtEveryHeight_data();
    void sidebarTakesOneFormAtEveryHeight();
    void sidebarStaysStillWhileNothingHappens();
};

void tst_KavrelWindowsOnSmallScreens::initTestCase()
{
    QVERIFY2(screenOfSize(QSize(1366, 768)) && screenOfSize(QSize(1280, 720)), "the offscreen screens are missing");
    QVERIFY2(screenNamed(QStringLiteral("tall-laptop")) && screenNamed(QStringLiteral("scaled")), "the offscreen screens are missing");
    // 2560 × 1440 at 200 %: the windows see 1280 × 720.
    QCOMPARE(screenNamed(QStringLiteral("scaled"))->devicePixelRatio(), 2.0);
    QCOMPARE(screenNamed(QStringLiteral("scaled"))->availableGeometry().size(), QSize(1280, 720));
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
}

void tst_KavrelWindowsOnSmallScreens::fitting_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("placed");
    const QRect laptop(0, 0, 1366, 768);
    QTest::newRow("inside stays") << QRect(10, 10, 600, 400) << laptop << QRect(10, 10, 600, 400);
    QTest::newRow("past the bottom moves up") << QRect(100, 500, 600, 400) << laptop << QRect(100, 368, 600, 400);
    QTest::newRow("taller than the screen shrinks") << QRect(60, 60, 1240, 860) << laptop << QRect(60, 0, 1240, 768);
    QTest::newRow("left of a second screen") << QRect(1300, 20, 600, 400) << QRect(1366, 0, 1280, 720)
                                             << QRect(1366, 20, 600, 400);
    QTest::newRow("wider and taller than both") << QRect(-50, -50, 2000, 1000) << QRect(1366, 30, 1280, 690)
                                                << QRect(1366, 30, 1280, 690);
}

void tst_KavrelWindowsOnSmallScreens::fitting()
{
    QFETCH(QRect, frame);
    QFETCH(QRect, available);
    QFETCH(QRect, placed);
    QCOMPARE(KavrelScreenFit::placedInside(frame, available), placed);
    QCOMPARE(KavrelScreenFit::boundedMinimum(QSize(760, 820), available.size()),
             QSize(std::min(760, available.width()), std::min(820, available.height())));
    QCOMPARE(KavrelScreenFit::boundedMinimum(QSize(760, 820), QSize(1920, 1040)), QSize(760, 820));
}

enum class Cut { nothing, line, wrappedText, button, byParent, byScreen };

// The check every screenshot scene runs: it must see each way a user loses part of a window.
void tst_KavrelWindowsOnSmallScreens::checkFindsWhatIsCut_data()
{
    QTest::addColumn<Cut>("cut");
    QTest::addColumn<QString>("fault");
    QTest::newRow("everything whole") << Cut::nothing << QString();
    QTest::newRow("a line wider than its label") << Cut::line << QStringLiteral("its text needs");
    QTest::newRow("wrapped text taller than its label") << Cut::wrappedText << QStringLiteral("its wrapped text needs");
    QTest::newRow("a button below its least size") << Cut::button << QStringLiteral("squeezed");
    QTest::newRow("a label past its parent's edge") << Cut::byParent << QStringLiteral("partly hidden");
    QTest::newRow("a window past the screen's edge") << Cut::byScreen << QStringLiteral("leaves the screen's free area");
}

void tst_KavrelWindowsOnSmallScreens::checkFindsWhatIsCut()
{
    QFETCH(Cut, cut);
    QFETCH(QString, fault);
    QScreen *screen = screenOfSize(QSize(1280, 720));
    const QRect available = screen->availableGeometry();
    QWidget window;
    window.setScreen(screen);
    window.setGeometry(QRect(available.topLeft() + QPoint(40, 40), QSize(400, 300)));
    auto *label = new QLabel(QStringLiteral("Начать прослушивание"), &window);
    label->adjustSize();
    label->move(10, 10);
    auto *button = new QPushButton(QStringLiteral("Отмена"), &window);
    button->setGeometry(QRect(QPoint(10, 100), button->sizeHint()));
    switch (cut) {
    case Cut::nothing:
        break;
    case Cut::line:
        label->resize(label->width() / 2, label->height());
        break;
    case Cut::wrappedText:
        label->setWordWrap(true);
        label->setText(QStringLiteral("Выберите язык речи, решите, подмешивать ли микрофон, и включайте перевод."));
        label->setGeometry(10, 10, 160, label->fontMetrics().height() * 2);
        break;
    case Cut::button:
        button->resize(button->width() - 6, button->height());
        break;
    case Cut::byParent:
        label->move(window.width() - label->width() / 2, 10);
        break;
    case Cut::byScreen:
        window.move(available.right() - 200, available.top() + 60);
        break;
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QStringList found = ScreenFitCheck::faults(&window);
    if (fault.isEmpty()) {
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(found.size(), 1);
        QVERIFY2(found.first().contains(fault), qPrintable(found.first()));
    }
}

void tst_KavrelWindowsOnSmallScreens::windowsStayInsideTheWorkArea_data()
{
    QTest::addColumn<QSize>("workArea");
    QTest::newRow("1366 × 768 laptop") << QSize(1366, 768);
    QTest::newRow("1280 × 720 work area") << QSize(1280, 720);
    QTest::newRow("1280 × 720 under a panel and a title bar") << QSize(1280, 660);
}

void tst_KavrelWindowsOnSmallScreens::windowsStayInsideTheWorkArea()
{
    QFETCH(QSize, workArea);
    QScreen *screen = screenOfSize(workArea);
    QVERIFY(screen);
    const QRect available = screen->availableGeometry();
    const auto fits = [&](QWidget *window, const char *what) {
        QVERIFY2(window->isVisible(), what);
        QCOMPARE(window->screen(), screen);
        QVERIFY2(available.contains(window->frameGeometry()), what);
        // Even at its smallest, with its decorations.
        const QSize decorations = window->frameGeometry().size() - window->size();
        QVERIFY2(window->minimumSize().width() + decorations.width() <= available.width(), what);
        QVERIFY2(window->minimumSize().height() + decorations.height() <= available.height(), what);
        // And, once its layout has settled, nothing in it is cut.
        for (int round = 0; round < 3; ++round)
            QCoreApplication::processEvents();
        const QStringList cut = ScreenFitCheck::faults(window);
        QVERIFY2(cut.isEmpty(), qPrintable(QString::fromLatin1(what) + QStringLiteral(": ") + cut.join(QStringLiteral("; "))));
    };

    TestProgramObjects objects(false, [] { return false; });
    AuthSessionStore &authStore = *objects.authStore;
    QTRY_VERIFY(!authStore.isRestoringSession());
    KavrelApp app(objects.dependencies());

    // The main window (1240 × 820 of its own) with the sign-in screen.
    app.openWindow(QStringLiteral("kavrel-main"));
    QWidget *mainWindow = app.window(QStringLiteral("kavrel-main"));
    // Where nobody placed it, the window manager does; its size already fits the first screen.
    const QRect first = mainWindow->screen()->availableGeometry();
    QVERIFY(mainWindow->frameGeometry().width() <= first.width());
    QVERIFY(mainWindow->frameGeometry().height() <= first.height());
    showOn(mainWindow, screen);
    fits(mainWindow, "main window");

    // The start questions, each a message box over the main window.
    MessageBoxListeningStartPrompts prompts(KavrelLocalizationStore::shared(), [mainWindow] { return mainWindow; });
    for (const bool microphone : {false, true}) {
        QCoro::Task<> asking = microphone ? answered(prompts.askMicrophone()) : answered(prompts.askStartMode());
        QMessageBox *question = nullptr;
        QTRY_VERIFY((question = mainWindow->findChild<QMessageBox *>()) && question->isVisible());
        fits(question, microphone ? "microphone question" : "start question");
        question->reject();
        QTRY_VERIFY(asking.isReady());
    }

    // The first run's onboarding (1120 × 760 wanted) in a window made as the main window is.
    auto authorization = std::make_shared<ScriptedAuthorization>();
    authorization->cached = MicrophoneAuthorization::Status::denied;
    PermissionsOnboardingView onboarding(std::make_unique<AppPermissionsController>(authorization), [] {});
    KavrelScreenFit::keepOnScreen(&onboarding);
    onboarding.resize(1240, 820);
    showOn(&onboarding, screen);
    fits(&onboarding, "onboarding");
    onboarding.hide();

    // The settings window, whose page is taller than the work area.
    app.openWindow(QStringLiteral("kavrel-settings"));
    QWidget *settings = app.window(QStringLiteral("kavrel-settings"));
    showOn(settings, screen);
    fits(settings, "settings window");

    // The mini window opens in a corner of the screen under the pointer.
    QCursor::setPos(available.center());
    app.openWindow(QString::fromLatin1(KavrelApp::miniWindowIdentifier));
    fits(app.window(QString::fromLatin1(KavrelApp::miniWindowIdentifier)), "mini window");

    // The workspace shell (760 × 820 wanted) in a window made as the main window is.
    QWidget shellWindow;
    KavrelScreenFit::keepOnScreen(&shellWindow);
    auto *layout = new QVBoxLayout(&shellWindow);
    layout->setContentsMargins(0, 0, 0, 0);
    KavrelWorkspaceShellView::Dependencies shellDependencies;
    shellDependencies.defaults = objects.defaults.get();
    shellDependencies.authStore = &authStore;
    shellDependencies.updateController = objects.updates.get();
    shellDependencies.makeWorkspace = [] { return new QWidget; };
    shellDependencies.makeProfile = [] { return new QWidget; };
    shellDependencies.makeHistory = [] { return new QWidget; };
    auto *shell = new KavrelWorkspaceShellView(std::move(shellDependencies));
    layout->addWidget(shell);
    shellWindow.resize(1240, 820);
    showOn(&shellWindow, screen);
    fits(&shellWindow, "workspace shell");
    QVERIFY(shell->height() >= shell->minimumSize().height());

    // The history detail sheet (1120 × 760 wanted).
    KavrelHistoryViewModel viewModel(std::make_shared<HistoryTestClient>(), KavrelLocalizationStore::shared());
    KavrelHistoryDetailSheet sheet(&viewModel);
    showOn(&sheet, screen);
    fits(&sheet, "history detail sheet");
    sheet.hide();

    // The start-listening sheet (620 × 732 wanted, 700 high at the least): Cancel and Start
    // below its cards stay on the screen.
    WorkspaceTest::Workspace workspace;
    ListeningSetupSheet setup(*workspace.engine.model);
    showOn(&setup, screen);
    fits(&setup, "start-listening sheet");
    for (QWidget *button : {static_cast<QWidget *>(setup.cancelButton()), static_cast<QWidget *>(setup.startButton())})
        QVERIFY(available.contains(QRect(button->mapToGlobal(QPoint(0, 0)), button->size())));
    setup.hide();
}

// Under Wayland the program learns no free area: the whole screen is "available", and a
// desktop's bar (weston's and GNOME's 32 px at the top, KDE's panel at the bottom) still takes
// its part. The main window's first size leaves room for it; where the free area is told, the
// window takes what it is given.
void tst_KavrelWindowsOnSmallScreens::mainWindowLeavesRoomForPanelsNobodyTells_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<bool>("told");
    QTest::addColumn<int>("highest");
    QTest::newRow("1366 × 768, nothing told") << QStringLiteral("laptop") << false << 768 - KavrelScreenFit::assumedPanelsHeight;
    QTest::newRow("1280 × 720, nothing told") << QStringLiteral("work-area") << false << 720 - KavrelScreenFit::assumedPanelsHeight;
    QTest::newRow("1366 × 768, the free area told") << QStringLiteral("laptop") << true << 768;
}

void tst_KavrelWindowsOnSmallScreens::mainWindowLeavesRoomForPanelsNobodyTells()
{
    QFETCH(QString, screen);
    QFETCH(bool, told);
    QFETCH(int, highest);
    KavrelScreenFit::setFreeAreaTold(told);
    const auto restore = qScopeGuard([] { KavrelScreenFit::setFreeAreaTold(true); });
    QScreen *target = screenNamed(screen);
    QVERIFY(target);
    const QRect area = KavrelScreenFit::freeArea(target);
    QCOMPARE(area.bottom(), target->geometry().bottom());
    QCOMPARE(area.height(), highest);

    TestProgramObjects objects(false, [] { return false; });
    QTRY_VERIFY(!objects.authStore->isRestoringSession());
    KavrelApp app(objects.dependencies());
    app.openWindow(QStringLiteral("kavrel-main"));
    QWidget *mainWindow = app.window(QStringLiteral("kavrel-main"));
    showOn(mainWindow, target);
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow));
    QVERIFY2(mainWindow->frameGeometry().height() <= highest, qPrintable(QString::number(mainWindow->frameGeometry().height())));
    // Below a 32 px bar it still ends on the screen.
    if (!told)
        QVERIFY(mainWindow->frameGeometry().height() + 32 <= target->geometry().height());
    QVERIFY(mainWindow->minimumSize().height() + mainWindow->frameGeometry().height() - mainWindow->height() <= highest);
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
    const QStringList cut = ScreenFitCheck::faults(mainWindow);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
}

void tst_KavrelWindowsOnSmallScreens::sidebarTakesOneFormAtEveryHeight_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<bool>("updateKnown");
    QTest::newRow("1280 × 732") << QStringLiteral("tall-laptop") << false;
    QTest::newRow("1280 × 732, an update known") << QStringLiteral("tall-laptop") << true;
    QTest::newRow("2560 × 1440 at 200 %") << QStringLiteral("scaled") << false;
    QTest::newRow("2560 × 1440 at 200 %, an update known") << QStringLiteral("scaled") << true;
}

// Up from the compact form's least height to past where the roomy form comes back, and down
// again, a pixel at a time near the borders: below what the roomy form needs the column is
// compact, from the margin above it roomy, and between them it keeps the form it came with. At
// each height the column settles at once, and no caption runs over another button.
void tst_KavrelWindowsOnSmallScreens::sidebarTakesOneFormAtEveryHeight()
{
    QFETCH(QString, screen);
    QFETCH(bool, updateKnown);
    SidebarFixture fixture(updateKnown);
    KavrelSidebarView *sidebar = fixture.addSidebar(screenNamed(screen));
    sidebar->updateButtonTransition()->finish();
    QCOMPARE(sidebar->sectionButtons().first()->text(), QStringLiteral("Рабочая область"));
    const int compactNeed = sidebar->heightNeeded(true);
    const int roomyNeed = sidebar->heightNeeded(false);
    QVERIFY2(compactNeed < roomyNeed, qPrintable(QStringLiteral("%1 against %2").arg(compactNeed).arg(roomyNeed)));
    setSidebarHeight(sidebar, compactNeed);
    sidebar->parentWidget()->show();
    QVERIFY(QTest::qWaitForWindowExposed(sidebar->parentWidget()));
    settle();
    Stillness stillness(sidebar);

    // A pixel at a time from a little below the border to past the margin, in larger steps below.
    QList<int> heights;
    const int near = roomyNeed - 12;
    for (int height = compactNeed; height < near; height += 7)
        heights.append(height);
    for (int height = near; height <= roomyNeed + KavrelSidebarView::formMargin + 8; ++height)
        heights.append(height);
    const qsizetype rising = heights.size();
    for (qsizetype i = rising - 2; i >= 0; --i)
        heights.append(heights.at(i));
    for (qsizetype i = 0; i < heights.size(); ++i) {
        const int height = heights.at(i);
        setSidebarHeight(sidebar, height);
        settle();
        const bool compact = height < roomyNeed || (height < roomyNeed + KavrelSidebarView::formMargin && i < rising);
        const QString where = QStringLiteral("at %1 %2: ").arg(height).arg(i < rising ? "going up" : "going down");
        QVERIFY2(sidebar->isCompact() == compact, qPrintable(where + stillness.describe()));
        // The column as laid out asks for what the choice reckoned with.
        QCOMPARE(sidebar->layout()->minimumSize().height(), sidebar->heightNeeded(compact));
        const QStringList found = overlaps(sidebar);
        QVERIFY2(found.isEmpty(), qPrintable(where + found.join(QStringLiteral("; "))));
        stillness.reset();
        settle();
        QVERIFY2(stillness.isStill(), qPrintable(where + stillness.describe()));
    }
}

// The heights on either side of where the form changes, each reached from above and from below,
// and the program's main window on each screen, at every height the screen lets it take: once
// settled, five seconds without input change nothing in the sidebar and draw nothing there.
void tst_KavrelWindowsOnSmallScreens::sidebarStaysStillWhileNothingHappens()
{
    struct Watched
    {
        KavrelSidebarView *sidebar;
        Stillness *stillness;
        QString what;
        std::optional<bool> compact;
    };
    std::vector<Watched> watched;
    std::vector<std::unique_ptr<SidebarFixture>> fixtures;
    for (const bool updateKnown : {false, true}) {
        fixtures.push_back(std::make_unique<SidebarFixture>(updateKnown));
        SidebarFixture &fixture = *fixtures.back();
        for (const QString &screen : {QStringLiteral("tall-laptop"), QStringLiteral("scaled")}) {
            for (const bool fromAbove : {false, true}) {
                for (const int step : {-1, 0, KavrelSidebarView::formMargin - 1, KavrelSidebarView::formMargin}) {
                    KavrelSidebarView *sidebar = fixture.addSidebar(screenNamed(screen));
                    sidebar->updateButtonTransition()->finish();
                    const int roomyNeed = sidebar->heightNeeded(false);
                    setSidebarHeight(sidebar, fromAbove ? roomyNeed + KavrelSidebarView::formMargin + 10 : sidebar->heightNeeded(true));
                    sidebar->parentWidget()->show();
                    QVERIFY(QTest::qWaitForWindowExposed(sidebar->parentWidget()));
                    settle();
                    setSidebarHeight(sidebar, roomyNeed + step);
                    const QString what = QStringLiteral("%1%2, from %3, border %4%5")
                                             .arg(screen, updateKnown ? QStringLiteral(" with an update") : QString(),
                                                  fromAbove ? QStringLiteral("above") : QStringLiteral("below"))
                                             .arg(roomyNeed).arg(step < 0 ? QString::number(step) : QLatin1Char('+') + QString::number(step));
                    // Between the borders it keeps the form it came with.
                    const bool compact = step < 0 || (!fromAbove && step < KavrelSidebarView::formMargin);
                    watched.push_back({sidebar, new Stillness(sidebar), what, compact});
                }
            }
        }
    }

    // The program's main window on the workspace, on each of the four screens, at each height
    // from the least it allows there to what the screen's free area leaves it.
    std::vector<std::unique_ptr<AppTest::ProgramOverTheSession>> programs;
    const auto openMainWindow = [&](QScreen *screen) {
        programs.push_back(std::make_unique<AppTest::ProgramOverTheSession>());
        programs.back()->app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
        QWidget *window = programs.back()->mainWindow();
        showOn(window, screen);
        return window;
    };
    for (const QString &name : {QStringLiteral("work-area"), QStringLiteral("tall-laptop"), QStringLiteral("laptop"),
                                QStringLiteral("scaled")}) {
        QScreen *screen = screenNamed(name);
        QVERIFY(screen);
        QWidget *first = openMainWindow(screen);
        QVERIFY(QTest::qWaitForWindowExposed(first));
        settle();
        QVERIFY(first->findChild<KavrelSidebarView *>());
        const int least = first->minimumHeight();
        const int most = screen->availableGeometry().height() - (first->frameGeometry().height() - first->height());
        QVERIFY2(least <= most, qPrintable(QStringLiteral("%1: least %2, most %3").arg(name).arg(least).arg(most)));
        for (int height = least; height <= most; ++height) {
            QWidget *window = height == least ? first : openMainWindow(screen);
            window->resize(window->width(), height);
            auto *sidebar = window->findChild<KavrelSidebarView *>();
            watched.push_back({sidebar, new Stillness(sidebar), QStringLiteral("the main window on %1 at %2").arg(name).arg(height), {}});
        }
    }

    QTest::qWait(300);
    for (const Watched &w : watched)
        w.stillness->reset();
    QTest::qWait(5000);
    QStringList moving;
    for (const Watched &w : watched) {
        if (!w.stillness->isStill())
            moving << w.what + QStringLiteral(": ") + w.stillness->describe();
    }
    QVERIFY2(moving.isEmpty(), qPrintable(moving.join(QLatin1Char('\n'))));
    for (const Watched &w : watched) {
        if (w.compact)
            QVERIFY2(w.sidebar->isCompact() == *w.compact, qPrintable(w.what + QStringLiteral(": ") + w.stillness->describe()));
        const QStringList found = overlaps(w.sidebar);
        QVERIFY2(found.isEmpty(), qPrintable(w.what + QStringLiteral(": ") + found.join(QStringLiteral("; "))));
    }
}

int main(int argc, char **argv)
{
    // Screens side by side, the smaller one first so the windows made without a screen land on
    // it; the last at 200 % (the dots per inch of a 2560 × 1440 screen set to that scale).
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"windowFrameMargins": true, "screens": [
        {"name": "work-area", "x": 0, "y": 0, "width": 1280, "height": 720, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "laptop", "x": 1280, "y": 0, "width": 1366, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "under-panel", "x": 2646, "y": 0, "width": 1280, "height": 660, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "tall-laptop", "x": 3926, "y": 0, "width": 1280, "height": 732, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "scaled", "x": 5206, "y": 0, "width": 2560, "height": 1440, "logicalDpi": 192, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    tst_KavrelWindowsOnSmallScreens test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_KavrelWindowsOnSmallScreens.moc"
