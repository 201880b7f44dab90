#pragma once

// A detection store with everything it talks to scripted: the detector (run on the store's
// worker thread like the real scan), the clock, the session; the panels are the real ones.

#include "detection/MeetingDetectionStore.h"
#include "detection/widgets/KavrelMeetingDetectedPanelView.h"
#include "detection/widgets/KavrelMeetingEndedPanelView.h"
#include "detection/widgets/KavrelMeetingPromptPanels.h"

#include <QAbstractButton>
#include <QSignalSpy>
#include <QTest>

#include <mutex>

namespace MeetingDetectionTest {

struct FakeSession final : MeetingDetectionSessionControl
{
    bool alive = true;
    bool active = false;
    bool systemAudio = false;
    bool microphone = false;
    bool busy = false;
    bool microphoneBusy = false;
    bool startsWithMicrophone = true;
    int starts = 0;
    int stops = 0;
    std::optional<bool> includedMicrophone;

    bool isAlive() const override { return alive; }
    bool hasActiveSession() const override { return active; }
    bool isSystemAudioListening() const override { return systemAudio; }
    bool isMicrophoneListening() const override { return microphone; }
    bool isBusy() const override { return busy; }
    bool isMicrophoneBusy() const override { return microphoneBusy; }
    bool startsWithMicrophoneEnabled() const override { return startsWithMicrophone; }
    void promptAndStartListening(bool includeMicrophone) override
    {
        ++starts;
        includedMicrophone = includeMicrophone;
    }
    void stopActiveSession() override { ++stops; }

    void listen()
    {
        active = true;
        systemAudio = true;
    }
};

inline DetectedMeeting zoomWindow(qint32 pid = 812, bool audio = false)
{
    return DetectedMeeting{MeetingApp::zoom, QStringLiteral("zoom"), pid, QStringLiteral("Zoom Meeting"), audio,
                           MeetingDetectionSource::windowSignal};
}

inline DetectedMeeting zoomAudio(qint32 pid = 812)
{
    return DetectedMeeting{MeetingApp::zoom, QStringLiteral("zoom"), pid, std::nullopt, true,
                           MeetingDetectionSource::audioOutput};
}

enum class Shown { nothing, detected, ended };

// One store with everything it talks to. Not movable: the clock and detector refer to it.
class Harness
{
public:
    // The session is the scripted one unless another is given.
    explicit Harness(std::shared_ptr<MeetingDetectionSessionControl> control = nullptr)
    {
        auto panels = std::make_unique<KavrelMeetingPromptPanels>();
        m_panels = panels.get();
        MeetingDetectionStore::Timings timings;
        timings.pollingInterval = std::chrono::hours(1); // polls only when a test asks
        store = std::make_unique<MeetingDetectionStore>(
            control ? std::move(control) : session, std::move(panels),
            [this] {
                const std::lock_guard lock(m_mutex);
                return m_detection;
            },
            [this] { return now; }, timings);
        waitForPoll();
    }
    Harness(const Harness &) = delete;

    // One poll that sees `detection`.
    void poll(std::optional<DetectedMeeting> detection)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_detection = std::move(detection);
        }
        QSignalSpy spy(store.get(), &MeetingDetectionStore::pollCompleted);
        store->startMonitoringIfNeeded();
        if (spy.isEmpty())
            QVERIFY(spy.wait(10000));
    }
    void advance(double seconds) { now = now.addMSecs(qint64(seconds * 1000)); }

    Shown shown() const
    {
        QWidget *panel = m_panels->panel();
        if (!panel || !panel->isVisible())
            return Shown::nothing;
        if (panel->findChild<KavrelMeetingDetectedPanelView *>())
            return Shown::detected;
        return panel->findChild<KavrelMeetingEndedPanelView *>() ? Shown::ended : Shown::nothing;
    }
    QWidget *panel() const { return m_panels->panel(); }
    void click(const char *button)
    {
        QWidget *p = panel();
        QVERIFY(p);
        auto *target = p->findChild<QAbstractButton *>(QLatin1String(button));
        QVERIFY(target);
        target->click();
    }

    std::shared_ptr<FakeSession> session = std::make_shared<FakeSession>();
    QDateTime now = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
    std::unique_ptr<MeetingDetectionStore> store;

private:
    void waitForPoll()
    {
        // The first poll starts in the constructor and ends on a later turn of the event loop.
        QSignalSpy spy(store.get(), &MeetingDetectionStore::pollCompleted);
        QVERIFY(spy.wait(10000));
    }

    KavrelMeetingPromptPanels *m_panels = nullptr;
    std::mutex m_mutex;
    std::optional<DetectedMeeting> m_detection;
};

} // namespace MeetingDetectionTest
