#include "session/StableReconstructionScheduler.h"

#include "accounts/KavrelBackendProxyService.h"
#include "base/Text.h"
#include "session/LiveTranslationRouter.h"
#include "session/SessionTurnStore.h"
#include "speech/KavrelLiveTranslationV2Service.h"

StableReconstructionScheduler::StableReconstructionScheduler(SessionTurnStore *turns, KavrelBackendProxyService *proxyService,
                                                             KavrelLiveTranslationV2Service *translationService,
                                                             LiveTranslationRouter *translation, QObject *parent)
    : QObject(parent)
    , m_turns(turns)
    , m_proxyService(proxyService)
    , m_translationService(translationService)
    , m_translation(translation)
{
    m_debounceTimer.setSingleShot(true);
    m_debounceTimer.setInterval(std::chrono::milliseconds(2000));
    connect(&m_debounceTimer, &QTimer::timeout, this, &StableReconstructionScheduler::startRun);
    connect(turns, &SessionTurnStore::turnClosed, this, &StableReconstructionScheduler::scheduleStableReconstructionIfNeeded);
}

StableReconstructionScheduler::~StableReconstructionScheduler()
{
    m_task.cancel();
}

void StableReconstructionScheduler::scheduleStableReconstructionIfNeeded()
{
    if (m_isRunning) {
        m_rescheduleAfterRun = true;
        return;
    }
    m_debounceTimer.stop();
    if (!m_turns || m_nextStableTurnIndex >= m_turns->closedTurnCount())
        return;
    m_debounceTimer.start();
}

void StableReconstructionScheduler::startRun()
{
    QPointer<StableReconstructionScheduler> self(this);
    m_task = spawnTask([self](CancellationToken token) -> QCoro::Task<void> {
        if (self)
            co_await self->performStableReconstructionIfNeeded(token);
    });
}

void StableReconstructionScheduler::reset()
{
    m_debounceTimer.stop();
    m_task.cancel();
    m_rescheduleAfterRun = false;
    m_nextStableTurnIndex = 0;
}

QCoro::Task<void> StableReconstructionScheduler::performStableReconstructionIfNeeded(CancellationToken token)
{
    if (!m_turns)
        co_return;
    if (m_translation && m_translation->hasPendingPreview()) {
        scheduleStableReconstructionIfNeeded();
        co_return;
    }
    const std::optional<StableTranscriptText::StableWindow> window =
        StableTranscriptText::stableWindowSelection(m_turns->turns(), m_nextStableTurnIndex);
    if (!window)
        co_return;
    const auto &turns = m_turns->turns();
    std::vector<SessionTurn> snapshot(turns.begin() + window->first, turns.begin() + window->end);
    const QString signature = StableTranscriptText::stableWindowSignature(snapshot);

    QPointer<StableReconstructionScheduler> self(this);
    m_isRunning = true;
    RewriteResult result;
    bool succeeded = false;
    try {
        result.turns = co_await reconstructStableTurns(snapshot, token);
        if (self && m_translation && m_translation->isTranslationAvailable()) {
            std::optional<std::vector<SessionTurn>> translated = co_await translatedStableTurns(result.turns);
            if (translated) {
                result.turns = *translated;
                result.translationReplaced = true;
            }
        }
        succeeded = true;
    } catch (...) {
        // A failed rewrite leaves the live text; the next closed turn schedules again.
    }
    if (!self)
        co_return;
    if (!succeeded || !stableWindowStillMatches(signature, window->first, window->end)) {
        finishRun();
        co_return;
    }

    writeBack(*window, result);
    m_nextStableTurnIndex = window->stableStartOffset + int(result.turns.size());
    if (m_translation && m_translation->isTranslationAvailable() && m_translationService) {
        co_await m_translationService->replaceHistory(m_translation->translationHistoryTurns());
        if (!self)
            co_return;
    }
    if (m_nextStableTurnIndex < m_turns->closedTurnCount())
        m_rescheduleAfterRun = true;
    finishRun();
}

void StableReconstructionScheduler::finishRun()
{
    m_isRunning = false;
    if (m_rescheduleAfterRun) {
        m_rescheduleAfterRun = false;
        scheduleStableReconstructionIfNeeded();
    }
}

bool StableReconstructionScheduler::stableWindowStillMatches(const QString &signature, int first, int end) const
{
    if (!m_turns || first < 0 || end > m_turns->count() || first > end)
        return false;
    const auto &turns = m_turns->turns();
    const std::vector<SessionTurn> window(turns.begin() + first, turns.begin() + end);
    return StableTranscriptText::stableWindowSignature(window) == signature;
}

void StableReconstructionScheduler::writeBack(const StableTranscriptText::StableWindow &window, const RewriteResult &result)
{
    for (int offset = 0; offset < int(result.turns.size()); ++offset) {
        const int index = window.first + offset;
        const SessionTurn &rewritten = result.turns[std::size_t(offset)];
        m_turns->setText(index, rewritten.text);
        m_turns->setSpeakerLabels(index, rewritten.speakerLabel, rewritten.translationSpeakerLabel);
        // A translation that arrived while the model worked is newer than the copy taken
        // before; only the block translation of this very window may replace it.
        if (result.translationReplaced)
            m_turns->setTranslationText(index, rewritten.translationText,
                                        m_translation ? m_translation->sessionLanguage() : std::nullopt);
    }
}

QCoro::Task<std::vector<SessionTurn>> StableReconstructionScheduler::reconstructStableTurns(std::vector<SessionTurn> window,
                                                                                           CancellationToken token)
{
    if (!m_proxyService)
        throw CancellationError();
    const KavrelChatCompletionRequest request =
        StableTranscriptText::reconstructionRequest(StableTranscriptText::transcriptLines(window));
    const KavrelChatCompletionResponse response = co_await m_proxyService->performChatCompletion(request, token);

    std::optional<QString> content;
    if (!response.choices.isEmpty())
        content = response.choices.first().message.content;
    if (!content || Text::trimmed(*content).isEmpty())
        co_return window;
    const std::optional<QStringList> texts =
        StableTranscriptText::structuredDialogueTexts(StableTranscriptText::stripMarkdownCodeFence(*content));
    if (!texts || texts->size() != qsizetype(window.size()))
        co_return window;

    std::vector<SessionTurn> rewritten = window;
    for (std::size_t i = 0; i < rewritten.size(); ++i) {
        SessionTurn &turn = rewritten[i];
        turn.speakerLabel.reset();
        turn.translationSpeakerLabel.reset();
        const QString text = Text::trimmed(texts->at(qsizetype(i)));
        if (!text.isEmpty())
            turn.text = text;
    }
    co_return rewritten;
}

QCoro::Task<std::optional<std::vector<SessionTurn>>> StableReconstructionScheduler::translatedStableTurns(
    std::vector<SessionTurn> turns)
{
    if (turns.empty())
        co_return turns;
    if (!m_translationService)
        throw CancellationError();
    const QString reply = co_await m_translationService->translateStableBlock(StableTranscriptText::transcriptLines(turns),
                                                                              QList<DeepSeekTranslationHistoryTurn>());
    const QList<StableTranscriptText::TranslatedLine> lines = StableTranscriptText::parseTranslatedStableLines(reply);
    if (lines.size() != qsizetype(turns.size()))
        co_return std::nullopt;
    for (std::size_t i = 0; i < turns.size(); ++i) {
        turns[i].translationSpeakerLabel.reset();
        turns[i].translationText = StableTranscriptText::translationText(lines.at(qsizetype(i)));
    }
    co_return turns;
}
