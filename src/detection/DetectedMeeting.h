#pragma once

#include "detection/MeetingApp.h"

#include <QString>

#include <optional>

// What showed the meeting: a window title, or only the application's audio output.
enum class MeetingDetectionSource { windowSignal, audioOutput };

// Which prompt a panel shows.
enum class MeetingPromptKind { startListening, finishRecording };

// "windowSignal", "audioOutput": written into the log.
QString rawValue(MeetingDetectionSource source);

// A meeting application caught in a meeting at one instant.
struct DetectedMeeting
{
    MeetingApp meetingApp = MeetingApp::zoom;
    QString appName;                 // the running application's name, or the app's display name
    qint32 processID = 0;            // the application's first process, whichever of its processes showed it
    std::optional<QString> windowTitle; // as the window has it, untrimmed
    bool isAudioOutputActive = false;
    MeetingDetectionSource detectionSource = MeetingDetectionSource::windowSignal;

    // "zoom:812": the meeting's identity in every cooldown, whatever its title or source, and
    // whichever process of the application was seen.
    QString key() const;
    // The name to show: appName trimmed, or the app's display name when nothing is left.
    QString displayName() const;

    bool operator==(const DetectedMeeting &) const = default;
};
