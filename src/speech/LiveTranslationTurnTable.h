#pragma once

#include "speech/LiveTranslationTurn.h"
#include "speech/TranslationV2Messages.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// The turns of the live translation client's logical session, by turn key. Pointers and
// references into it hold only until the next record is made or a final is settled.
//
// A turn whose final the server translated keeps no record, only its identifier: in a long
// meeting the records of settled turns would pile up, and nothing but "settled" is asked of
// them again (their texts are refused, and the server's late messages about them find nothing
// to settle, acknowledge or answer, as they would in a settled record).
class LiveTranslationTurnTable final
{
public:
    struct Preview
    {
        qint64 clientRevision = 0;
        QString text;
    };

    // The turn's record, or nothing when none was made or the turn is settled.
    const LiveTranslationTurn *find(const QString &key) const;
    LiveTranslationTurn *find(const QString &key);
    // The turn's record, made when missing.
    LiveTranslationTurn &record(const QString &key) { return m_turns[key]; }

    // The server's translation of the turn's final arrived.
    bool isFinalized(const QString &key) const;
    const V2PendingFinal *pendingFinal(const QString &key) const;
    // Drops the turn's pending final, if any.
    void removePendingFinal(const QString &key);

    // The turn's next revision; the first is 1.
    qint64 nextRevision(const QString &key);
    // Makes text the turn's pending final, with the next revision and the next enqueue
    // sequence, in place of its interim text and any preview of it.
    V2PendingFinal addPendingFinal(const QString &key, const QString &text);

    // The turn's newest interim text when it may go out as a preview now, marked in flight
    // under the next revision. Nothing while the turn has a final or a preview in flight, and
    // when the text equals the last one sent.
    std::optional<Preview> takePreviewToSend(const QString &key);
    // The server's answer to the turn's preview in flight with this revision: true, and the
    // turn is free for its next text, when it is that answer and the turn has no final.
    bool acceptPreviewAnswer(const QString &key, qint64 clientRevision);
    // The server gave up the preview in flight with this revision (or, without one, the turn
    // has none in flight): true, and the turn may send its newest text again.
    bool releasePreview(const QString &key, std::optional<qint64> clientRevision);
    // Notes the server's acknowledgement of the turn's pending final with this revision.
    void acknowledgeFinal(const QString &key, qint64 clientRevision);
    // The server's translation of the turn's pending final with this revision: true, and the
    // turn is finalized (its record goes), when it is that final.
    bool settleFinal(const QString &key, qint64 clientRevision);

    // Every pending final, the first enqueued first.
    QList<V2PendingFinal> pendingFinalsInEnqueueOrder() const;
    // Keys of the turns that hold an interim text, in ascending order.
    QStringList openTurnKeys() const;
    // Forgets which previews are in flight and what was sent: a new socket starts afresh.
    void forgetSentPreviews();
    void clear();

    // Records kept: turns not settled yet.
    qsizetype recordCount() const { return m_turns.size(); }

private:
    QHash<QString, LiveTranslationTurn> m_turns;
    // The settled turns, by identifier (a sixth of the size of a key and far less than a record).
    QSet<QUuid> m_finalized;
    qint64 m_nextPendingFinalSequence = 0;
};
