#pragma once

#include "session/PublishedTranscript.h"
#include "workspace/WorkspaceRules.h"

#include <QWidget>

class DialogueHistoryPanel;
class EmptyPanelPlaceholder;
class KavrelCapsuleButton;
class KavrelIconButton;
class KavrelLocalizationStore;
class KavrelPill;
class KavrelSplitContainer;
class QBoxLayout;
class QHBoxLayout;
class QLabel;
class QStackedLayout;
class ResultPanel;
class SubtitleViewModel;

// The transcript or the translation column of the main window: a header of controls (text
// size, copy, summary, protocol and, for the transcript, the language badge, the layout
// switch and "Suggest answer") over the dialogue and, on request, one AI result panel under
// it in a split. It keeps no state: it reads the view model and calls its commands.
class WorkspaceTextColumn final : public QWidget
{
    Q_OBJECT

public:
    using Side = PublishedTranscript::Column;

    WorkspaceTextColumn(SubtitleViewModel &viewModel, Side side, QWidget *layoutPicker, QWidget *parent = nullptr);

    // In the rows layout with a summary open, summaries show below the panels instead.
    void setUsesScrollableRowsWorkspace(bool uses);

    WorkspaceRules::ColumnBody body() const { return m_body; }
    bool showsPlaceholder() const;
    QString placeholderText() const;
    // What the reader follows: the dialogue, or the hint that stands in for it.
    QWidget *readingPlace() const;
    DialogueHistoryPanel *historyPanel() const { return m_history; }
    ResultPanel *resultPanel() const { return m_result; }
    KavrelIconButton *copyAllButton() const { return m_copyAll; }
    KavrelIconButton *smallerTextButton() const { return m_smaller; }
    KavrelIconButton *largerTextButton() const { return m_larger; }
    KavrelCapsuleButton *summarizeButton() const { return m_summarize; }
    KavrelCapsuleButton *protocolButton() const { return m_protocol; }
    KavrelCapsuleButton *suggestAnswerButton() const { return m_suggest; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool isTranscript() const { return m_side == Side::transcript; }
    void refreshTexts();
    void refreshHistory();
    void refreshCommands();
    void refreshFontSize();
    void refreshBody();
    void arrangeHeader();
    void closeResultPanel();
    double fontSize() const;

    SubtitleViewModel &m_viewModel;
    KavrelLocalizationStore &m_texts;
    Side m_side;
    bool m_usesScrollableRowsWorkspace = false;
    WorkspaceRules::ColumnBody m_body = WorkspaceRules::ColumnBody::history;

    QLabel *m_title = nullptr;
    KavrelPill *m_languageBadge = nullptr;
    KavrelIconButton *m_smaller = nullptr;
    KavrelIconButton *m_larger = nullptr;
    KavrelIconButton *m_copyAll = nullptr;
    KavrelCapsuleButton *m_summarize = nullptr;
    KavrelCapsuleButton *m_protocol = nullptr;
    KavrelCapsuleButton *m_suggest = nullptr;
    QWidget *m_actions = nullptr;
    QWidget *m_actionsDivider = nullptr;
    QHBoxLayout *m_headerRow = nullptr;
    QHBoxLayout *m_secondRow = nullptr;
    bool m_actionsOnSecondRow = false;

    KavrelSplitContainer *m_split = nullptr;
    QWidget *m_historyBox = nullptr;
    QStackedLayout *m_historyStack = nullptr;
    EmptyPanelPlaceholder *m_placeholder = nullptr;
    DialogueHistoryPanel *m_history = nullptr;
    ResultPanel *m_result = nullptr;
};
