#include "detection/MeetingDetectionStore.h"

#include "base/KavrelDiagnostics.h"
#include "base/KavrelError.h"
#include "base/SerialQueue.h"
#include "detection/MeetingSignalScan.h"
#include "platform/PulseAudioContext.h"

#include <QGuiApplication>
#include <QPointer>

namespace {

MeetingDetectionStore::Detector systemDetector()
{
    const double ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    auto scan = std::make_shared<MeetingSignalScan>(PulseAudioContext::shared(), ratio);
    return [scan] { return scan->detectMeeting(true); };
}

} // namespace

MeetingDetectionStore::MeetingDetectionStore(std::shared_ptr<MeetingDetectionSessionControl> viewModel,
                                             std::unique_ptr<MeetingPromptPresenter> presenter, Detector detector,
                                             Clock clock, Timings timings, QObject *parent)
    : QObject(parent)
    , m_viewModel(std::move(viewModel))
    , m_shouldSuppressPrompts([] { return false; })
    , m_presenter(std::move(presenter))
    , m_detector(detector ? std::move(detector) : systemDetector())
    , m_clock(clock ? std::move(clock) : [] { return QDateTime::currentDateTimeUtc(); })
    , m_timings(timings)
    , m_monitoringQueue(std::make_unique<SerialQueue>(QStringLiteral("КАВРЕЛ.MeetingDetection")))
{
    m_timer.setInterval(m_timings.pollingInterval);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &MeetingDetectionStore::pollForMeetings);
    startMonitoringIfNeeded();
}

MeetingDetectionStore::~MeetingDetectionStore()
{
    // Waits for a running scan; its result is then dropped with this object's pending events.
    m_monitoringQueue.reset();
    if (m_presenter)
        m_presenter->close();
}

MeetingDetectionSessionControl *MeetingDetectionStore::viewModel() const
{
    return m_viewModel && m_viewModel->isAlive() ? m_viewModel.get() : nullptr;
}

void MeetingDetectionStore::setViewModel(std::shared_ptr<MeetingDetectionSessionControl> viewModel)
{
    m_viewModel = std::move(viewModel);
}

void MeetingDetectionStore::setStartListeningHandler(std::function<void()> handler)
{
    m_startListeningHandler = std::move(handler);
}

void MeetingDetectionStore::setShouldSuppressPrompts(std::function<bool()> shouldSuppress)
{
    m_shouldSuppressPrompts = shouldSuppress ? std::move(shouldSuppress) : [] { return false; };
}

void MeetingDetectionStore::startMonitoringIfNeeded()
{
    if (m_timer.isActive()) {
        pollForMeetings();
        return;
    }
    pollForMeetings();
    m_timer.start();
    qCInfo(KavrelDiagnostics::meetingDetection()).noquote()
        << QStringLiteral("Meeting detector started with dispatch timer interval %1s")
               .arg(std::chrono::duration<double>(m_timings.pollingInterval).count(), 0, 'f', 6);
}

int MeetingDetectionStore::cooldownEntryCount() const
{
    return int(m_dismissedMeetings.size() + m_presentedMeetings.size() + m_dismissedEndPrompts.size()
               + m_presentedEndPrompts.size());
}

// One poll: what needs no scan is decided at once; the scan runs on the worker thread and the
// rest of the poll when its result is back.
void MeetingDetectionStore::pollForMeetings()
{
    if (m_scanRunning)
        return;
    if (prepareForDetection() == PollMode::none) {
        Q_EMIT pollCompleted();
        return;
    }
    m_scanRunning = true;
    m_monitoringQueue->async([this, detector = m_detector] {
        std::optional<DetectedMeeting> detected;
        try {
            detected = detector();
        } catch (...) {
            qCInfo(KavrelDiagnostics::meetingDetection()).noquote()
                << "Meeting scan failed:" << errorMessage(std::current_exception());
        }
        // The store outlives this job (its destructor waits for it), and a queued call to an
        // object destroyed before it runs is dropped.
        QMetaObject::invokeMethod(this, [this, detected] {
            m_scanRunning = false;
            applyDetection(detected);
        }, Qt::QueuedConnection);
    });
}

// The steps of a poll before detection, which may close a panel or forget the tracked meeting.
// They are run again when the scan is back, since anything may have changed meanwhile.
MeetingDetectionStore::PollMode MeetingDetectionStore::prepareForDetection()
{
    if (m_shouldSuppressPrompts()) {
        closePanel();
        return PollMode::none;
    }
    MeetingDetectionSessionControl *session = viewModel();
    if (!session) {
        closePanel();
        m_activeMeeting.reset();
        m_activeMeetingLastSeenAt.reset();
        return PollMode::none;
    }
    if (session->hasActiveSession()) {
        // A start prompt never stays up during a session.
        if (m_currentPromptKind == MeetingPromptKind::startListening)
            closePanel();
        const bool capturing = session->isSystemAudioListening() || session->isMicrophoneListening();
        const bool changing = session->isBusy() || session->isMicrophoneBusy();
        return capturing && !changing ? PollMode::endWatch : PollMode::none;
    }
    m_activeMeeting.reset();
    m_activeMeetingLastSeenAt.reset();
    if (m_currentPromptKind == MeetingPromptKind::finishRecording)
        closePanel();
    return PollMode::startPrompt;
}

void MeetingDetectionStore::applyDetection(const std::optional<DetectedMeeting> &detected)
{
    pruneCooldowns(now());
    switch (prepareForDetection()) {
    case PollMode::none:
        break;
    case PollMode::endWatch:
        pollForMeetingEndPrompt(detected);
        break;
    case PollMode::startPrompt:
        if (!detected)
            m_audioOnlyMeetingsFirstSeen.clear();
        else if (confirmMeetingIfNeeded(*detected))
            presentMeetingIfNeeded(*detected);
        break;
    }
    Q_EMIT pollCompleted();
}

void MeetingDetectionStore::pollForMeetingEndPrompt(const std::optional<DetectedMeeting> &detected)
{
    if (detected) {
        m_activeMeeting = detected;
        m_activeMeetingLastSeenAt = now();
        // The meeting came back.
        if (m_currentPromptKind == MeetingPromptKind::finishRecording && isPanelVisible())
            closePanel();
        return;
    }
    if (m_activeMeeting && m_activeMeetingLastSeenAt
        && elapsed(*m_activeMeetingLastSeenAt, now()) >= m_timings.meetingEndGraceInterval) {
        const DetectedMeeting meeting = *m_activeMeeting;
        presentMeetingEndPromptIfNeeded(meeting);
    }
}

// An audio-only meeting must be seen again after the confirmation interval, with no empty
// poll in between, before it is offered.
bool MeetingDetectionStore::confirmMeetingIfNeeded(const DetectedMeeting &meeting)
{
    const QString key = meeting.key();
    if (meeting.detectionSource == MeetingDetectionSource::windowSignal) {
        m_audioOnlyMeetingsFirstSeen.remove(key);
        return true;
    }
    const auto firstSeen = m_audioOnlyMeetingsFirstSeen.constFind(key);
    if (firstSeen != m_audioOnlyMeetingsFirstSeen.constEnd())
        return elapsed(*firstSeen, now()) >= m_timings.audioOutputConfirmationInterval;
    m_audioOnlyMeetingsFirstSeen.insert(key, now());
    qCInfo(KavrelDiagnostics::meetingDetection())
        << "Meeting candidate is audio-only; waiting for stable audio before showing popup.";
    return false;
}

void MeetingDetectionStore::presentMeetingIfNeeded(const DetectedMeeting &meeting)
{
    const QDateTime moment = now();
    const QString key = meeting.key();
    if (isWithin(m_dismissedMeetings, key, moment, m_timings.dismissCooldown))
        return;
    if (isWithin(m_presentedMeetings, key, moment, m_timings.presentCooldown))
        return;
    if (m_currentMeeting && m_currentMeeting->key() == key && isPanelVisible())
        return;
    m_presentedMeetings.insert(key, moment);
    qCInfo(KavrelDiagnostics::meetingDetection()).noquote()
        << QStringLiteral("Presenting meeting popup for %1, source=%2")
               .arg(meeting.displayName(), rawValue(meeting.detectionSource));
    showPrompt(meeting, MeetingPromptKind::startListening);
}

void MeetingDetectionStore::presentMeetingEndPromptIfNeeded(const DetectedMeeting &meeting)
{
    const QDateTime moment = now();
    const QString key = meeting.key();
    if (isWithin(m_dismissedEndPrompts, key, moment, m_timings.dismissCooldown))
        return;
    if (isWithin(m_presentedEndPrompts, key, moment, m_timings.presentCooldown))
        return;
    if (m_currentPromptKind == MeetingPromptKind::finishRecording && m_currentMeeting
        && m_currentMeeting->key() == key && isPanelVisible())
        return;
    m_presentedEndPrompts.insert(key, moment);
    qCInfo(KavrelDiagnostics::meetingDetection()).noquote()
        << QStringLiteral("Presenting finish recording popup for %1").arg(meeting.displayName());
    showPrompt(meeting, MeetingPromptKind::finishRecording);
}

// An entry past its cooldown decides nothing any more; dropping it keeps the maps from
// growing over days in the tray, one entry per meeting process ever seen.
void MeetingDetectionStore::pruneCooldowns(const QDateTime &now)
{
    const auto prune = [&now](QHash<QString, QDateTime> &map, double cooldown) {
        map.removeIf([&](const auto &entry) { return elapsed(entry.value(), now) >= cooldown; });
    };
    prune(m_dismissedMeetings, m_timings.dismissCooldown);
    prune(m_presentedMeetings, m_timings.presentCooldown);
    prune(m_dismissedEndPrompts, m_timings.dismissCooldown);
    prune(m_presentedEndPrompts, m_timings.presentCooldown);
}

void MeetingDetectionStore::closePanel()
{
    if (m_presenter)
        m_presenter->close();
    m_currentPromptKind.reset();
    m_currentMeeting.reset();
}

bool MeetingDetectionStore::isPanelVisible() const
{
    return m_presenter && m_presenter->isPanelVisible();
}

double MeetingDetectionStore::elapsed(const QDateTime &since, const QDateTime &now)
{
    return double(since.msecsTo(now)) / 1000.0;
}

bool MeetingDetectionStore::isWithin(const QHash<QString, QDateTime> &map, const QString &key, const QDateTime &now,
                                     double seconds)
{
    const auto entry = map.constFind(key);
    return entry != map.constEnd() && elapsed(*entry, now) < seconds;
}

// The panels' actions hold the store weakly: a panel that outlives it does nothing.

void MeetingDetectionStore::showPrompt(const DetectedMeeting &meeting, MeetingPromptKind kind)
{
    closePanel();
    m_currentMeeting = meeting;
    m_currentPromptKind = kind;
    if (!m_presenter)
        return;
    const QPointer<MeetingDetectionStore> store(this);
    const auto weakly = [store](void (MeetingDetectionStore::*action)()) {
        return [store, action] {
            if (store)
                (store.data()->*action)();
        };
    };
    if (kind == MeetingPromptKind::startListening) {
        m_presenter->showMeetingDetected(meeting, weakly(&MeetingDetectionStore::startDetectedMeeting),
                                         weakly(&MeetingDetectionStore::dismissDetectedMeeting));
    } else {
        m_presenter->showMeetingEnded(meeting, weakly(&MeetingDetectionStore::finishDetectedMeeting),
                                      weakly(&MeetingDetectionStore::dismissMeetingEndPrompt));
    }
}

void MeetingDetectionStore::startDetectedMeeting()
{
    if (MeetingDetectionSessionControl *session = viewModel(); session && session->hasActiveSession()) {
        closePanel();
        return;
    }
    const std::optional<DetectedMeeting> meeting = m_currentMeeting;
    // The start itself runs on its own (the shell's action, or the view model's start questions).
    if (m_startListeningHandler) {
        const auto handler = m_startListeningHandler;
        handler();
    } else if (MeetingDetectionSessionControl *session = viewModel()) {
        session->promptAndStartListening(session->startsWithMicrophoneEnabled());
    }
    if (!meeting) {
        closePanel();
        return;
    }
    // The end watch starts from a meeting seen by its window; an audio-only one is recorded
    // by the watch itself at its next detection during the session.
    if (meeting->detectionSource == MeetingDetectionSource::windowSignal) {
        m_activeMeeting = meeting;
        m_activeMeetingLastSeenAt = now();
    }
    closePanel();
}

void MeetingDetectionStore::dismissDetectedMeeting()
{
    if (m_currentMeeting)
        m_dismissedMeetings.insert(m_currentMeeting->key(), now());
    closePanel();
}

void MeetingDetectionStore::finishDetectedMeeting()
{
    if (MeetingDetectionSessionControl *session = viewModel())
        session->stopActiveSession();
    m_activeMeeting.reset();
    m_activeMeetingLastSeenAt.reset();
    closePanel();
}

void MeetingDetectionStore::dismissMeetingEndPrompt()
{
    if (m_currentMeeting) {
        m_dismissedEndPrompts.insert(m_currentMeeting->key(), now());
        m_activeMeetingLastSeenAt = now();
    }
    closePanel();
}
