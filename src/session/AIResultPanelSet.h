#pragma once

#include "base/Async.h"
#include "session/SessionCompanions.h"

#include <QObject>
#include <QString>
#include <QUuid>

#include <array>
#include <functional>
#include <optional>

class DeepSeekAnswerAssistService;
class DeepSeekMeetingProtocolService;
class DeepSeekSummaryService;
class KavrelLocalizationStore;

// The column an AI tool works on: the transcript or its translation.
enum class AIResultTarget {
    source,
    translation,
};
using SummaryTarget = AIResultTarget;
using ProtocolTarget = AIResultTarget;
using AnswerAssistTarget = AIResultTarget;

// The six panels, in the order the surface lists them.
enum class AIPanel {
    transcriptSummary,
    translationSummary,
    transcriptProtocol,
    translationProtocol,
    transcriptAnswer,
    translationAnswer,
};

// The summary, protocol and answer panels of both text columns. One AI request runs at a
// time across all six; while it loads, its panel is shown and the other two tools of its
// column are hidden. A failed request shows a text built locally together with a notice;
// such a fallback is only shown: it never counts as the stored AI result (history record,
// draft), and asking for a summary again while one shows sends a new request.
//
// What a panel shows and what the meeting keeps are apart: the meeting keeps each tool's last
// good AI answer, so a repeat that is under way, fails or never finishes leaves the earlier
// answer as the meeting's text, whatever the panel shows meanwhile.
//
// A new conversation (clear) ends the request of the last one at once: its answer is dropped
// and the tools are free for the new meeting. The view model publishes the panels' state as
// its own properties. Main thread only.
class AIResultPanelSet final : public QObject, public AIResultPanels
{
    Q_OBJECT

public:
    using GenerationProvider = std::function<QUuid()>;

    // The services and the store are not owned and must outlive this object. The provider
    // gives the current conversation generation.
    AIResultPanelSet(DeepSeekSummaryService *summaryService, DeepSeekMeetingProtocolService *protocolService,
                   DeepSeekAnswerAssistService *answerService, const KavrelLocalizationStore &localization,
                   GenerationProvider conversationGeneration, QObject *parent = nullptr);
    ~AIResultPanelSet() override;

    void startSummary(SummaryTarget target, QString transcript, QString inputLanguageName, QString outputLanguageName);
    void startMeetingProtocol(ProtocolTarget target, QString transcript, QString languageName);
    void startAnswerAssist(AnswerAssistTarget target, QString transcript, QString inputLanguageName,
                           QString outputLanguageName);

    bool isAnyLoading() const;
    bool isVisible(AIPanel panel) const { return state(panel).visible; }
    bool isLoading(AIPanel panel) const { return state(panel).loading; }
    QString text(AIPanel panel) const { return state(panel).text; }
    std::optional<QString> errorMessage(AIPanel panel) const { return state(panel).errorMessage; }
    bool isShowingFallback(AIPanel panel) const { return state(panel).isFallback; }
    // The AI result the meeting keeps: the last good answer of this panel's tool, whatever the
    // panel shows now (a fallback, a repeat under way); empty when there is none.
    QString storedText(AIPanel panel) const { return m_meetingTexts[static_cast<size_t>(panel)]; }

    // Puts back texts kept from an earlier run (panels stay hidden).
    void restoreText(AIPanel panel, const QString &text);
    // The meeting got this AI text elsewhere (the history browser saved it): it is kept as the
    // panel's result, and shown in it unless a request of the panel is under way.
    void keepText(AIPanel panel, const QString &text);
    // Hides a panel (the views' close buttons); a request in it keeps running and its text stays.
    void hide(AIPanel panel);
    // A new conversation: ends the running request (its answer is dropped), empties every text
    // and error and hides every panel.
    void clear();
    void clearPanels() override { clear(); }

    // The task of the running request, if any (for tests and a graceful quit).
    TaskHandle<void> requestTask() const { return m_requestTask; }

    bool isTranscriptSummaryVisible() const { return isVisible(AIPanel::transcriptSummary); }
    bool isTranscriptSummaryLoading() const { return isLoading(AIPanel::transcriptSummary); }
    QString transcriptSummaryText() const { return text(AIPanel::transcriptSummary); }
    std::optional<QString> transcriptSummaryErrorMessage() const { return errorMessage(AIPanel::transcriptSummary); }
    bool isTranslationSummaryVisible() const { return isVisible(AIPanel::translationSummary); }
    bool isTranslationSummaryLoading() const { return isLoading(AIPanel::translationSummary); }
    QString translationSummaryText() const { return text(AIPanel::translationSummary); }
    std::optional<QString> translationSummaryErrorMessage() const { return errorMessage(AIPanel::translationSummary); }
    bool isTranscriptProtocolVisible() const { return isVisible(AIPanel::transcriptProtocol); }
    bool isTranscriptProtocolLoading() const { return isLoading(AIPanel::transcriptProtocol); }
    QString transcriptProtocolText() const { return text(AIPanel::transcriptProtocol); }
    std::optional<QString> transcriptProtocolErrorMessage() const { return errorMessage(AIPanel::transcriptProtocol); }
    bool isTranslationProtocolVisible() const { return isVisible(AIPanel::translationProtocol); }
    bool isTranslationProtocolLoading() const { return isLoading(AIPanel::translationProtocol); }
    QString translationProtocolText() const { return text(AIPanel::translationProtocol); }
    std::optional<QString> translationProtocolErrorMessage() const { return errorMessage(AIPanel::translationProtocol); }
    bool isTranscriptAnswerVisible() const { return isVisible(AIPanel::transcriptAnswer); }
    bool isTranscriptAnswerLoading() const { return isLoading(AIPanel::transcriptAnswer); }
    QString transcriptAnswerText() const { return text(AIPanel::transcriptAnswer); }
    std::optional<QString> transcriptAnswerErrorMessage() const { return errorMessage(AIPanel::transcriptAnswer); }
    bool isTranslationAnswerVisible() const { return isVisible(AIPanel::translationAnswer); }
    bool isTranslationAnswerLoading() const { return isLoading(AIPanel::translationAnswer); }
    QString translationAnswerText() const { return text(AIPanel::translationAnswer); }
    std::optional<QString> translationAnswerErrorMessage() const { return errorMessage(AIPanel::translationAnswer); }

Q_SIGNALS:
    void transcriptSummaryChanged();
    void translationSummaryChanged();
    void transcriptProtocolChanged();
    void translationProtocolChanged();
    void transcriptAnswerChanged();
    void translationAnswerChanged();
    // A loading flag changed (the toolbar's activity text and the can... tests follow it).
    void loadingChanged();
    // A summary or protocol result (AI or fallback) was put into its panel: the meeting
    // history should save it.
    void historySaveRequested();

private:
    enum class Tool {
        summary,
        meetingProtocol,
        answer,
    };

    struct PanelState
    {
        bool visible = false;
        bool loading = false;
        QString text;
        std::optional<QString> errorMessage;
        bool isFallback = false;

        bool operator==(const PanelState &) const = default;
    };

    using Request = std::function<QCoro::Task<QString>(QString transcript, CancellationToken token)>;

    static AIPanel panelFor(Tool tool, AIResultTarget target);
    const PanelState &state(AIPanel panel) const { return m_panels[static_cast<size_t>(panel)]; }
    void setState(AIPanel panel, const PanelState &state);

    void startRequest(Tool tool, AIResultTarget target, const QString &transcript, Request request);
    QCoro::Task<void> runRequest(Tool tool, AIPanel panel, QString transcript, QUuid generation, Request request,
                                 CancellationToken token);

    DeepSeekSummaryService *m_summaryService;
    DeepSeekMeetingProtocolService *m_protocolService;
    DeepSeekAnswerAssistService *m_answerService;
    const KavrelLocalizationStore &m_localization;
    GenerationProvider m_conversationGeneration;
    std::array<PanelState, 6> m_panels;
    std::array<QString, 6> m_meetingTexts;
    TaskHandle<void> m_requestTask;
};
