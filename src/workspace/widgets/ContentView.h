#pragma once

#include "workspace/WorkspaceLayout.h"

#include <QPointer>
#include <QWidget>

class AssistantColumn;
class AuthSessionStore;
class InlineStatusMessage;
class KavrelCapsuleButton;
class KavrelListeningStarter;
class KavrelLocalizationStore;
class KavrelPill;
class KavrelSegmentedPicker;
class KavrelSessionSurface;
class KavrelSplitContainer;
class ListeningSetupSheet;
class MicrophoneOffWarningBanner;
class PrimaryActionButton;
class QHBoxLayout;
class QScrollArea;
class ResultPanel;
class SubtitleViewModel;
class SurfaceCard;
class UserDefaults;
class WorkspaceMicrophoneControl;
class WorkspaceStartRoad;
class WorkspaceTextColumn;

// The main listening view: the hero card with the start/stop toolbar, the error and
// translation lines, the microphone-off warning, the transcript and translation panels in a
// resizable split, and the suggested-response card on request.
//
// It keeps no session state: it reads the view model and the sign-in store and sends them
// commands. Its own state is the focus mode, the panel layout and the split (stored
// settings), whether the warning was hidden, and the setup sheet while it is open.
class ContentView final : public QWidget
{
    Q_OBJECT

public:
    // The starter and the session surface belong to the program and outlive this view.
    ContentView(SubtitleViewModel &viewModel, AuthSessionStore &authStore, KavrelSessionSurface &session,
                KavrelListeningStarter &starter, UserDefaults &defaults, QWidget *parent = nullptr);
    ~ContentView() override;

    bool primaryActionDisabled() const;
    bool isFocusModeEnabled() const;
    WorkspaceLayout layout() const;
    bool usesScrollableRowsWorkspace() const;
    bool shouldShowMicrophoneOffWarning() const;
    bool usesCompactToolbar() const { return m_compact; }

    WorkspaceStartRoad *startRoad() const { return m_road; }
    ListeningSetupSheet *listeningSetupSheet() const;
    PrimaryActionButton *primaryButton() const { return m_primary; }
    WorkspaceMicrophoneControl *microphoneControl() const { return m_microphone; }
    KavrelPill *statusPill() const { return m_statusPill; }
    KavrelCapsuleButton *newButton() const { return m_new; }
    KavrelCapsuleButton *focusButton() const { return m_focus; }
    InlineStatusMessage *errorLine() const { return m_errorLine; }
    InlineStatusMessage *translationLine() const { return m_translationLine; }
    MicrophoneOffWarningBanner *microphoneOffWarning() const { return m_warning; }
    WorkspaceTextColumn *transcriptColumn() const { return m_transcript; }
    WorkspaceTextColumn *translationColumn() const { return m_translation; }
    AssistantColumn *assistantColumn() const { return m_assistant; }
    KavrelSplitContainer *workspaceSplit() const { return m_split; }
    KavrelSegmentedPicker *workspaceLayoutPicker() const { return m_layoutPicker; }
    ResultPanel *detachedTranscriptSummary() const { return m_detachedTranscriptSummary; }
    ResultPanel *detachedTranslationSummary() const { return m_detachedTranslationSummary; }

    // The primary button's action.
    void handlePrimaryAction();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildToolbar(SurfaceCard *hero);
    void buildWorkspace();
    void refreshToolbar();
    void refreshStatusLines();
    void refreshLayout();
    void refreshDetachedSummaries();
    void chooseToolbarVariant();
    void setFocusModeEnabled(bool enabled);
    void presentListeningSetup(bool presented);
    void fitScrollableRows();

    SubtitleViewModel &m_viewModel;
    AuthSessionStore &m_authStore;
    UserDefaults &m_defaults;
    KavrelLocalizationStore &m_texts;
    WorkspaceStartRoad *m_road;
    QPointer<ListeningSetupSheet> m_sheet;
    bool m_isMicrophoneOffWarningDismissed = false;
    bool m_compact = false;
    bool m_choosingToolbarVariant = false;

    SurfaceCard *m_hero = nullptr;
    QHBoxLayout *m_toolbar = nullptr;
    PrimaryActionButton *m_primary = nullptr;
    WorkspaceMicrophoneControl *m_microphone = nullptr;
    KavrelPill *m_statusPill = nullptr;
    KavrelCapsuleButton *m_new = nullptr;
    KavrelCapsuleButton *m_focus = nullptr;
    InlineStatusMessage *m_errorLine = nullptr;
    InlineStatusMessage *m_translationLine = nullptr;
    MicrophoneOffWarningBanner *m_warning = nullptr;
    QScrollArea *m_workspaceScroll = nullptr;
    KavrelSplitContainer *m_split = nullptr;
    KavrelSegmentedPicker *m_layoutPicker = nullptr;
    WorkspaceTextColumn *m_transcript = nullptr;
    WorkspaceTextColumn *m_translation = nullptr;
    SurfaceCard *m_detachedTranscriptCard = nullptr;
    SurfaceCard *m_detachedTranslationCard = nullptr;
    ResultPanel *m_detachedTranscriptSummary = nullptr;
    ResultPanel *m_detachedTranslationSummary = nullptr;
    AssistantColumn *m_assistant = nullptr;
};
