#pragma once

#include "detection/DetectedMeeting.h"
#include "platform/DesktopApplications.h"
#include "platform/RunningApplicationNames.h"
#include "platform/RunningProcessList.h"
#include "platform/X11WindowList.h"

#include <QRectF>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class PulseAudioContext;

// Decides, from what the system shows at one instant, whether a meeting application is in a
// meeting: its windows and their titles, the running processes, and which of them play audio.
//
// detectMeeting() reads the window list, the process table, the desktop entries and the
// PulseAudio layer's cache, and runs on the detection worker thread; the rest holds no state.
// In a Wayland session the windows are those of the XWayland clients, read only while XWayland
// runs (connecting would start it where the desktop starts it on demand); a meeting application
// that runs as a native Wayland client is found by its audio output alone.
class MeetingSignalScan final
{
public:
    // A window of a normal layer with its owner.
    struct VisibleWindow
    {
        qint32 processID = 0;
        QString ownerName;             // the owner's application name as the desktop shows it; may be empty
        std::optional<QString> title;
        QRectF bounds;                 // device-independent pixels
    };

    // A running process of a meeting application.
    struct Candidate
    {
        MeetingApp meetingApp = MeetingApp::zoom;
        QString appName;           // the application's name, the same for all its processes
        qint32 processID = 0;
        // The application's first process: the outermost one of the same application among this
        // one's ancestors (its launcher), else this one. A meeting is reported under it, whichever
        // of the application's processes showed it.
        qint32 applicationProcessID = 0;
    };

    // Windows carry a signal, and give a title, only from this size up (inclusive).
    static constexpr double largeWindowMinimumWidth = 360;
    static constexpr double largeWindowMinimumHeight = 220;

    // The PulseAudio layer is the process-wide one, made on the main thread before the first
    // scan; without it no process reads as playing. The desktop entries are read from the given
    // applications directories.
    explicit MeetingSignalScan(std::shared_ptr<PulseAudioContext> pulseAudio, double devicePixelRatio = 1.0,
                               QStringList applicationDirectories = DesktopApplications::standardDirectories());
    ~MeetingSignalScan();

    std::optional<DetectedMeeting> detectMeeting(bool includeAudioOutput);

    // The windows of normal layer, front to back, that have an owner and a size. A window of a
    // meeting application's process is owned by the application's name.
    static std::vector<VisibleWindow> visibleWindows(const std::optional<X11WindowListSnapshot> &snapshot,
                                                     const RunningApplicationNames &names,
                                                     const std::vector<Candidate> &candidates);
    // Every running process of a meeting application, in process order.
    static std::vector<Candidate> runningMeetingCandidates(const std::vector<RunningProcess> &processes,
                                                           const RunningApplicationNames &names);
    // The detection over one instant's windows and candidates.
    static std::optional<DetectedMeeting> detectMeeting(const std::vector<VisibleWindow> &windows,
                                                        const std::vector<Candidate> &candidates,
                                                        const std::function<bool(qint32)> &isProcessRunningOutput,
                                                        bool includeAudioOutput);

private:
    std::shared_ptr<PulseAudioContext> m_pulseAudio;
    X11WindowList m_windowList;
    RunningProcessList m_processList;
    DesktopApplications m_desktopApplications;
};
