// The start question and the microphone question, answered with a key pressed twice (Space or
// Return, 150 ms or 700 ms apart) or with Escape, on the real X server with its window manager, in
// Russian, the keyboard on "Начать прослушивание" as a keyboard user leaves it: the question
// closes, its window's keyboard goes back to the start control, which has turned into
// "Остановить прослушивание" meanwhile, and the second key comes. The meeting is as the one
// answer left it; one Space on the stop control afterwards stops it.

#include "KeyPressedAgain.h"
#include "QuestionInFront.h"

#include "session/widgets/MessageBoxListeningStartPrompts.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>

using namespace KeyPressedAgain;

namespace {

QString text(const char *key)
{
    return KavrelLocalizationStore::shared().localized(QString::fromLatin1(key));
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

KAVREL_X11_TEST_MAIN(tst_KavrelKeyBurstOnQuestions, "KAVREL_TEST_TRAY")

#include "tst_KavrelKeyBurstOnQuestions.moc"
