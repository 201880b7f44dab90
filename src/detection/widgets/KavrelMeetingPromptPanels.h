#pragma once

#include "detection/MeetingPromptPresenter.h"

#include <QList>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <optional>

class KavrelMeetingPromptPanel;
class QWidget;

// Shows the meeting prompts as floating panels in the top-right corner of the primary
// screen's available area. At most one panel exists; showing one closes the one before.
class KavrelMeetingPromptPanels final : public MeetingPromptPresenter
{
public:
    KavrelMeetingPromptPanels() = default;
    ~KavrelMeetingPromptPanels() override;

    void showMeetingDetected(const DetectedMeeting &meeting, std::function<void()> startListening,
                             std::function<void()> dismiss) override;
    void showMeetingEnded(const DetectedMeeting &meeting, std::function<void()> finishRecording,
                          std::function<void()> keepRecording) override;
    void close() override;
    bool isPanelVisible() const override;

    // The panel on screen, if any.
    QWidget *panel() const;

    // Where a panel goes: 24 from the right and 18 from the top of the available area. None
    // without a screen; the window manager then places it.
    static std::optional<QPoint> topRightOrigin(const std::optional<QRect> &availableGeometry, QSize panelSize);

private:
    void present(KavrelMeetingPromptPanel *panel);

    QPointer<KavrelMeetingPromptPanel> m_panel;
    // Closed panels waiting for the event loop to delete them; those still here when this goes
    // (closed as the program ends, with no loop left to run) go with it.
    QList<QPointer<KavrelMeetingPromptPanel>> m_closing;
};
