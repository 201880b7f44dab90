#include "speech/LiveTranslationTurnTable.h"

#include "base/Text.h"
#include "speech/TranslationTurnKey.h"

#include <algorithm>

const LiveTranslationTurn *LiveTranslationTurnTable::find(const QString &key) const
{
    const auto found = m_turns.constFind(key);
    return found == m_turns.constEnd() ? nullptr : &*found;
}

LiveTranslationTurn *LiveTranslationTurnTable::find(const QString &key)
{
    const auto found = m_turns.find(key);
    return found == m_turns.end() ? nullptr : &*found;
}

bool LiveTranslationTurnTable::isFinalized(const QString &key) const
{
    if (m_finalized.isEmpty())
        return false;
    const std::optional<QUuid> id = TranslationTurnKey::parse(key);
    return id && m_finalized.contains(*id);
}

const V2PendingFinal *LiveTranslationTurnTable::pendingFinal(const QString &key) const
{
    const LiveTranslationTurn *turn = find(key);
    return turn && turn->pendingFinal ? &*turn->pendingFinal : nullptr;
}

void LiveTranslationTurnTable::removePendingFinal(const QString &key)
{
    if (LiveTranslationTurn *turn = find(key))
        turn->pendingFinal.reset();
}

qint64 LiveTranslationTurnTable::nextRevision(const QString &key)
{
    return ++record(key).clientRevision;
}

V2PendingFinal LiveTranslationTurnTable::addPendingFinal(const QString &key, const QString &text)
{
    LiveTranslationTurn &turn = record(key);
    turn.latestPreview.reset();
    turn.previewInFlightRevision.reset();
    turn.lastSentPreviewText.reset();
    V2PendingFinal pending;
    pending.turnID = key;
    pending.clientRevision = ++turn.clientRevision;
    pending.sourceText = text;
    pending.enqueueSequence = m_nextPendingFinalSequence++;
    turn.pendingFinal = pending;
    return pending;
}

std::optional<LiveTranslationTurnTable::Preview> LiveTranslationTurnTable::takePreviewToSend(const QString &key)
{
    LiveTranslationTurn *turn = find(key);
    if (!turn || turn->pendingFinal || turn->previewInFlightRevision || !turn->latestPreview
        || turn->latestPreview->isEmpty())
        return std::nullopt;
    if (turn->lastSentPreviewText && Text::nfcEquals(*turn->lastSentPreviewText, *turn->latestPreview))
        return std::nullopt;
    const qint64 revision = ++turn->clientRevision;
    turn->previewInFlightRevision = revision;
    turn->lastSentPreviewText = turn->latestPreview;
    return Preview{revision, *turn->latestPreview};
}

bool LiveTranslationTurnTable::acceptPreviewAnswer(const QString &key, qint64 clientRevision)
{
    LiveTranslationTurn *turn = find(key);
    if (!turn || turn->pendingFinal || turn->previewInFlightRevision != clientRevision)
        return false;
    turn->previewInFlightRevision.reset();
    return true;
}

bool LiveTranslationTurnTable::releasePreview(const QString &key, std::optional<qint64> clientRevision)
{
    LiveTranslationTurn *turn = find(key);
    const std::optional<qint64> inFlight = turn ? turn->previewInFlightRevision : std::nullopt;
    if (inFlight != clientRevision)
        return false;
    if (turn) {
        turn->previewInFlightRevision.reset();
        turn->lastSentPreviewText.reset();
    }
    return true;
}

void LiveTranslationTurnTable::acknowledgeFinal(const QString &key, qint64 clientRevision)
{
    LiveTranslationTurn *turn = find(key);
    if (turn && turn->pendingFinal && turn->pendingFinal->clientRevision == clientRevision)
        turn->pendingFinal->acknowledged = true;
}

bool LiveTranslationTurnTable::settleFinal(const QString &key, qint64 clientRevision)
{
    const auto found = m_turns.find(key);
    if (found == m_turns.end() || !found->pendingFinal || found->pendingFinal->clientRevision != clientRevision)
        return false;
    // Records are made only under keys made from identifiers, so the key parses.
    const std::optional<QUuid> id = TranslationTurnKey::parse(key);
    if (!id)
        return false;
    m_finalized.insert(*id);
    m_turns.erase(found);
    return true;
}

QList<V2PendingFinal> LiveTranslationTurnTable::pendingFinalsInEnqueueOrder() const
{
    QList<V2PendingFinal> finals;
    for (const LiveTranslationTurn &turn : m_turns) {
        if (turn.pendingFinal)
            finals.append(*turn.pendingFinal);
    }
    std::sort(finals.begin(), finals.end(),
              [](const V2PendingFinal &a, const V2PendingFinal &b) { return a.enqueueSequence < b.enqueueSequence; });
    return finals;
}

QStringList LiveTranslationTurnTable::openTurnKeys() const
{
    QStringList keys;
    for (auto turn = m_turns.constBegin(); turn != m_turns.constEnd(); ++turn) {
        if (turn->latestPreview)
            keys.append(turn.key());
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

void LiveTranslationTurnTable::forgetSentPreviews()
{
    for (LiveTranslationTurn &turn : m_turns) {
        turn.previewInFlightRevision.reset();
        turn.lastSentPreviewText.reset();
    }
}

void LiveTranslationTurnTable::clear()
{
    m_turns.clear();
    m_finalized.clear();
    m_nextPendingFinalSequence = 0;
}
