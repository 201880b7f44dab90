#include "session/LiveTranslationRouter.h"

#include "localization/KavrelLocalizationStore.h"
#include "base/KavrelDiagnostics.h"
#include "base/KavrelError.h"
#include "base/TaskOutcome.h"
#include "base/Text.h"
#include "session/SessionTurnStore.h"
#include "session/TranscriptTextRules.h"
#include "speech/KavrelLiveTranslationV2Service.h"

#include <QElapsedTimer>

LiveTranslationRouter::LiveTranslationRouter(KavrelLiveTranslationV2Service *service, SessionTurnStore *turns,
                                             const KavrelLocalizationStore &localization, SettingsProvider settings,
                                             SessionGuard sessionGuard, MessageWriter messageWriter, QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_turns(turns)
    , m_localization(localization)
    , m_settings(std::move(settings))
    , m_sessionGuard(std::move(sessionGuard))
    , m_writeMessage(std::move(messageWriter))
{
    // A preview still waiting for its final translation is kept when its turn closes, before
    // the turn's final text goes out.
    connect(turns, &SessionTurnStore::turnClosing, this, &LiveTranslationRouter::promotePendingTranslationDraftIfAvailable);
}

LiveTranslationRouter::~LiveTranslationRouter() = default;

void LiveTranslationRouter::setTranslationMessage(const std::optional<QString> &message)
{
    if (m_writeMessage)
        m_writeMessage(message);
}

bool LiveTranslationRouter::isTranslationAvailable() const
{
    return m_turns && m_turns->isTranslationAvailable();
}

void LiveTranslationRouter::setTranslationAvailable(bool available)
{
    if (m_turns)
        m_turns->setTranslationAvailable(available);
}

bool LiveTranslationRouter::hasPendingPreview() const
{
    return !m_pendingTranslationDrafts.isEmpty() || (m_turns && !m_turns->liveTranslationPreview().isEmpty());
}

void LiveTranslationRouter::setLiveTranslationPreview(const QString &preview)
{
    if (m_turns)
        m_turns->setLiveTranslationPreview(preview);
}

QString LiveTranslationRouter::targetLanguageName() const
{
    return m_localization.localizedLanguageName(TranslationLanguageOptions::interfaceLanguage(m_settings().target));
}

// ---- Preparation ----

QCoro::Task<void> LiveTranslationRouter::prepareTranslationIfPossible(QUuid generation)
{
    co_await prepareTranslation(generation, CancellationToken());
}

QCoro::Task<void> LiveTranslationRouter::prepareTranslation(QUuid generation, CancellationToken token)
{
    QPointer<LiveTranslationRouter> self(this);
    auto sessionHolds = [self, generation, token] {
        return self && !token.isCancelled() && self->m_sessionGuard(generation);
    };
    if (!sessionHolds() || !m_service)
        co_return;
    QPointer<KavrelLiveTranslationV2Service> service = m_service;
    const Settings settings = m_settings();

    if (!settings.isTranslationEnabled) {
        setTranslationAvailable(false);
        setTranslationMessage(std::nullopt);
        co_await service->resetSession();
        co_return;
    }

    const quint64 serial = ++m_preparationSerial;
    // The session opened below answers in this language; previews kept from it are in it too.
    m_sessionLanguage = settings.target;
    QElapsedTimer elapsed;
    elapsed.start();
    qCInfo(KavrelDiagnostics::translation()).noquote()
        << QStringLiteral("background translation preparation started generation=%1").arg(generation.toString(QUuid::WithoutBraces));

    // Each event becomes its own main-thread turn, in the order the client reported them.
    QPointer<LiveTranslationRouter> weakSelf(this);
    KavrelLiveTranslationV2Service::EventHandler handler = [weakSelf](const DeepSeekTranslationEvent &event) {
        if (!weakSelf)
            return;
        QMetaObject::invokeMethod(
            weakSelf.data(), [weakSelf, event] {
                if (weakSelf)
                    weakSelf->applyTranslationEvent(event);
            },
            Qt::QueuedConnection);
    };
    const QString sourceCode = SourceLanguageOptions::code(settings.source);
    const QString sourceName = SourceLanguageOptions::englishName(settings.source);
    const QString targetCode = TranslationLanguageOptions::code(settings.target);
    const QString targetName = TranslationLanguageOptions::englishName(settings.target);

    const TaskOutcome<void> started =
        co_await outcomeOf(service->startSession(sourceCode, sourceName, targetCode, targetName, handler));
    if (!self || !service)
        co_return;

    if (started.failed()) {
        if (!sessionHolds())
            co_return;
        co_await service->resetSession();
        if (!self)
            co_return;
        setTranslationAvailable(false);
        const QStringList arguments{targetLanguageName(), m_localization.localizedMessage(started.errorText())};
        setTranslationMessage(m_localization.localizedFormat(QStringLiteral("%@ translation is unavailable: %@"), arguments));
        setLiveTranslationPreview(QString());
        qCWarning(KavrelDiagnostics::translation()).noquote()
            << QStringLiteral("background translation preparation failed durationMs=%1 error=%2")
                   .arg(elapsed.elapsed())
                   .arg(started.errorText());
        co_return;
    }

    if (!sessionHolds()) {
        // The session this was for has ended meanwhile. Unless a newer preparation has taken
        // the client over since, close what was opened here: nothing else would, and its
        // socket would stay open with nobody to feed it.
        if (m_preparationSerial == serial)
            co_await service->resetSession();
        co_return;
    }

    setTranslationAvailable(true);
    setTranslationMessage(std::nullopt);
    setLiveTranslationPreview(QString());
    co_await service->replaceHistory(translationHistoryTurns());
    if (!self)
        co_return;
    co_await enqueueUntranslatedTurnsForTranslation(generation, token);
    if (!self)
        co_return;
    qCInfo(KavrelDiagnostics::translation()).noquote()
        << QStringLiteral("background translation preparation completed durationMs=%1").arg(elapsed.elapsed());
}

QCoro::Task<void> LiveTranslationRouter::enqueueUntranslatedTurnsForTranslation(QUuid generation, CancellationToken token)
{
    if (!m_turns)
        co_return;
    std::vector<SessionTurn> candidates;
    for (const SessionTurn &turn : m_turns->turns()) {
        if (!Text::trimmed(turn.text).isEmpty() && Text::trimmed(turn.translationText).isEmpty())
            candidates.push_back(turn);
    }
    if (candidates.empty())
        co_return;
    qCInfo(KavrelDiagnostics::translation()).noquote()
        << QStringLiteral("backfilling untranslated turns count=%1").arg(candidates.size());

    QPointer<LiveTranslationRouter> self(this);
    for (const SessionTurn &turn : candidates) {
        if (!self || token.isCancelled() || !m_sessionGuard(generation) || !isTranslationAvailable() || !m_service)
            co_return;
        if (turn.isClosed)
            co_await m_service->enqueueFinalChunk(turn.text, turn.id);
        else
            co_await m_service->enqueueInterimChunk(turn.text, turn.id);
    }
}

QList<DeepSeekTranslationHistoryTurn> LiveTranslationRouter::translationHistoryTurns() const
{
    QList<DeepSeekTranslationHistoryTurn> history;
    if (!m_turns)
        return history;
    // Walked from the newest turn: the clients keep only the last few pairs, and this runs on
    // every completed translation of a session that may hold thousands of turns.
    const std::vector<SessionTurn> &turns = m_turns->turns();
    for (auto turn = turns.rbegin(); turn != turns.rend() && history.size() < historyContextTurns; ++turn) {
        const QString source = Text::trimmed(turn->text);
        const QString translation = Text::trimmed(turn->translationText);
        if (!source.isEmpty() && !translation.isEmpty())
            history.prepend(DeepSeekTranslationHistoryTurn{source, translation});
    }
    return history;
}

// ---- Events ----

void LiveTranslationRouter::applyTranslationEvent(const DeepSeekTranslationEvent &event)
{
    switch (event.kind) {
    case DeepSeekTranslationEvent::Kind::preview: {
        const std::optional<int> index = m_turns ? m_turns->indexOf(event.turnID) : std::nullopt;
        if (index && m_turns->at(*index).isClosed) {
            qCDebug(KavrelDiagnostics::translation()).noquote()
                << QStringLiteral("ignored late preview for closed turn=%1").arg(event.turnID.toString(QUuid::WithoutBraces));
            return;
        }
        m_pendingTranslationDrafts.insert(event.turnID, event.text);
        m_translationPreviewTurnID = event.turnID;
        setLiveTranslationPreview(Text::trimmed(event.text));
        return;
    }
    case DeepSeekTranslationEvent::Kind::completed:
        m_pendingTranslationDrafts.remove(event.turnID);
        if (m_translationPreviewTurnID == event.turnID) {
            m_translationPreviewTurnID.reset();
            setLiveTranslationPreview(QString());
        }
        applyCompletedTranslationChunk(event.text, event.turnID);
        return;
    case DeepSeekTranslationEvent::Kind::failed: {
        if (m_translationPreviewTurnID) {
            m_pendingTranslationDrafts.remove(*m_translationPreviewTurnID);
            m_translationPreviewTurnID.reset();
        }
        setTranslationAvailable(false);
        setLiveTranslationPreview(QString());
        const QStringList arguments{targetLanguageName(), m_localization.localizedMessage(event.text)};
        setTranslationMessage(m_localization.localizedFormat(QStringLiteral("%@ translation was paused: %@"), arguments));
        resetServiceInBackground();
        return;
    }
    }
}

void LiveTranslationRouter::applyCompletedTranslationChunk(const QString &text, const QUuid &turnID)
{
    const std::optional<int> index = m_turns ? m_turns->indexOf(turnID) : std::nullopt;
    if (!index)
        return;
    m_turns->setTranslationText(*index, Text::trimmed(text), m_sessionLanguage);
    replaceHistoryInBackground();
}

void LiveTranslationRouter::promotePendingTranslationDraftIfAvailable(const QUuid &turnID, int turnIndex)
{
    const auto draft = m_pendingTranslationDrafts.constFind(turnID);
    if (draft == m_pendingTranslationDrafts.cend())
        return;
    const QString trimmed = Text::trimmed(*draft);
    m_pendingTranslationDrafts.erase(draft);
    if (trimmed.isEmpty() || !m_turns)
        return;
    m_turns->setTranslationText(turnIndex, trimmed, m_sessionLanguage);
    if (m_translationPreviewTurnID == turnID) {
        m_translationPreviewTurnID.reset();
        setLiveTranslationPreview(QString());
    }
    qCInfo(KavrelDiagnostics::translation()).noquote()
        << QStringLiteral("promoted latest preview while final translation is pending turn=%1")
               .arg(turnID.toString(QUuid::WithoutBraces));
}

void LiveTranslationRouter::commitPendingTranslationDrafts()
{
    if (m_pendingTranslationDrafts.isEmpty())
        return;
    if (m_turns) {
        for (auto it = m_pendingTranslationDrafts.cbegin(); it != m_pendingTranslationDrafts.cend(); ++it) {
            const QString trimmed = Text::trimmed(it.value());
            const std::optional<int> index = m_turns->indexOf(it.key());
            if (trimmed.isEmpty() || !index)
                continue;
            const QString existing = m_turns->at(*index).translationText;
            m_turns->setTranslationText(*index, TranscriptTextRules::mergedText(existing, trimmed), m_sessionLanguage);
        }
    }
    clearPreviews();
}

void LiveTranslationRouter::clearPreviews()
{
    m_pendingTranslationDrafts.clear();
    m_translationPreviewTurnID.reset();
    setLiveTranslationPreview(QString());
}

void LiveTranslationRouter::translationWasTurnedOff()
{
    m_translationPreviewTurnID.reset();
}

// ---- Background work ----

void LiveTranslationRouter::resetServiceInBackground()
{
    QPointer<KavrelLiveTranslationV2Service> service = m_service;
    m_lastBackgroundTask = spawnTask([service](CancellationToken) -> QCoro::Task<void> {
        if (service)
            co_await service->resetSession();
    });
}

void LiveTranslationRouter::replaceHistoryInBackground()
{
    QPointer<KavrelLiveTranslationV2Service> service = m_service;
    const QList<DeepSeekTranslationHistoryTurn> history = translationHistoryTurns();
    m_lastBackgroundTask = spawnTask([service, history](CancellationToken) -> QCoro::Task<void> {
        if (service)
            co_await service->replaceHistory(history);
    });
}
