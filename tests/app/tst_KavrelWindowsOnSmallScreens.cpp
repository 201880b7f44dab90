// Every window of the program on a 1366 × 768 laptop and on a 1280 × 720 work area: none asks
// for more room than its screen's free area, and each opens inside it. The screens are those of
// the offscreen platform, set up by a configuration file before the application starts.

#include "accounts/AuthSessionStore.h"
#include "app/widgets/KavrelApp.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "localization/KavrelLocalizationStore.h"
#include "screens/widgets/KavrelWorkspaceShellView.h"
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
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

namespace {

QScreen *screenOfSize(QSize size)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().size() == size)
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
};

void tst_KavrelWindowsOnSmallScreens::initTestCase()
{
    QVERIFY2(screenOfSize(QSize(1366, 768)) && screenOfSize(QSize(1280, 720)), "the offscreen screens are missing");
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

int main(int argc, char **argv)
{
    // Two screens side by side, the smaller one first so the windows made without a screen
    // land on it.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"windowFrameMargins": true, "screens": [
        {"name": "work-area", "x": 0, "y": 0, "width": 1280, "height": 720, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "laptop", "x": 1280, "y": 0, "width": 1366, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "under-panel", "x": 2646, "y": 0, "width": 1280, "height": 660, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    tst_KavrelWindowsOnSmallScreens test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_KavrelWindowsOnSmallScreens.moc"
