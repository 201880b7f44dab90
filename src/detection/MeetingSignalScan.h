#pragma once

#include "detection/DetectedMeeting.h"
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
// detectMeeting() reads the window list, the process table and the PulseAudio layer's cache,
// and runs on the detection worker thread; the rest holds no state. Without an X11 window list
// (a Wayland session) detection runs on audio output alone.
class MeetingSignalScan final
{
public:
    // A window of a normal layer with its owner.
    struct VisibleWindow
    {
        qint32 processID = 0;
        QString ownerName;             // the owner process's name, else the window's class; may be empty
        std::optional<QString> title;
        QRectF bounds;                 // device-independent pixels
    };

    // A running process of a meeting application.
    struct Candidate
    {
        MeetingApp meetingApp = MeetingApp::zoom;
        QString appName;
        qint32 processID = 0;
    };

    // Windows carry a signal, and give a title, only from this size up (inclusive).
    static constexpr double largeWindowMinimumWidth = 360;
    static constexpr double largeWindowMinimumHeight = 220;

    // The PulseAudio layer is the process-wide one, made on the main thread before the first
    // scan; without it no process reads as playing.
    explicit MeetingSignalScan(std::shared_ptr<PulseAudioContext> pulseAudio, double devicePixelRatio = 1.0);
    ~MeetingSignalScan();

    std::optional<DetectedMeeting> detectMeeting(bool includeAudioOutput);

    // The windows of normal layer, front to back, that have an owner and a size.
    static std::vector<VisibleWindow> visibleWindows(const std::optional<X11WindowListSnapshot> &snapshot,
                                                     const std::vector<RunningProcess> &processes);
    // Every running process of a meeting application, in process order.
    static std::vector<Candidate> runningMeetingCandidates(const std::vector<RunningProcess> &processes);
    // The detection over one instant's windows and candidates.
    static std::optional<DetectedMeeting> detectMeeting(const std::vector<VisibleWindow> &windows,
                                                        const std::vector<Candidate> &candidates,
                                                        const std::function<bool(qint32)> &isProcessRunningOutput,
                                                        bool includeAudioOutput);

private:
    std::shared_ptr<PulseAudioContext> m_pulseAudio;
    X11WindowList m_windowList;
    RunningProcessList m_processList;
};
