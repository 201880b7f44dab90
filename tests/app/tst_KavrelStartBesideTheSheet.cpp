// The start question beside the listening setup sheet, on the real X server with its window
// manager, in a work area of 1280 × 720, as a person meets it: the sheet is open when a meeting
// prompt's Start Listening is pressed. The sheet gives way (it closes as after Cancel, and
// nothing starts from it) and the question stands alone in front of the main window, with the
// keyboard. Each answer and the sheet's Cancel act when they are pressed, in either order, with
// the mouse and with the keyboard: clicks and keys go through the X server, where the window
// manager decides which window takes them. Cancel never starts listening; one start is one
// session.

#include "ProgramOverTheSession.h"
#include "QuestionInFront.h"

#include "app/widgets/KavrelMeetingDetectionWiring.h"
#include "detection/MeetingDetectionHarness.h"
#include "detection/SubtitleViewModelSessionControl.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/ApplicationInfo.h"
#include "session/widgets/MessageBoxListeningStartPrompts.h"
#include "support/Screenshots.h"
#include "support/TestChildProcess.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"
#include "workspace/widgets/ContentView.h"
#include "workspace/widgets/ListeningSetupSheet.h"
#include "workspace/widgets/PrimaryActionButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using AppTest::openQuestion;

namespace {

enum class Input { mouse, keyboard };

// The small laptop's screen the pictures show: the work area is kept inside it.
const QRect smallScreen(0, 0, 1280, 720);

QString text(const char *key)
{
    return KavrelLocalizationStore::shared().localized(QString::fromLatin1(key));
}

QAbstractButton *buttonTitled(QWidget *window, const QString &title)
{
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->isVisible() && button->text() == title)
            return button;
    }
    return nullptr;
}

// The program as main() wires it, in Russian, over the session's test fakes, with the real
// meeting prompt panel of a detection that sees what the test tells it.
struct Scene
{
    KavrelApp *questionsOwner = nullptr;
    MessageBoxListeningStartPrompts prompts{KavrelLocalizationStore::shared(), [this] {
        return questionsOwner ? questionsOwner->questionWindow() : nullptr;
    }};
    AppTest::ProgramOverTheSession program;
    MeetingDetectionTest::Harness detection{SubtitleViewModelSessionControl::of(program.engine.model.get())};
    qint32 meetingProcess = 4100;

    Scene()
    {
        program.engine.localization->setLanguage(KavrelAppLanguage::russian);
        program.engine.model->setStartPrompts(&prompts);
        questionsOwner = program.app.get();
        detection.store->setStartListeningHandler(KavrelMeetingDetectionWiring::promptStart(
            *program.starter, program.presentation.get(), program.app->windowOpener()));
    }
    // A row that failed half-way leaves a question open or a start on its way: each question
    // goes unanswered and the session that follows is stopped before the program goes.
    ~Scene()
    {
        SubtitleViewModel &model = *program.engine.model;
        (void)QTest::qWaitFor([&model] {
            delete openQuestion();
            return !openQuestion() && !model.isAskingStartQuestions() && !model.isBusy();
        }, 10000);
        if (model.hasActiveSession())
            (void)program.engine.stop();
        questionsOwner = nullptr;
    }

    QWidget *window() const { return program.mainWindow(); }
    ContentView *workspace() const { return window() ? window()->findChild<ContentView *>() : nullptr; }
    ListeningSetupSheet *sheet() const { return workspace() ? workspace()->listeningSetupSheet() : nullptr; }
    bool sheetShown() const { return sheet() && sheet()->isVisible(); }
    QAbstractButton *promptStartButton() const
    {
        QWidget *panel = detection.panel();
        return panel && panel->isVisible() ? panel->findChild<QAbstractButton *>(QStringLiteral("startListeningButton"))
                                           : nullptr;
    }
    int starts() const { return int(program.engine.trace.only({QStringLiteral("system.start")}).size()); }
    bool startedNewSession() const { return !program.engine.trace.only({QStringLiteral("history.finish")}).isEmpty(); }
    bool microphoneStarted() const
    {
        const QStringList calls = program.engine.trace.only({QStringLiteral("mic")});
        return std::any_of(calls.begin(), calls.end(), [](const QString &call) { return call.contains(QLatin1String(".start ")); });
    }
};

// The main window on the workspace, its Start pressed, the sheet open with the keyboard.
void openSheet(Scene &scene, Input input)
{
    scene.program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
    QVERIFY(QTest::qWaitForWindowActive(scene.window()));
    // Fitted into the free area once the window manager has framed it: a click aims at where
    // the button stays.
    QTRY_VERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(scene.window()->frameGeometry()));
    ContentView *workspace = nullptr;
    QTRY_VERIFY((workspace = scene.workspace()) && workspace->isVisible());
    QTRY_VERIFY(workspace->primaryButton()->isEnabled());
    if (input == Input::mouse) {
        QVERIFY(X11TestInput::click(workspace->primaryButton()));
    } else {
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(workspace->primaryButton()));
        QVERIFY(X11TestInput::keys({QStringLiteral("space")}));
    }
    QTRY_VERIFY(scene.sheetShown());
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(scene.sheet()));
}

// A meeting shows up: its prompt panel stands at the top of the screen, beside the sheet.
void showPrompt(Scene &scene)
{
    scene.detection.poll(MeetingDetectionTest::zoomWindow(scene.meetingProcess++));
    QTRY_VERIFY(scene.promptStartButton());
    QVERIFY(QTest::qWaitForWindowExposed(scene.detection.panel()));
}

// Moves the keyboard with Tab to the button, as a keyboard user does, and presses Return.
void pressWithKeys(QAbstractButton *button)
{
    for (int step = 0; step < 4 && QApplication::focusWidget() != button; ++step) {
        QVERIFY(X11TestInput::keys({QStringLiteral("Tab")}));
        (void)QTest::qWaitFor([button] { return QApplication::focusWidget() == button; }, 1000);
    }
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(button));
    QVERIFY(X11TestInput::keys({QStringLiteral("Return")}));
}

// Answers the question on the screen: it stands in front of the main window, with the keyboard,
// and goes once the answer is pressed.
void answer(Scene &scene, const char *key, Input input)
{
    QMessageBox *question = nullptr;
    QTRY_VERIFY((question = openQuestion()));
    VERIFY_QUESTION_IN_FRONT(question, scene.window());
    QAbstractButton *button = buttonTitled(question, text(key));
    QVERIFY2(button, key);
    QPointer<QMessageBox> asked = question;
    if (input == Input::mouse) {
        QVERIFY(X11TestInput::click(button));
    } else {
        pressWithKeys(button);
        if (QTest::currentTestFailed())
            return;
    }
    QTRY_VERIFY2(!asked || !asked->isVisible(), qPrintable(QStringLiteral("\"%1\" did not act").arg(text(key))));
}

} // namespace

class tst_KavrelStartBesideTheSheet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void oneStartWhicheverRoadIsPressed_data();
    void oneStartWhicheverRoadIsPressed();

private:
    std::unique_ptr<QProcess> m_panels;
};

// A panel beside the small screen reserves the rest of the test screen (along the right and the
// bottom edge), which leaves the program a work area within 1280 × 720.
void tst_KavrelStartBesideTheSheet::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server with a window manager: run under scripts/test, which starts them");
    // As main() names the program: the question boxes carry the name in their title bars.
    QApplication::setApplicationDisplayName(ApplicationInfo::displayName());
    QApplication::setQuitOnLastWindowClosed(false);
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect whole = screen->geometry();
    const int right = whole.width() - smallScreen.width();
    const int bottom = whole.height() - smallScreen.height();
    m_panels = TestChildProcess::start(QStringLiteral("x11-windows"),
                                       {QStringLiteral("Panel|%1|%2|strut-right=%1,strut-bottom=%3,at=%4,0")
                                            .arg(right).arg(smallScreen.height()).arg(bottom).arg(smallScreen.width())});
    QVERIFY(m_panels);
    QTRY_VERIFY(smallScreen.contains(screen->availableGeometry()));
}

void tst_KavrelStartBesideTheSheet::cleanupTestCase()
{
    if (m_panels)
        TestChildProcess::finish(*m_panels);
}

void tst_KavrelStartBesideTheSheet::oneStartWhicheverRoadIsPressed_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("starts");
    QTest::addColumn<bool>("newSession");
    QTest::addColumn<bool>("microphone");
    QTest::addColumn<QString>("pictures"); // the appearance the states are shown in, if any

    for (const Input input : {Input::mouse, Input::keyboard}) {
        const bool mouse = input == Input::mouse;
        const char *by = mouse ? "mouse: " : "keyboard: ";
        const auto row = [by](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(QString::fromLatin1(by) + QLatin1String(name)));
        };
        row("the prompt over the sheet, Start New")
            << int(input) << QStringList{"prompt start", "Start New", "Continue Without Mic"} << 1 << true << false
            << QString::fromLatin1(mouse ? "light" : "dark");
        // The click where the sheet's Cancel was finds the main window behind the question.
        QStringList overTheSheet{"prompt start", "Continue", "Continue Without Mic"};
        if (mouse)
            overTheSheet.insert(1, "click where Cancel was");
        row("the prompt over the sheet, Continue") << int(input) << overTheSheet << 1 << false << false << QString();
        row("Cancel, then the prompt, Start New")
            << int(input) << QStringList{"cancel", "prompt start", "Start New", "Turn On Microphone"} << 1 << true << true
            << QString();
        row("Cancel, then the prompt, Continue")
            << int(input) << QStringList{"cancel", "prompt start", "Continue", "Continue Without Mic"} << 1 << false
            << false << QString();
        row("the sheet's Start, then the prompt, Continue")
            << int(input) << QStringList{"sheet start", "prompt start", "Continue", "Continue Without Mic"} << 1 << false
            << false << QString();
    }
}

void tst_KavrelStartBesideTheSheet::oneStartWhicheverRoadIsPressed()
{
    QFETCH(int, input);
    QFETCH(QStringList, steps);
    QFETCH(int, starts);
    QFETCH(bool, newSession);
    QFETCH(bool, microphone);
    QFETCH(QString, pictures);
    const Input by = Input(input);

    Screenshots::Variant variant{pictures == QLatin1String("dark") ? KavrelColorScheme::dark : KavrelColorScheme::light,
                                 KavrelAppLanguage::russian, pictures + QStringLiteral("-ru")};
    Screenshots::applyProgramPalette(variant);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    const auto picture = [&](const char *state) {
        if (!pictures.isEmpty()) {
            QTest::qWait(300); // the window manager's frames drawn
            QVERIFY(!Screenshots::saveScreen(smallScreen, QStringLiteral("1280x720/start-beside-sheet-") + QLatin1String(state), variant).isEmpty());
        }
    };

    Scene scene;
    openSheet(scene, by);
    if (QTest::currentTestFailed())
        return;
    showPrompt(scene);
    if (QTest::currentTestFailed())
        return;
    picture("sheet-and-prompt");
    const QPoint cancelPlace = scene.sheet()->cancelButton()->mapToGlobal(scene.sheet()->cancelButton()->rect().center());
    int answers = 0;

    for (const QString &step : std::as_const(steps)) {
        if (step == QLatin1String("cancel")) {
            QPointer<ListeningSetupSheet> sheet = scene.sheet();
            if (by == Input::mouse)
                QVERIFY(X11TestInput::click(sheet->cancelButton()));
            else
                QVERIFY(X11TestInput::keys({QStringLiteral("Escape")}));
            QTRY_VERIFY(!scene.sheetShown());
            // Nothing starts, now or a little later.
            QTest::qWait(300);
            QVERIFY(!openQuestion());
            QCOMPARE(scene.starts(), 0);
            QVERIFY(!scene.program.engine.model->isBusy());
        } else if (step == QLatin1String("sheet start")) {
            if (by == Input::mouse)
                QVERIFY(X11TestInput::click(scene.sheet()->startButton()));
            else
                QVERIFY(X11TestInput::keys({QStringLiteral("Return")}));
            QTRY_VERIFY(!scene.sheetShown());
            QTRY_VERIFY(openQuestion());
        } else if (step == QLatin1String("prompt start")) {
            QPointer<QMessageBox> askedBefore = openQuestion();
            // The panel never takes the keyboard: it is pressed with the mouse whatever the row.
            QVERIFY(X11TestInput::click(scene.promptStartButton()));
            QTRY_VERIFY(openQuestion());
            // One place to finish the start: the sheet gave way, and a question already asked
            // is the one still asked.
            QTRY_VERIFY(!scene.sheetShown());
            QMessageBox *question = openQuestion();
            if (askedBefore)
                QCOMPARE(question, askedBefore.data());
            VERIFY_QUESTION_IN_FRONT(question, scene.window());
            // It keeps the keyboard once the windows have settled.
            QTest::qWait(400);
            VERIFY_QUESTION_IN_FRONT(question, scene.window());
            QCOMPARE(scene.starts(), 0);
            picture("question");
        } else if (step == QLatin1String("click where Cancel was")) {
            QMessageBox *question = openQuestion();
            QVERIFY(question);
            QVERIFY(X11TestInput::click(cancelPlace));
            QTest::qWait(300);
            QCOMPARE(openQuestion(), question);
            QCOMPARE(scene.starts(), 0);
        } else {
            answer(scene, qPrintable(step), by);
            if (QTest::currentTestFailed())
                return;
            // The first answer brings the microphone question in the pictured rows.
            if (++answers == 1 && !pictures.isEmpty()) {
                QTRY_VERIFY(openQuestion());
                VERIFY_QUESTION_IN_FRONT(openQuestion(), scene.window());
                picture("microphone-question");
            }
        }
        if (QTest::currentTestFailed())
            return;
    }

    SessionTest::Engine &engine = scene.program.engine;
    QVERIFY(engine.settle([&engine] { return engine.model->hasActiveSession() && !engine.model->isBusy(); }));
    // Nothing else is still on its way.
    QTest::qWait(300);
    QCOMPARE(scene.starts(), starts);
    QCOMPARE(scene.startedNewSession(), newSession);
    QCOMPARE(scene.microphoneStarted(), microphone);
    QVERIFY(!openQuestion());
    QVERIFY(!scene.sheetShown());
    picture("listening");
    QVERIFY(engine.stop());
}

KAVREL_X11_TEST_MAIN_WITH_CHILDREN(tst_KavrelStartBesideTheSheet, "KAVREL_TEST_X11")

#include "tst_KavrelStartBesideTheSheet.moc"
