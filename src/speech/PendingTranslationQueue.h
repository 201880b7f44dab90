#pragma once

#include "speech/LegacyTranslationMessages.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

// The legacy translation client's queue of texts. It holds at most one chunk per turn: a newer
// text of a queued turn takes the place of the older one. Interim and final chunks take turns
// while both kinds wait, the newest of each kind first. It also counts what passes through,
// for a diagnostics line at most every so often.
class PendingTranslationQueue final
{
public:
    // Counters since the last diagnostics line.
    struct Diagnostics
    {
        int enqueuedChunkCount = 0;
        int completedChunkCount = 0;
        int droppedChunkCount = 0;
        int maxPendingChunkCount = 0;
    };

    PendingTranslationQueue();

    QList<PendingTranslationChunk> chunks() const { return m_chunks; }
    Diagnostics diagnostics() const { return m_diagnostics; }

    // Queues the chunk: in place of its turn's chunk, final if either is, or else at the end.
    void add(const PendingTranslationChunk &chunk);
    // The chunk to send next, taken out of the queue.
    std::optional<PendingTranslationChunk> takeNext();
    // Puts back a chunk whose request failed: in place of its turn's chunk if one was queued
    // meanwhile, or else at the front.
    void requeue(const PendingTranslationChunk &chunk);
    // Empties the queue (the counters stay).
    void clear() { m_chunks.clear(); }
    // Empties the queue, starts the alternation with an interim chunk and zeroes the counters.
    void reset();

    // An interim text sent at once, without queueing.
    void countSentAtOnce() { ++m_diagnostics.enqueuedChunkCount; }
    void countCompleted(double durationMilliseconds);
    void countDropped() { ++m_diagnostics.droppedChunkCount; }
    // Writes the diagnostics line and starts counting afresh once interval has passed since
    // the last line.
    void logDiagnosticsIfNeeded(const QString &reason, std::chrono::milliseconds interval);

private:
    // Merges the chunk into its turn's queued chunk. False when the turn has none.
    bool mergeIntoQueued(const PendingTranslationChunk &chunk);

    QList<PendingTranslationChunk> m_chunks;
    bool m_shouldDispatchLiveChunkNext = true;
    QElapsedTimer m_lastDiagnosticsLog;
    Diagnostics m_diagnostics;
    double m_translationDurationTotalMilliseconds = 0;
    int m_translationDurationSampleCount = 0;
};
