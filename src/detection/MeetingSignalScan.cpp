#include "detection/MeetingSignalScan.h"

#include "platform/ProcessAudioActivity.h"
#include "platform/PulseAudioContext.h"

#include <algorithm>
#include <unordered_map>

namespace {

bool isLarge(const MeetingSignalScan::VisibleWindow &window)
{
    return window.bounds.width() >= MeetingSignalScan::largeWindowMinimumWidth
        && window.bounds.height() >= MeetingSignalScan::largeWindowMinimumHeight;
}

// XWayland started by the desktop for its X11 clients, running as the user.
bool isXWaylandRunning(const std::vector<RunningProcess> &processes)
{
    return std::any_of(processes.begin(), processes.end(),
                       [](const RunningProcess &process) { return process.name == QLatin1String("Xwayland"); });
}

// By the desktop's name of the process, else by its executable and the kernel's name.
std::optional<MeetingApp> meetingAppOf(const RunningProcess &process, const RunningApplicationNames &names)
{
    if (const RunningApplicationNames::Name *name = names.desktopName(process.processId)) {
        if (const auto app = MeetingApps::matchRunningApplication(name->identifier, name->name))
            return app;
    }
    return MeetingApps::matchRunningApplication(process.identifier, process.name);
}

} // namespace

MeetingSignalScan::MeetingSignalScan(std::shared_ptr<PulseAudioContext> pulseAudio, double devicePixelRatio,
                                     QStringList applicationDirectories)
    : m_pulseAudio(std::move(pulseAudio))
    , m_windowList({}, devicePixelRatio, X11WindowList::UnderWayland::xwaylandClients)
    , m_desktopApplications(std::move(applicationDirectories))
{
}

MeetingSignalScan::~MeetingSignalScan() = default;

std::optional<DetectedMeeting> MeetingSignalScan::detectMeeting(bool includeAudioOutput)
{
    const auto processes = m_processList.read();
    std::optional<X11WindowListSnapshot> snapshot;
    if (!X11WindowList::isWaylandSession() || isXWaylandRunning(processes))
        snapshot = m_windowList.read();
    m_desktopApplications.refreshIfChanged();
    const RunningApplicationNames names(processes, snapshot, m_desktopApplications);
    const auto candidates = runningMeetingCandidates(processes, names);
    const auto windows = visibleWindows(snapshot, names, candidates);
    // The cache of the PulseAudio layer, read without a call to the server.
    const ProcessAudioActivity activity(m_pulseAudio ? m_pulseAudio->sinkInputs()
                                                     : std::vector<PulseAudioContext::SinkInput>{},
                                        processes);
    return detectMeeting(windows, candidates, [&activity](qint32 pid) { return activity.isRunningOutput(pid); },
                         includeAudioOutput);
}

std::vector<MeetingSignalScan::VisibleWindow>
MeetingSignalScan::visibleWindows(const std::optional<X11WindowListSnapshot> &snapshot,
                                  const RunningApplicationNames &names, const std::vector<Candidate> &candidates)
{
    std::vector<VisibleWindow> windows;
    if (!snapshot)
        return windows;
    std::unordered_map<qint32, const Candidate *> meetingProcesses;
    for (const Candidate &candidate : candidates)
        meetingProcesses.emplace(candidate.processID, &candidate);

    for (const X11Window &window : snapshot->windows) {
        if (window.layer != X11Window::normalLayer || !window.processId)
            continue;
        if (window.bounds.width() <= 0 || window.bounds.height() <= 0)
            continue;
        VisibleWindow visible;
        visible.processID = qint32(*window.processId);
        const auto meetingProcess = meetingProcesses.find(visible.processID);
        visible.ownerName = meetingProcess != meetingProcesses.end() ? meetingProcess->second->appName
                                                                     : names.ownerNameOf(window);
        visible.title = window.title;
        visible.bounds = window.bounds;
        windows.push_back(std::move(visible));
    }
    return windows;
}

std::vector<MeetingSignalScan::Candidate>
MeetingSignalScan::runningMeetingCandidates(const std::vector<RunningProcess> &processes,
                                            const RunningApplicationNames &names)
{
    std::unordered_map<qint32, MeetingApp> apps;
    std::unordered_map<qint32, qint32> parents;
    parents.reserve(processes.size());
    for (const RunningProcess &process : processes) {
        parents.emplace(process.processId, process.parentProcessId);
        if (const auto app = meetingAppOf(process, names))
            apps.emplace(process.processId, *app);
    }

    // The application's name is the best any of its processes has: from the strongest source,
    // the first process's on a tie, else the lowest process id's.
    struct BestName
    {
        std::optional<RunningApplicationNames::Name> name;
        bool ofFirstProcess = false;
    };
    std::vector<Candidate> candidates;
    std::unordered_map<qint32, BestName> applicationNames;
    for (const RunningProcess &process : processes) {
        const auto app = apps.find(process.processId);
        if (app == apps.end())
            continue;
        // The application's first process: the outermost ancestor of the same application. The
        // walk passes through other programs (a shell between a launcher and its client); the
        // bound guards against a table read while it changed.
        qint32 root = process.processId;
        qint32 pid = process.processId;
        for (std::size_t step = 0; step < processes.size(); ++step) {
            const auto parent = parents.find(pid);
            if (parent == parents.end() || parent->second <= 0 || parent->second == pid)
                break;
            pid = parent->second;
            const auto parentApp = apps.find(pid);
            if (parentApp != apps.end() && parentApp->second == app->second)
                root = pid;
        }
        candidates.push_back(Candidate{app->second, QString(), process.processId, root});

        auto name = names.forProcess(process.processId);
        BestName &best = applicationNames[root];
        const bool isFirst = process.processId == root;
        if (name && (!best.name || name->source > best.name->source
                     || (name->source == best.name->source && isFirst && !best.ofFirstProcess)))
            best = BestName{std::move(name), isFirst};
    }
    for (Candidate &candidate : candidates) {
        const auto &name = applicationNames[candidate.applicationProcessID].name;
        candidate.appName = name && !name->name.isEmpty() ? name->name : MeetingApps::displayName(candidate.meetingApp);
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

    // A meeting window of any process of an application beats audio alone: a launcher that
    // plays because its client does is the same meeting, seen less well.
    for (const Candidate &candidate : candidates) {
        for (const VisibleWindow *window : large) {
            if (window->processID != candidate.processID)
                continue;
            if (MeetingApps::hasMeetingSignal(candidate.meetingApp, window->title, window->ownerName)) {
                return DetectedMeeting{candidate.meetingApp, candidate.appName, candidate.applicationProcessID,
                                       window->title, isProcessRunningOutput(candidate.applicationProcessID),
                                       MeetingDetectionSource::windowSignal};
            }
        }
    }
    if (includeAudioOutput) {
        std::unordered_map<qint32, qint32> applicationOf;
        for (const Candidate &candidate : candidates)
            applicationOf.emplace(candidate.processID, candidate.applicationProcessID);
        for (const Candidate &candidate : candidates) {
            if (!isProcessRunningOutput(candidate.applicationProcessID))
                continue;
            // The title of the application's first large window, of whichever of its processes.
            std::optional<QString> title;
            for (const VisibleWindow *window : large) {
                const auto application = applicationOf.find(window->processID);
                if (application != applicationOf.end() && application->second == candidate.applicationProcessID) {
                    title = window->title;
                    break;
                }
            }
            return DetectedMeeting{candidate.meetingApp, candidate.appName, candidate.applicationProcessID, title,
                                   true, MeetingDetectionSource::audioOutput};
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
