#pragma once

#include <QWidget>

class KavrelCapsuleButton;
class KavrelIconButton;
class KavrelLocalizationStore;
class QLabel;
class SmartAssistantPanel;
class SubtitleViewModel;

// The suggested-response card below the panels: its header ("Suggested response", "Clear
// subtitles", and Copy and close while there is or will be an answer) over the answer.
class AssistantColumn final : public QWidget
{
    Q_OBJECT

public:
    explicit AssistantColumn(SubtitleViewModel &viewModel, QWidget *parent = nullptr);

    KavrelCapsuleButton *clearSubtitlesButton() const { return m_clear; }
    KavrelCapsuleButton *copyButton() const { return m_copy; }
    KavrelIconButton *closeButton() const { return m_close; }
    SmartAssistantPanel *panel() const { return m_panel; }

private:
    void refresh();
    void refreshClearButton();

    SubtitleViewModel &m_viewModel;
    KavrelLocalizationStore &m_texts;
    QLabel *m_title;
    KavrelCapsuleButton *m_clear;
    KavrelCapsuleButton *m_copy;
    KavrelIconButton *m_close;
    SmartAssistantPanel *m_panel;
};
