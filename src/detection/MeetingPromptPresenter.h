#pragma once

#include "detection/DetectedMeeting.h"

#include <functional>

// Puts the meeting prompts on screen: at most one panel at a time, floating above other
// windows without taking the focus. The detection store decides what to show and when; the
// actions it passes run when the user presses the panel's buttons. Used on the main thread.
class MeetingPromptPresenter
{
public:
    virtual ~MeetingPromptPresenter() = default;

    // Replaces any panel by the meeting-detected panel.
    virtual void showMeetingDetected(const DetectedMeeting &meeting, std::function<void()> startListening,
                                     std::function<void()> dismiss) = 0;
    // Replaces any panel by the meeting-ended panel.
    virtual void showMeetingEnded(const DetectedMeeting &meeting, std::function<void()> finishRecording,
                                  std::function<void()> keepRecording) = 0;
    // Closes the panel on screen, if any.
    virtual void close() = 0;
    virtual bool isPanelVisible() const = 0;
};
