// The detection store's decisions: prompts, confirmation, cooldowns, the end watch and the
// panels' actions.

#include "detection/MeetingDetectionHarness.h"

#include <QApplication>

using namespace MeetingDetectionTest;

Q_DECLARE_METATYPE(Shown)

class tst_MeetingDetectionStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startPromptShowsOnceAndStaysWhileVisible();
    void closedPromptWaitsForItsCooldownOtherMeetingsDoNot();
    void presentCooldownAndReplacementByAnotherMeeting();
    void audioOnlyMeetingIsConfirmedAfterSixSeconds();
    void sessionClosesTheStartPrompt();
    void endPromptAfterTheGraceAndClosedWhenTheMeetingReturns();
    void keepListeningRestartsTheGraceAndHoldsTheEndPrompt();
    void stopListeningStopsAndForgetsTheMeeting();
    void noEndPromptWhileBusyOrDuringTheMicrophoneTest_data();
    void noEndPromptWhileBusyOrDuringTheMicrophoneTest();
    void startOnAnAudioOnlyMeetingLeavesNoActiveMeeting();
    void startUsesTheShellsHandlerOrTheViewModel();
    void suppressionAndAGoneViewModelCloseThePanel();
    void cooldownMapsDropExpiredEntries();
};

void tst_MeetingDetectionStore::startPromptShowsOnceAndStaysWhileVisible()
{
    Harness h;
    h.poll(zoomWindow(812, true));
    QCOMPARE(h.shown(), Shown::detected);
    QWidget *first = h.panel();

    // Still visible: not shown again, even once the present cooldown is over.
    h.advance(130);
    h.poll(zoomWindow(812, true));
    QCOMPARE(h.panel(), first);
    // Nor closed when the meeting is no longer seen.
    h.advance(2);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::detected);
    QCOMPARE(h.panel(), first);
}

void tst_MeetingDetectionStore::closedPromptWaitsForItsCooldownOtherMeetingsDoNot()
{
    Harness h;
    h.poll(zoomWindow(812));
    h.click("closeButton");
    QCOMPARE(h.shown(), Shown::nothing);

    h.advance(599);
    h.poll(zoomWindow(812));
    QCOMPARE(h.shown(), Shown::nothing);
    // Another process is another meeting.
    h.poll(zoomWindow(900));
    QCOMPARE(h.shown(), Shown::detected);
    h.click("closeButton");

    h.advance(1);
    h.poll(zoomWindow(812));
    QCOMPARE(h.shown(), Shown::detected);
}

void tst_MeetingDetectionStore::presentCooldownAndReplacementByAnotherMeeting()
{
    Harness h;
    h.poll(zoomWindow(812));
    QWidget *first = h.panel();
    // A meeting of another key that passes its cooldowns replaces the prompt.
    h.poll(zoomWindow(900));
    QCOMPARE(h.shown(), Shown::detected);
    QVERIFY(h.panel() != first);
    QWidget *second = h.panel();

    // The first was shown less than 120 s ago: it does not take the panel back.
    h.advance(119);
    h.poll(zoomWindow(812));
    QCOMPARE(h.panel(), second);
    h.advance(1);
    h.poll(zoomWindow(812));
    QVERIFY(h.panel() != second);
    QCOMPARE(h.shown(), Shown::detected);
}

void tst_MeetingDetectionStore::audioOnlyMeetingIsConfirmedAfterSixSeconds()
{
    Harness h;
    h.poll(zoomAudio());
    QCOMPARE(h.shown(), Shown::nothing);
    h.advance(4);
    h.poll(zoomAudio());
    QCOMPARE(h.shown(), Shown::nothing);
    // A poll without any meeting starts the wait again.
    h.advance(2);
    h.poll(std::nullopt);
    h.poll(zoomAudio());
    h.advance(5.9);
    h.poll(zoomAudio());
    QCOMPARE(h.shown(), Shown::nothing);
    h.advance(0.1);
    h.poll(zoomAudio());
    QCOMPARE(h.shown(), Shown::detected);

    // A window signal needs no wait, and clears its own audio sighting.
    Harness w;
    w.poll(zoomAudio(7));
    w.poll(zoomWindow(7));
    QCOMPARE(w.shown(), Shown::detected);
    w.click("closeButton");
    w.advance(601);
    w.poll(zoomAudio(7));
    QCOMPARE(w.shown(), Shown::nothing);
}

void tst_MeetingDetectionStore::sessionClosesTheStartPrompt()
{
    Harness h;
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::detected);
    h.session->active = true; // even while it is only starting
    h.session->busy = true;
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::nothing);
}

void tst_MeetingDetectionStore::endPromptAfterTheGraceAndClosedWhenTheMeetingReturns()
{
    Harness h;
    h.session->listen();
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::nothing);

    h.advance(59.9);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::nothing);
    h.advance(0.1);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::ended);

    // The meeting is back: the prompt goes.
    h.advance(2);
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::nothing);

    // After the session ends, a poll clears the meeting and closes an end prompt left up.
    h.advance(60);
    h.poll(std::nullopt);
    h.advance(121);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::ended);
    *h.session = FakeSession();
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::nothing);
    h.session->listen();
    h.advance(120);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::nothing);
}

void tst_MeetingDetectionStore::keepListeningRestartsTheGraceAndHoldsTheEndPrompt()
{
    Harness h;
    h.session->listen();
    h.poll(zoomWindow());
    h.advance(60);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::ended);
    h.click("keepListeningButton");
    QCOMPARE(h.shown(), Shown::nothing);

    // The grace starts again, and the prompt for that meeting returns no earlier than 600 s later.
    h.advance(599);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::nothing);
    h.advance(1);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::ended);

    // The close button is Keep Listening.
    h.click("closeButton");
    QCOMPARE(h.shown(), Shown::nothing);
    h.advance(599);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::nothing);
    QCOMPARE(h.session->stops, 0);
}

void tst_MeetingDetectionStore::stopListeningStopsAndForgetsTheMeeting()
{
    Harness h;
    h.session->listen();
    h.poll(zoomWindow());
    h.advance(60);
    h.poll(std::nullopt);
    h.click("stopListeningButton");
    QCOMPARE(h.session->stops, 1);
    QCOMPARE(h.shown(), Shown::nothing);
    // The session has not stopped yet, but no meeting is tracked: no further end prompt.
    h.advance(700);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::nothing);
}

void tst_MeetingDetectionStore::noEndPromptWhileBusyOrDuringTheMicrophoneTest_data()
{
    QTest::addColumn<bool>("systemAudio");
    QTest::addColumn<bool>("microphone");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("microphoneBusy");
    QTest::addColumn<Shown>("expected");

    QTest::newRow("system audio") << true << false << false << false << Shown::ended;
    QTest::newRow("microphone only") << false << true << false << false << Shown::ended;
    QTest::newRow("microphone test (nothing captured)") << false << false << false << false << Shown::nothing;
    QTest::newRow("starting or stopping") << true << false << true << false << Shown::nothing;
    QTest::newRow("microphone busy") << true << true << false << true << Shown::nothing;
}

void tst_MeetingDetectionStore::noEndPromptWhileBusyOrDuringTheMicrophoneTest()
{
    QFETCH(bool, systemAudio);
    QFETCH(bool, microphone);
    QFETCH(bool, busy);
    QFETCH(bool, microphoneBusy);
    QFETCH(Shown, expected);

    Harness h;
    h.session->listen();
    h.poll(zoomWindow());
    h.session->systemAudio = systemAudio;
    h.session->microphone = microphone;
    h.session->busy = busy;
    h.session->microphoneBusy = microphoneBusy;
    h.advance(61);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), expected);
}

void tst_MeetingDetectionStore::startOnAnAudioOnlyMeetingLeavesNoActiveMeeting()
{
    Harness h;
    h.poll(zoomAudio());
    h.advance(6);
    h.poll(zoomAudio());
    QCOMPARE(h.shown(), Shown::detected);
    h.click("startListeningButton");
    QCOMPARE(h.session->starts, 1);
    QCOMPARE(h.session->includedMicrophone, std::optional<bool>(true));
    QCOMPARE(h.shown(), Shown::nothing);

    h.session->listen();
    h.advance(61);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::nothing); // nothing tracked, so nothing ended

    // The same start on a window meeting tracks it from the moment of the start.
    Harness w;
    w.poll(zoomWindow());
    w.click("startListeningButton");
    w.session->listen();
    w.advance(60);
    w.poll(std::nullopt);
    QCOMPARE(w.shown(), Shown::ended);
}

void tst_MeetingDetectionStore::startUsesTheShellsHandlerOrTheViewModel()
{
    Harness h;
    int handled = 0;
    h.store->setStartListeningHandler([&handled] { ++handled; });
    h.poll(zoomWindow());
    h.click("startListeningButton");
    QCOMPARE(handled, 1);
    QCOMPARE(h.session->starts, 0);

    // While a session is already active, Start Listening only closes the prompt.
    h.advance(700);
    h.poll(zoomWindow(900));
    QCOMPARE(h.shown(), Shown::detected);
    h.session->active = true;
    h.click("startListeningButton");
    QCOMPARE(handled, 1);
    QCOMPARE(h.shown(), Shown::nothing);
}

void tst_MeetingDetectionStore::suppressionAndAGoneViewModelCloseThePanel()
{
    Harness h;
    bool backgroundOnly = false;
    h.store->setShouldSuppressPrompts([&backgroundOnly] { return backgroundOnly; });
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::detected);
    backgroundOnly = true;
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::nothing);
    h.advance(200);
    h.poll(zoomWindow(900));
    QCOMPARE(h.shown(), Shown::nothing);
    // Back in the foreground, the first poll may prompt at once.
    backgroundOnly = false;
    h.poll(zoomWindow(900));
    QCOMPARE(h.shown(), Shown::detected);

    h.session->alive = false;
    QVERIFY(!h.store->viewModel());
    h.poll(zoomWindow(900));
    QCOMPARE(h.shown(), Shown::nothing);
    // No view model and no handler: Start Listening only closes the prompt.
    h.session->alive = true;
    h.advance(700);
    h.poll(zoomWindow(901));
    h.session->alive = false;
    h.click("startListeningButton");
    QCOMPARE(h.session->starts, 0);
    QCOMPARE(h.shown(), Shown::nothing);
}

// Entries past their cooldown are dropped, so the maps do not grow with every meeting
// process seen over days in the tray.
void tst_MeetingDetectionStore::cooldownMapsDropExpiredEntries()
{
    Harness h;
    for (qint32 pid = 100; pid < 110; ++pid) {
        h.poll(zoomWindow(pid));
        h.click("closeButton");
    }
    QCOMPARE(h.store->cooldownEntryCount(), 20);
    h.advance(121);
    h.poll(std::nullopt);
    QCOMPARE(h.store->cooldownEntryCount(), 10); // the presentations are over
    h.advance(480);
    h.poll(std::nullopt);
    QCOMPARE(h.store->cooldownEntryCount(), 0);
    // And the behaviour is the one of expired entries.
    h.poll(zoomWindow(100));
    QCOMPARE(h.shown(), Shown::detected);
}

QTEST_MAIN(tst_MeetingDetectionStore)
#include "tst_MeetingDetectionStore.moc"
