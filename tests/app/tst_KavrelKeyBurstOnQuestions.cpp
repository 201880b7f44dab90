// The start question and the microphone question, answered with a key pressed twice (Space or
// Return, 150 ms or 700 ms apart) or with Escape, on the real X server with its window manager, in
// Russian, the keyboard on "Начать прослушивание" as a keyboard user leaves it: the question
// closes, its window's keyboard goes back to the start control, which has turned into
// "Остановить прослушивание" meanwhile, and the second key comes. The meeting is as the one
// answer left it; one Space on the stop control afterwards stops it.
// So too History's "Удалить сессию?", asked from a card's "Удалить" while a meeting runs: it opens
// on "Отмена", the keys delete nothing and the keyboard goes back to the card's "Удалить", where
// the second key comes. CTest runs each road on its own (KAVREL_TEST_QUESTION "start" or
// "delete"), which keeps each run under a minute on a small machine.

#include "KeyPressedAgain.h"
#include "QuestionInFront.h"

#include "history/widgets/KavrelHistorySessionCardDelegate.h"
#include "history/widgets/KavrelHistoryView.h"
#include "screens/KavrelWorkspaceShellModel.h"
#include "screens/widgets/KavrelWorkspaceShellView.h"
#include "session/widgets/MessageBoxListeningStartPrompts.h"
#include "support/FakeHistoryBackend.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"

#include <QAbstractButton>
#include <QJsonObject>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>

using namespace KeyPressedAgain;

namespace {

QString text(const char *key)
{
    return KavrelLocalizationStore::shared().localized(QString::fromLatin1(key));
}

// Whether this run walks the road: KAVREL_TEST_QUESTION names one, or none for all.
bool walks(const char *road)
{
    const QString only = qEnvironmentVariable("KAVREL_TEST_QUESTION");
    return only.isEmpty() || only == QLatin1String(road);
}

// The program's start questions as main() makes them, over the program of KeyPressedAgain.h.
struct Scene
{
    KavrelApp *questionsOwner = nullptr;
    MessageBoxListeningStartPrompts prompts{KavrelLocalizationStore::shared(), [this] {
        return questionsOwner ? questionsOwner->questionWindow() : nullptr;
    }};
    Program program;

    Scene()
    {
        program.model().setStartPrompts(&prompts);
        questionsOwner = program.over.app.get();
    }
    ~Scene()
    {
        SubtitleViewModel &model = program.model();
        (void)QTest::qWaitFor([&model] {
            delete AppTest::openQuestion();
            return !AppTest::openQuestion() && !model.isAskingStartQuestions() && !model.isBusy();
        }, 10000);
        if (model.hasActiveSession())
            (void)program.over.engine.stop();
        questionsOwner = nullptr;
    }

    // The main window on the workspace, in front, not listening.
    bool open()
    {
        program.model().localization().setLanguage(KavrelAppLanguage::russian);
        program.over.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
        QWidget *window = program.window = program.over.mainWindow();
        return window && QTest::qWaitForWindowActive(window) && X11TestWindows::settledActive(window)
               && QTest::qWaitFor([this] {
                      return (program.view = program.window->findChild<ContentView *>()) && program.view->isVisible()
                             && program.view->primaryButton()->isEnabled();
                  });
    }
};

} // namespace

class tst_KavrelKeyBurstOnQuestions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void secondKeyOnTheStartRoad_data();
    void secondKeyOnTheStartRoad();
    void secondKeyOnTheDeleteQuestion_data();
    void secondKeyOnTheDeleteQuestion();
};

void tst_KavrelKeyBurstOnQuestions::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no window manager: run under scripts/test, which starts one");
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
}

void tst_KavrelKeyBurstOnQuestions::secondKeyOnTheStartRoad_data()
{
    QTest::addColumn<bool>("microphoneQuestion");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("apartMs");
    // What the one answer leaves: the microphone on or off in the meeting it started.
    QTest::addColumn<bool>("microphoneOn");
    const QStringList spaces{QStringLiteral("space"), QStringLiteral("space")};
    const QStringList returns{QStringLiteral("Return"), QStringLiteral("Return")};
    const QStringList escape{QStringLiteral("Escape")};
    if (!walks("start"))
        return;
    for (const bool microphoneQuestion : {false, true}) {
        const char *name = microphoneQuestion ? "Включить микрофон?" : "Начать прослушивание?";
        QTest::addRow("%s Space, Space 150 ms apart", name) << microphoneQuestion << spaces << 150 << true;
        QTest::addRow("%s Space, Space 700 ms apart", name) << microphoneQuestion << spaces << 700 << true;
        QTest::addRow("%s Return, Return 150 ms apart", name) << microphoneQuestion << returns << 150 << true;
        QTest::addRow("%s Return, Return 700 ms apart", name) << microphoneQuestion << returns << 700 << true;
        // Escape continues: the previous meeting, or without the microphone.
        QTest::addRow("%s Escape", name) << microphoneQuestion << escape << 0 << !microphoneQuestion;
    }
}

void tst_KavrelKeyBurstOnQuestions::secondKeyOnTheStartRoad()
{
    if (!walks("start"))
        QSKIP("the start questions run on their own");
    QFETCH(bool, microphoneQuestion);
    QFETCH(QStringList, keys);
    QFETCH(int, apartMs);
    QFETCH(bool, microphoneOn);
    Scene scene;
    QVERIFY(scene.open());
    Program &program = scene.program;
    auto *start = static_cast<QWidget *>(program.view->primaryButton());
    QVERIFY(keyboardTo(start));
    const QString startName = describe(start);

    // The start road asks its questions over the main window.
    program.over.surface->promptAndStartListening(!microphoneQuestion);
    QMessageBox *question = nullptr;
    QTRY_VERIFY((question = AppTest::openQuestion()));
    VERIFY_QUESTION_IN_FRONT(question, program.window);
    if (microphoneQuestion) {
        QCOMPARE(question->text(), text("Start listening?"));
        QVERIFY(X11TestInput::click(question->defaultButton()));
        QTRY_VERIFY((question = AppTest::openQuestion()) && question->text() == text("Turn on microphone?"));
        VERIFY_QUESTION_IN_FRONT(question, program.window);
    }
    QCOMPARE(question->focusWidget(), static_cast<QWidget *>(question->defaultButton()));

    QVERIFY(X11TestInput::keys(keys, apartMs));
    QTRY_VERIFY_WITH_TIMEOUT(!AppTest::openQuestion() && !program.model().isAskingStartQuestions(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(program.model().hasActiveSession() && !program.model().isBusy()
                                 && !program.model().isMicrophoneBusy(),
                             10000);
    // Long enough for a stop the second key set off to show.
    QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 200);
    QVERIFY2(program.model().hasActiveSession() && !program.model().listeningSession()->isStopping(),
             "the meeting ended");
    QCOMPARE(program.model().isMicrophoneListening(), microphoneOn);
    QCOMPARE(QApplication::activeWindow(), program.window);
    QCOMPARE(QApplication::focusWidget(), start);
    QVERIFY2(describe(start) != startName, qPrintable(describe(start)));

    // The keyboard user's one key on the stop control works the first time.
    QVERIFY(X11TestInput::keys({QStringLiteral("space")}));
    QTRY_VERIFY_WITH_TIMEOUT(!program.model().hasActiveSession(), 10000);
}

void tst_KavrelKeyBurstOnQuestions::secondKeyOnTheDeleteQuestion_data()
{
    if (walks("delete")) {
        addKeyBurstRows(QStringLiteral("Удалить сессию?: "));
        return;
    }
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("apartMs");
}

void tst_KavrelKeyBurstOnQuestions::secondKeyOnTheDeleteQuestion()
{
    if (!walks("delete"))
        QSKIP("the delete question runs on its own");
    using Part = KavrelHistorySessionCardDelegate::Part;
    QFETCH(QStringList, keys);
    QFETCH(int, apartMs);
    std::unique_ptr<Program> listening = programListening();
    const auto end = qScopeGuard([&listening] { endProgram(listening); });
    QVERIFY(listening && listening->window);
    Program &program = *listening;
    FakeHistoryBackend history(&program.over.backend);
    for (const QString title : {QStringLiteral("Планёрка"), QStringLiteral("Ретроспектива")}) {
        history.addMeeting(QStringLiteral("workspace-1"), QJsonObject{{"title", title},
                                                                      {"status", "completed"},
                                                                      {"durationSeconds", 600}});
    }
    auto *shell = program.window->findChild<KavrelWorkspaceShellView *>();
    QVERIFY(shell);
    shell->model()->selectSection(KavrelAppSection::history);
    KavrelHistoryView *historyView = nullptr;
    QTRY_VERIFY((historyView = program.window->findChild<KavrelHistoryView *>()) && historyView->isVisible());
    QListView *list = historyView->listView();
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->rowCount(), 2, 10000);

    // The keyboard on the first card's "Удалить", as Tab leaves it; one Space there asks.
    auto *delegate = qobject_cast<KavrelHistorySessionCardDelegate *>(list->itemDelegate());
    QVERIFY(keyboardTo(list));
    list->setCurrentIndex(list->model()->index(0, 0));
    for (int press = 0; press < 3 && delegate->keyboardPart() != Part::remove; ++press)
        QTest::keyClick(program.window->windowHandle(), Qt::Key_Tab);
    QCOMPARE(delegate->keyboardPart(), Part::remove);
    QVERIFY(X11TestInput::keys({QStringLiteral("space")}));
    QMessageBox *question = nullptr;
    QTRY_VERIFY((question = historyView->deleteConfirmation()) && question->isVisible());
    VERIFY_QUESTION_IN_FRONT(question, program.window);
    QCOMPARE(question->text(), text("Delete session?"));
    QCOMPARE(question->focusWidget(), static_cast<QWidget *>(question->defaultButton()));
    QCOMPARE(question->buttonRole(question->defaultButton()), QMessageBox::RejectRole);
    // The user reads the question; the key that asked is long behind.
    QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 200);

    QVERIFY(X11TestInput::keys(keys, apartMs));
    QTRY_VERIFY_WITH_TIMEOUT(!AppTest::openQuestion(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), program.window, 5000);
    // Long enough for what the second key set off to show: the question asked again, a delete.
    QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 200);
    QVERIFY2(!AppTest::openQuestion(), "the second key asked again");
    QCOMPARE(history.meetingCount(), 2);
    QVERIFY(!history.operationNames().contains(QStringLiteral("DeleteMeetingSession")));
    QCOMPARE(list->model()->rowCount(), 2);
    const QString changed = program.meetingChanged();
    QVERIFY2(changed.isEmpty(), qPrintable(changed));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(list));
    QCOMPARE(delegate->keyboardPart(), Part::remove);

    // Back on the workspace, the keyboard user's one Space on the stop control stops the meeting.
    shell->model()->selectSection(KavrelAppSection::workspace);
    ContentView *view = nullptr;
    QTRY_VERIFY((view = program.window->findChild<ContentView *>()) && view->isVisible());
    QWidget *stop = view->primaryButton();
    QVERIFY(keyboardTo(stop));
    QVERIFY2(describe(stop).contains(text("Stop Listening")), qPrintable(describe(stop)));
    QVERIFY(X11TestInput::keys({QStringLiteral("space")}));
    QTRY_VERIFY_WITH_TIMEOUT(!program.model().hasActiveSession(), 10000);
}

KAVREL_X11_TEST_MAIN(tst_KavrelKeyBurstOnQuestions, "KAVREL_TEST_TRAY")

#include "tst_KavrelKeyBurstOnQuestions.moc"
