// Meeting detection over the real session view model (its services faked): a prompt's
// Start Listening starts a session, the end prompt's Stop Listening stops it, and a view
// model that is gone is no longer used.

#include "detection/MeetingDetectionHarness.h"
#include "detection/SubtitleViewModelSessionControl.h"
#include "session/ListeningStartPrompts.h"
#include "session/SessionTestFakes.h"

#include <QApplication>

using namespace MeetingDetectionTest;

namespace {
// The user answers the start questions with a new session, without the microphone.
class NewSessionPrompts final : public ListeningStartPrompts
{
public:
    int asked = 0;
    QCoro::Task<ListeningSessionStartMode> askStartMode() override
    {
        ++asked;
        co_return ListeningSessionStartMode::newSession;
    }
    QCoro::Task<bool> askMicrophone() override
    {
        ++asked;
        co_return false;
    }
};
} // namespace

class tst_SubtitleViewModelSessionControl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void promptsStartAndStopTheSession();
    void aDestroyedViewModelIsGone();
};

void tst_SubtitleViewModelSessionControl::promptsStartAndStopTheSession()
{
    SessionTest::Engine engine;
    engine.model->setStartsWithMicrophoneEnabled(false);
    NewSessionPrompts prompts;
    engine.model->setStartPrompts(&prompts);
    Harness h(SubtitleViewModelSessionControl::of(engine.model.get()));

    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::detected);
    h.click("startListeningButton");
    QVERIFY(engine.settle([&] { return engine.model->status() == SubtitleStatus::listening && !engine.model->isBusy(); }));
    QVERIFY(prompts.asked > 0);
    QVERIFY(engine.model->hasActiveSession());

    // The meeting is watched, then gone for the grace period.
    h.poll(zoomWindow());
    h.advance(60);
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::ended);
    h.click("stopListeningButton");
    QVERIFY(engine.settle([&] { return !engine.model->hasActiveSession() && !engine.model->isBusy(); }));
    h.poll(std::nullopt);
    QCOMPARE(h.shown(), Shown::nothing);
}

void tst_SubtitleViewModelSessionControl::aDestroyedViewModelIsGone()
{
    SessionTest::Engine engine;
    const auto control = SubtitleViewModelSessionControl::of(engine.model.get());
    Harness h(control);
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::detected);

    engine.model.reset();
    QVERIFY(!control->isAlive());
    QVERIFY(!h.store->viewModel());
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::nothing);
    // Calls through the control do nothing now.
    control->promptAndStartListening(true);
    control->stopActiveSession();
    QVERIFY(!control->hasActiveSession());
}

QTEST_MAIN(tst_SubtitleViewModelSessionControl)
#include "tst_SubtitleViewModelSessionControl.moc"
