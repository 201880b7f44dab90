#include "session/AIResultPanelSet.h"

#include "localization/KavrelLocalizationStore.h"
#include "base/Text.h"
#include "services/DeepSeekAnswerAssistService.h"
#include "services/DeepSeekMeetingProtocolService.h"
#include "services/DeepSeekSummaryService.h"
#include "session/AILocalFallback.h"

#include <QPointer>

AIResultPanelSet::AIResultPanelSet(DeepSeekSummaryService *summaryService, DeepSeekMeetingProtocolService *protocolService,
                               DeepSeekAnswerAssistService *answerService, const KavrelLocalizationStore &localization,
                               GenerationProvider conversationGeneration, QObject *parent)
    : QObject(parent)
    , m_summaryService(summaryService)
    , m_protocolService(protocolService)
    , m_answerService(answerService)
    , m_localization(localization)
    , m_conversationGeneration(std::move(conversationGeneration))
{
}

AIResultPanelSet::~AIResultPanelSet()
{
    m_requestTask.cancel();
}

AIPanel AIResultPanelSet::panelFor(Tool tool, AIResultTarget target)
{
    const bool source = target == AIResultTarget::source;
    switch (tool) {
    case Tool::summary:
        return source ? AIPanel::transcriptSummary : AIPanel::translationSummary;
    case Tool::meetingProtocol:
        return source ? AIPanel::transcriptProtocol : AIPanel::translationProtocol;
    case Tool::answer:
        break;
    }
    return source ? AIPanel::transcriptAnswer : AIPanel::translationAnswer;
}

bool AIResultPanelSet::isAnyLoading() const
{
    for (const PanelState &panel : m_panels) {
        if (panel.loading)
            return true;
    }
    return false;
}

void AIResultPanelSet::setState(AIPanel panel, const PanelState &newState)
{
    PanelState &current = m_panels[static_cast<size_t>(panel)];
    if (current == newState)
        return;
    const bool loadingChanged = current.loading != newState.loading;
    current = newState;
    switch (panel) {
    case AIPanel::transcriptSummary:
        Q_EMIT transcriptSummaryChanged();
        break;
    case AIPanel::translationSummary:
        Q_EMIT translationSummaryChanged();
        break;
    case AIPanel::transcriptProtocol:
        Q_EMIT transcriptProtocolChanged();
        break;
    case AIPanel::translationProtocol:
        Q_EMIT translationProtocolChanged();
        break;
    case AIPanel::transcriptAnswer:
        Q_EMIT transcriptAnswerChanged();
        break;
    case AIPanel::translationAnswer:
        Q_EMIT translationAnswerChanged();
        break;
    }
    if (loadingChanged)
        Q_EMIT this->loadingChanged();
}

void AIResultPanelSet::restoreText(AIPanel panel, const QString &text)
{
    m_meetingTexts[static_cast<size_t>(panel)] = text;
    PanelState restored = state(panel);
    restored.text = text;
    restored.isFallback = false;
    setState(panel, restored);
}

void AIResultPanelSet::keepText(AIPanel panel, const QString &text)
{
    m_meetingTexts[static_cast<size_t>(panel)] = text;
    if (isLoading(panel))
        return;
    PanelState kept = state(panel);
    kept.text = text;
    kept.errorMessage.reset();
    kept.isFallback = false;
    setState(panel, kept);
}

void AIResultPanelSet::hide(AIPanel panel)
{
    PanelState hidden = state(panel);
    hidden.visible = false;
    setState(panel, hidden);
}

void AIResultPanelSet::clear()
{
    // The last meeting's request must not hold the tools of the next one.
    m_requestTask.cancel();
    m_requestTask = {};
    m_meetingTexts.fill(QString());
    for (size_t i = 0; i < m_panels.size(); ++i)
        setState(static_cast<AIPanel>(i), PanelState());
}

void AIResultPanelSet::startSummary(SummaryTarget target, QString transcript, QString inputLanguageName,
                                  QString outputLanguageName)
{
    DeepSeekSummaryService *service = m_summaryService;
    startRequest(Tool::summary, target, transcript,
                 [service, inputLanguageName, outputLanguageName](QString text, CancellationToken token) {
                     if (!service)
                         throw CancellationError();
                     return service->summarize(text, inputLanguageName, outputLanguageName, token);
                 });
}

void AIResultPanelSet::startMeetingProtocol(ProtocolTarget target, QString transcript, QString languageName)
{
    DeepSeekMeetingProtocolService *service = m_protocolService;
    startRequest(Tool::meetingProtocol, target, transcript, [service, languageName](QString text, CancellationToken token) {
        if (!service)
            throw CancellationError();
        return service->generateProtocol(text, languageName, token);
    });
}

void AIResultPanelSet::startAnswerAssist(AnswerAssistTarget target, QString transcript, QString inputLanguageName,
                                       QString outputLanguageName)
{
    DeepSeekAnswerAssistService *service = m_answerService;
    startRequest(Tool::answer, target, transcript,
                 [service, inputLanguageName, outputLanguageName](QString text, CancellationToken token) {
                     if (!service)
                         throw CancellationError();
                     return service->suggestAnswer(text, inputLanguageName, outputLanguageName, token);
                 });
}

void AIResultPanelSet::startRequest(Tool tool, AIResultTarget target, const QString &transcript, Request request)
{
    if (isAnyLoading())
        return;
    const AIPanel panel = panelFor(tool, target);
    // A summary that is already there is shown again rather than asked for again; a local
    // fallback is not a summary, so it is asked for anew.
    if (tool == Tool::summary && !Text::trimmed(storedText(panel)).isEmpty()) {
        PanelState shown = state(panel);
        shown.visible = true;
        shown.text = storedText(panel);
        shown.errorMessage.reset();
        shown.isFallback = false;
        setState(panel, shown);
        return;
    }
    const QString trimmedTranscript = Text::trimmed(transcript);
    if (trimmedTranscript.isEmpty())
        return;

    for (Tool other : {Tool::summary, Tool::meetingProtocol, Tool::answer}) {
        if (other == tool)
            continue;
        const AIPanel otherPanel = panelFor(other, target);
        PanelState hidden = state(otherPanel);
        hidden.visible = false;
        setState(otherPanel, hidden);
    }
    PanelState loading;
    loading.visible = true;
    loading.loading = true;
    setState(panel, loading);

    const QUuid generation = m_conversationGeneration ? m_conversationGeneration() : QUuid();
    QPointer<AIResultPanelSet> self(this);
    m_requestTask = spawnTask([self, tool, panel, trimmedTranscript, generation, request](CancellationToken token) {
        return self->runRequest(tool, panel, trimmedTranscript, generation, request, token);
    });
}

QCoro::Task<void> AIResultPanelSet::runRequest(Tool tool, AIPanel panel, QString transcript, QUuid generation,
                                             Request request, CancellationToken token)
{
    QPointer<AIResultPanelSet> self(this);
    std::optional<QString> result;
    try {
        QString answer = co_await request(transcript, token);
        result = answer;
    } catch (...) {
        // The error itself is not shown: the panel gets a local fallback and a fixed notice.
    }
    // Ended by a new conversation, which has freed the panels already.
    if (!self || token.isCancelled())
        co_return;

    PanelState finished = state(panel);
    finished.loading = false;
    // Every tool's result belongs to the conversation it was asked in; a new conversation
    // began meanwhile (its panels were cleared), so nothing of it is stored.
    const bool isCurrent = !m_conversationGeneration || m_conversationGeneration() == generation;
    if (isCurrent) {
        if (result) {
            finished.text = *result;
            finished.errorMessage.reset();
            finished.isFallback = false;
            m_meetingTexts[static_cast<size_t>(panel)] = *result;
        } else {
            switch (tool) {
            case Tool::summary:
                finished.text = AILocalFallback::summary(transcript);
                finished.errorMessage = m_localization.localized(QStringLiteral("AI summary failed, showing a local fallback instead."));
                break;
            case Tool::meetingProtocol:
                finished.text = AILocalFallback::meetingProtocol(transcript, &m_localization);
                finished.errorMessage = m_localization.localized(QStringLiteral("AI protocol failed, showing a local fallback instead."));
                break;
            case Tool::answer:
                finished.text = AILocalFallback::answer(transcript, &m_localization);
                finished.errorMessage = m_localization.localized(QStringLiteral("AI answer assist failed, showing a local fallback instead."));
                break;
            }
            finished.isFallback = true;
        }
        PanelState stored = finished;
        stored.loading = true;
        setState(panel, stored);
        if (tool != Tool::answer)
            Q_EMIT historySaveRequested();
    }
    setState(panel, finished);
}
