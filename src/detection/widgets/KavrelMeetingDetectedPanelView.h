#pragma once

#include "detection/DetectedMeeting.h"

#include <QWidget>

#include <functional>

// The meeting-detected prompt: "Meeting detected", the application, whether its audio is
// active, and Start Listening.
class KavrelMeetingDetectedPanelView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr QSize panelSize{520, 106};

    KavrelMeetingDetectedPanelView(const DetectedMeeting &meeting, std::function<void()> startListening,
                                   std::function<void()> dismiss, QWidget *parent = nullptr);
};
