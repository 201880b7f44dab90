#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class KavrelCapsuleButton;
class KavrelMiniMicrophoneControl;
class KavrelMiniTranscriptPanel;
class KavrelPresentationStore;
class KavrelSegmentedPicker;
class KavrelSessionSurface;
class KavrelSplitContainer;
class QLabel;
class UserDefaults;

// The content of the floating "Listening" window: status and microphone, the layout switch,
// the microphone control and stop button, the live transcript (and its translation beside or
// below it, with a draggable divider), and the buttons that return to the main window (as
// Escape does) or hide every window while listening goes on. It owns no session state: it
// reads the session surface and sends it commands. Its own settings are the panel layout and
// the split, kept in the user defaults.
class KavrelListeningMiniView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr const char *layoutKey = "kavrel.miniWindowLayout";
    static constexpr const char *splitKey = "kavrel.miniWindowSplit";

    // `openMainWindow` opens the main window; the expand button calls it through the
    // presentation store.
    KavrelListeningMiniView(KavrelSessionSurface &session, KavrelPresentationStore &presentation, UserDefaults &defaults,
                            std::function<void()> openMainWindow, QWidget *parent = nullptr);

    // Reads everything again from the session and the settings.
    void refresh();

    KavrelMiniTranscriptPanel *transcriptPanel() const { return m_transcript; }
    KavrelMiniTranscriptPanel *translationPanel() const { return m_translation; }
    KavrelSplitContainer *split() const { return m_split; }
    KavrelSegmentedPicker *layoutPicker() const { return m_layoutPicker; }
    KavrelMiniMicrophoneControl *microphoneControl() const { return m_microphone; }
    KavrelCapsuleButton *stopButton() const { return m_stop; }
    KavrelCapsuleButton *expandButton() const { return m_expand; }
    KavrelCapsuleButton *hideCompletelyButton() const { return m_hideCompletely; }
    QString statusTitle() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Gives the main window back (the expand button, Escape).
    void expand();
    void applyLayoutSetting();
    void applySecondaryColour();

    KavrelSessionSurface &m_session;
    QPointer<KavrelPresentationStore> m_presentation;
    UserDefaults &m_defaults;
    std::function<void()> m_openMainWindow;
    QLabel *m_status = nullptr;
    QLabel *m_microphoneName = nullptr;
    KavrelSegmentedPicker *m_layoutPicker = nullptr;
    KavrelMiniMicrophoneControl *m_microphone = nullptr;
    KavrelCapsuleButton *m_stop = nullptr;
    KavrelSplitContainer *m_split = nullptr;
    KavrelMiniTranscriptPanel *m_transcript = nullptr;
    KavrelMiniTranscriptPanel *m_translation = nullptr;
    KavrelCapsuleButton *m_expand = nullptr;
    KavrelCapsuleButton *m_hideCompletely = nullptr;
};
