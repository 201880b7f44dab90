#include "speech/LiveTranslationTurnTable.h"

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
    const LiveTranslationTurn *turn = find(key);
    return turn && turn->finalized;
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
    m_nextPendingFinalSequence = 0;
}
