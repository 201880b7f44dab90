// The main window's start road: a session refresh before the setup sheet and another after
// its Start, the microphone choice read at the start, the error line, Cancel, and a window
// closed while the start is under way.

#include "WorkspaceHarness.h"

#include "kit/widgets/KavrelCapsuleButton.h"
#include "workspace/WorkspaceStartRoad.h"
#include "workspace/widgets/InlineStatusMessage.h"
#include "workspace/widgets/ListeningSetupSheet.h"
#include "kit/widgets/KavrelSwitch.h"

#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>

using namespace WorkspaceTest;

namespace {

int refreshes(Workspace &w)
{
    return int(w.backend.requests(QString::fromLatin1(FakeAuthBackend::refreshPath)).size());
}

bool openSheet(Workspace &w)
{
    w.view->handlePrimaryAction();
    return QTest::qWaitFor([&] { return w.view->listeningSetupSheet() && w.view->listeningSetupSheet()->isVisible(); });
}

} // namespace

class tst_WorkspaceStartRoad final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refreshesTwiceAndReadsTheMicrophoneChoiceAtTheStart();
    void cancelStartsNothingAndKeepsTheChoices();
    void failedRefreshesShowTheStoreMessage_data();
    void failedRefreshesShowTheStoreMessage();
    void closingTheWindowMidStart();
    void questionsOfAnotherRoadCloseTheSheet_data();
    void questionsOfAnotherRoadCloseTheSheet();
};

void tst_WorkspaceStartRoad::refreshesTwiceAndReadsTheMicrophoneChoiceAtTheStart()
{
    // Sessions that expire within a minute are refreshed by every ensureActiveSession().
    Workspace w(true, 30);
    w.auth->setReplyDelay(80);
    w.backend.clearRecords();
    QVERIFY(!w.view->primaryActionDisabled());

    QVERIFY(openSheet(w));
    QCOMPARE(refreshes(w), 1);
    QCOMPARE(w.prompts.asked, 0);
    ListeningSetupSheet *sheet = w.view->listeningSetupSheet();
    QVERIFY(sheet->startButton()->isDefault());
    QTest::keyClick(sheet, Qt::Key_Return);
    QVERIFY(QTest::qWaitFor([&] { return !w.view->listeningSetupSheet(); }));
    QVERIFY(!w.view->startRoad()->isListeningSetupPresented());
    QVERIFY(!w.view->startRoad()->shouldStartListeningAfterSetup());

    // Turned on while the second refresh is still under way: the start must see it.
    QCOMPARE(w.prompts.asked, 0);
    w.model().setStartsWithMicrophoneEnabled(true);
    QVERIFY(QTest::qWaitFor([&] { return w.prompts.asked == 1; }));
    QCOMPARE(refreshes(w), 2);
    QCOMPARE(w.prompts.microphoneAsked, 0);
    QVERIFY(w.engine.settle([&] { return !w.model().isBusy() && w.model().hasActiveSession(); }));
    QVERIFY(w.model().isMicrophoneListening());
    QVERIFY(w.engine.stop());
}

void tst_WorkspaceStartRoad::cancelStartsNothingAndKeepsTheChoices()
{
    Workspace w;
    for (bool escape : {false, true}) {
        QVERIFY(openSheet(w));
        ListeningSetupSheet *sheet = w.view->listeningSetupSheet();
        const bool recording = w.model().isAudioRecordingEnabled();
        sheet->recordingSwitch()->click();
        QCOMPARE(w.model().isAudioRecordingEnabled(), !recording);
        if (escape)
            QTest::keyClick(sheet, Qt::Key_Escape);
        else
            sheet->cancelButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return !w.view->listeningSetupSheet(); }));
        QTest::qWait(50);
        QCOMPARE(w.prompts.asked, 0);
        QVERIFY(!w.model().hasActiveSession());
        QCOMPARE(w.model().isAudioRecordingEnabled(), !recording);
        QVERIFY(!w.view->startRoad()->isListeningSetupPresented());
    }
}

void tst_WorkspaceStartRoad::failedRefreshesShowTheStoreMessage_data()
{
    QTest::addColumn<bool>("beforeTheSheet");
    QTest::newRow("first refresh") << true;
    QTest::newRow("second refresh") << false;
}

void tst_WorkspaceStartRoad::failedRefreshesShowTheStoreMessage()
{
    QFETCH(bool, beforeTheSheet);
    Workspace w(true, 30);
    const FakeResponse rejected = FakeResponse::json(401, QJsonObject{{"error", QJsonObject{{"message", "expired"}}}});
    if (beforeTheSheet) {
        w.backend.route("POST", QString::fromLatin1(FakeAuthBackend::refreshPath), rejected);
        w.view->handlePrimaryAction();
    } else {
        QVERIFY(openSheet(w));
        w.backend.route("POST", QString::fromLatin1(FakeAuthBackend::refreshPath), rejected);
        w.view->listeningSetupSheet()->startButton()->click();
    }
    QVERIFY(QTest::qWaitFor([&] { return w.model().errorMessage().has_value(); }));
    // The store's own text, in the interface language.
    QCOMPARE(*w.model().errorMessage(),
             KavrelLocalizationStore::shared().localized(QStringLiteral("Your login expired. Sign in again to continue.")));
    QVERIFY(w.view->errorLine()->isVisibleTo(w.view.get()));
    QCOMPARE(w.view->errorLine()->text(), *w.model().errorMessage());
    QVERIFY(!w.view->listeningSetupSheet());
    QCOMPARE(w.prompts.asked, 0);
    // Signed out now: the Start button is off.
    QVERIFY(w.view->primaryActionDisabled());
}

void tst_WorkspaceStartRoad::closingTheWindowMidStart()
{
    Workspace w(true, 30);
    w.auth->setReplyDelay(80);
    QVERIFY(openSheet(w));
    w.view->listeningSetupSheet()->startButton()->click();
    // The window goes while the second refresh waits for the backend.
    w.view.reset();
    QVERIFY(QTest::qWaitFor([&] { return w.prompts.asked == 1; }));
    QVERIFY(w.engine.settle([&] { return !w.model().isBusy() && w.model().hasActiveSession(); }));
    QVERIFY(w.engine.stop());

    // And while the first refresh runs: nothing opens, nothing breaks.
    w.view = std::make_unique<ContentView>(*w.engine.model, *w.authStore, *w.surface, *w.starter, *w.engine.defaults);
    w.view->handlePrimaryAction();
    w.view.reset();
    QTest::qWait(200);
    QCOMPARE(w.prompts.asked, 1);
}

void tst_WorkspaceStartRoad::questionsOfAnotherRoadCloseTheSheet_data()
{
    QTest::addColumn<bool>("sheetFirst");
    QTest::newRow("asked while the sheet is open") << true;
    QTest::newRow("the sheet's refresh ends while they are asked") << false;
}

// One start at a time: the tray or a meeting prompt asks the start questions while the sheet is
// open, or while the refresh before it runs. The sheet closes as after Cancel, or does not open;
// only the start the questions decide runs, with the choices made in the sheet.
void tst_WorkspaceStartRoad::questionsOfAnotherRoadCloseTheSheet()
{
    QFETCH(bool, sheetFirst);
    Workspace w(true, 30);
    w.auth->setReplyDelay(80);
    w.prompts.heldStartQuestion = Continuation<ListeningSessionStartMode>::create();
    const auto answered = qScopeGuard([&w] { w.prompts.heldStartQuestion->resume(ListeningSessionStartMode::newSession); });
    QSignalSpy presented(w.view->startRoad(), &WorkspaceStartRoad::listeningSetupPresentedChanged);
    if (sheetFirst) {
        QVERIFY(openSheet(w));
        w.view->listeningSetupSheet()->recordingSwitch()->click();
    }
    const bool recording = w.model().isAudioRecordingEnabled();

    // Another road's start, as the tray and the meeting prompt make it.
    w.starter->startListeningAfterAuthRefresh({});
    QVERIFY(QTest::qWaitFor([&] { return w.prompts.asked == 1; }));
    QVERIFY(w.model().isAskingStartQuestions());
    QVERIFY(!w.view->startRoad()->isListeningSetupPresented());
    if (!sheetFirst)
        w.view->handlePrimaryAction();
    QTest::qWait(300);
    QVERIFY(!w.view->listeningSetupSheet() || !w.view->listeningSetupSheet()->isVisible());
    QCOMPARE(presented.size(), sheetFirst ? 2 : 0);

    w.prompts.heldStartQuestion->resume(ListeningSessionStartMode::continuePrevious);
    QVERIFY(w.engine.settle([&] { return !w.model().isBusy() && w.model().hasActiveSession(); }));
    QVERIFY(!w.model().isAskingStartQuestions());
    QTest::qWait(100);
    QCOMPARE(w.engine.trace.only({QStringLiteral("system.start")}).size(), 1);
    QCOMPARE(w.prompts.asked, 1);
    QCOMPARE(w.model().isAudioRecordingEnabled(), recording);
    QVERIFY(!w.view->startRoad()->shouldStartListeningAfterSetup());
    QVERIFY(w.engine.stop());
}

QTEST_MAIN(tst_WorkspaceStartRoad)
#include "tst_WorkspaceStartRoad.moc"
