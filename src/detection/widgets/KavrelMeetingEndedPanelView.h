#pragma once

#include "detection/DetectedMeeting.h"

#include <QWidget>

#include <functional>

// The meeting-ended prompt: "Meeting ended?", the application, that listening goes on, and
// Keep Listening / Stop Listening.
class KavrelMeetingEndedPanelView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr QSize panelSize{540, 116};

    KavrelMeetingEndedPanelView(const DetectedMeeting &meeting, std::function<void()> finishRecording,
                                std::function<void()> keepRecording, QWidget *parent = nullptr);
};
