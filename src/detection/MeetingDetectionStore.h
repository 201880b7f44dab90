#pragma once

#include "detection/DetectedMeeting.h"
#include "detection/MeetingDetectionSessionControl.h"
#include "detection/MeetingPromptPresenter.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class PulseAudioContext;
class SerialQueue;

// The store's periods and cooldowns, in seconds where not said otherwise.
struct MeetingDetectionTimings
{
    std::chrono::milliseconds pollingInterval{2000};
    double audioOutputConfirmationInterval = 6.0;
    double meetingEndGraceInterval = 60;
    double dismissCooldown = 600;
    double presentCooldown = 120;
};

// Watches, for the life of the program, whether a meeting application is in a meeting, and
// offers to start listening when one shows up while nothing listens, and to stop when it has
// been gone for a while during a session. Prompts are confirmed (audio-only meetings must
// last), and kept from coming back too soon after they were shown or closed.
//
// Threads: everything here runs on the main thread, except the scan of windows, processes
// and audio, which runs every poll on the worker thread "КАВРЕЛ.MeetingDetection" and hands
// its result back to the main thread. One scan runs at a time; a tick while one runs is skipped.
class MeetingDetectionStore final : public QObject
{
    Q_OBJECT

public:
    using Timings = MeetingDetectionTimings;

    // Runs on the worker thread: the meeting on screen now, if any.
    using Detector = std::function<std::optional<DetectedMeeting>()>;
    using Clock = std::function<QDateTime()>;

    // The program's detector: scans the system's windows, processes and the streams of the
    // given audio server.
    static Detector systemDetector(std::shared_ptr<PulseAudioContext> audioServer);

    // Starts monitoring at once.
    MeetingDetectionStore(std::shared_ptr<MeetingDetectionSessionControl> viewModel,
                          std::unique_ptr<MeetingPromptPresenter> presenter, Detector detector,
                          Clock clock = {}, Timings timings = {}, QObject *parent = nullptr);
    ~MeetingDetectionStore() override;

    // The session view model, or null once it is gone. The shell sets it each time it wires the store.
    MeetingDetectionSessionControl *viewModel() const;
    void setViewModel(std::shared_ptr<MeetingDetectionSessionControl> viewModel);
    // The shell's start-listening action, used by Start Listening in place of the view model's own start.
    void setStartListeningHandler(std::function<void()> handler);
    // While it returns true (background-only mode) no prompt shows and polls are skipped.
    void setShouldSuppressPrompts(std::function<bool()> shouldSuppress);

    // Idempotent: starts the poll timer when it is not running; polls at once either way.
    void startMonitoringIfNeeded();

    // Entries in the four cooldown maps (expired ones are dropped at every poll).
    int cooldownEntryCount() const;

Q_SIGNALS:
    // A poll has been decided (after its scan, when it needed one).
    void pollCompleted();

private:
    enum class PollMode { none, endWatch, startPrompt };

    void pollForMeetings();
    PollMode prepareForDetection();
    void applyDetection(const std::optional<DetectedMeeting> &detected);
    void pollForMeetingEndPrompt(const std::optional<DetectedMeeting> &detected);
    bool confirmMeetingIfNeeded(const DetectedMeeting &meeting);
    void presentMeetingIfNeeded(const DetectedMeeting &meeting);
    void presentMeetingEndPromptIfNeeded(const DetectedMeeting &meeting);
    void pruneCooldowns(const QDateTime &now);
    void closePanel();

    // The prompt panels and their actions: a meeting-detected or meeting-ended panel replaces any other.
    void showPrompt(const DetectedMeeting &meeting, MeetingPromptKind kind);
    void startDetectedMeeting();
    void dismissDetectedMeeting();
    void finishDetectedMeeting();
    void dismissMeetingEndPrompt();

    bool isPanelVisible() const;
    QDateTime now() const { return m_clock(); }
    // Seconds from `since` to `now`.
    static double elapsed(const QDateTime &since, const QDateTime &now);
    static bool isWithin(const QHash<QString, QDateTime> &map, const QString &key, const QDateTime &now,
                         double seconds);

    std::shared_ptr<MeetingDetectionSessionControl> m_viewModel;
    std::function<void()> m_startListeningHandler;
    std::function<bool()> m_shouldSuppressPrompts;
    std::unique_ptr<MeetingPromptPresenter> m_presenter;
    Detector m_detector;
    Clock m_clock;
    const Timings m_timings;

    QTimer m_timer;
    bool m_scanRunning = false;

    std::optional<MeetingPromptKind> m_currentPromptKind;
    std::optional<DetectedMeeting> m_currentMeeting;
    std::optional<DetectedMeeting> m_activeMeeting;
    std::optional<QDateTime> m_activeMeetingLastSeenAt;
    QHash<QString, QDateTime> m_dismissedMeetings;
    QHash<QString, QDateTime> m_presentedMeetings;
    QHash<QString, QDateTime> m_dismissedEndPrompts;
    QHash<QString, QDateTime> m_presentedEndPrompts;
    QHash<QString, QDateTime> m_audioOnlyMeetingsFirstSeen;

    // Last, so that it stops (finishing a running scan) before anything else goes.
    std::unique_ptr<SerialQueue> m_monitoringQueue;
};
