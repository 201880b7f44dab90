#include "detection/MeetingSignalScan.h"

#include "platform/ProcessAudioActivity.h"
#include "platform/PulseAudioContext.h"

#include <unordered_map>

namespace {

bool isLarge(const MeetingSignalScan::VisibleWindow &window)
{
    return window.bounds.width() >= MeetingSignalScan::largeWindowMinimumWidth
        && window.bounds.height() >= MeetingSignalScan::largeWindowMinimumHeight;
}

} // namespace

MeetingSignalScan::MeetingSignalScan(std::shared_ptr<PulseAudioContext> pulseAudio, double devicePixelRatio)
    : m_pulseAudio(std::move(pulseAudio))
    , m_windowList({}, devicePixelRatio)
{
}

MeetingSignalScan::~MeetingSignalScan() = default;

std::optional<DetectedMeeting> MeetingSignalScan::detectMeeting(bool includeAudioOutput)
{
    const auto processes = m_processList.read();
    const auto windows = visibleWindows(m_windowList.read(), processes);
    const auto candidates = runningMeetingCandidates(processes);
    // The cache of the PulseAudio layer, read without a call to the server.
    const ProcessAudioActivity activity(m_pulseAudio ? m_pulseAudio->sinkInputs()
                                                     : std::vector<PulseAudioContext::SinkInput>{},
                                        processes);
    return detectMeeting(windows, candidates, [&activity](qint32 pid) { return activity.isRunningOutput(pid); },
                         includeAudioOutput);
}

std::vector<MeetingSignalScan::VisibleWindow>
MeetingSignalScan::visibleWindows(const std::optional<X11WindowListSnapshot> &snapshot,
                                  const std::vector<RunningProcess> &processes)
{
    std::vector<VisibleWindow> windows;
    if (!snapshot)
        return windows;
    std::unordered_map<qint32, const RunningProcess *> byPid;
    for (const RunningProcess &process : processes)
        byPid.emplace(process.processId, &process);

    for (const X11Window &window : snapshot->windows) {
        if (window.layer != X11Window::normalLayer || !window.processId)
            continue;
        if (window.bounds.width() <= 0 || window.bounds.height() <= 0)
            continue;
        VisibleWindow visible;
        visible.processID = qint32(*window.processId);
        const auto owner = byPid.find(visible.processID);
        visible.ownerName = owner != byPid.end() ? owner->second->name : window.className;
        visible.title = window.title;
        visible.bounds = window.bounds;
        windows.push_back(std::move(visible));
    }
    return windows;
}

std::vector<MeetingSignalScan::Candidate>
MeetingSignalScan::runningMeetingCandidates(const std::vector<RunningProcess> &processes)
{
    std::vector<Candidate> candidates;
    for (const RunningProcess &process : processes) {
        const auto app = MeetingApps::matchRunningApplication(process.identifier, process.name);
        if (!app)
            continue;
        const QString name = process.name.isEmpty() ? MeetingApps::displayName(*app) : process.name;
        candidates.push_back(Candidate{*app, name, process.processId});
    }
    return candidates;
}

std::optional<DetectedMeeting> MeetingSignalScan::detectMeeting(const std::vector<VisibleWindow> &windows,
                                                                const std::vector<Candidate> &candidates,
                                                                const std::function<bool(qint32)> &isProcessRunningOutput,
                                                                bool includeAudioOutput)
{
    std::vector<const VisibleWindow *> large;
    for (const VisibleWindow &window : windows) {
        if (isLarge(window))
            large.push_back(&window);
    }

    // The first candidate that gives anything wins; within one, a window signal beats audio.
    for (const Candidate &candidate : candidates) {
        const bool playing = isProcessRunningOutput(candidate.processID);
        const VisibleWindow *firstOwn = nullptr;
        for (const VisibleWindow *window : large) {
            if (window->processID != candidate.processID)
                continue;
            if (!firstOwn)
                firstOwn = window;
            if (MeetingApps::hasMeetingSignal(candidate.meetingApp, window->title, window->ownerName)) {
                return DetectedMeeting{candidate.meetingApp, candidate.appName, candidate.processID, window->title,
                                       playing, MeetingDetectionSource::windowSignal};
            }
        }
        if (includeAudioOutput && playing) {
            const std::optional<QString> title = firstOwn ? firstOwn->title : std::nullopt;
            return DetectedMeeting{candidate.meetingApp, candidate.appName, candidate.processID, title, true,
                                   MeetingDetectionSource::audioOutput};
        }
    }

    // No running meeting application said anything: the windows alone, by title and owner.
    for (const VisibleWindow *window : large) {
        auto app = MeetingApps::matchWindow(window->title, window->ownerName);
        if (app && !MeetingApps::hasMeetingSignal(*app, window->title, window->ownerName))
            app = MeetingApps::otherMatchingApp(*app, window->title, window->ownerName);
        if (app && MeetingApps::hasMeetingSignal(*app, window->title, window->ownerName)) {
            return DetectedMeeting{*app, MeetingApps::displayName(*app), window->processID, window->title,
                                   isProcessRunningOutput(window->processID), MeetingDetectionSource::windowSignal};
        }
    }
    return std::nullopt;
}
