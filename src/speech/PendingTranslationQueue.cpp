#include "speech/PendingTranslationQueue.h"

#include "base/KavrelDiagnostics.h"

#include <algorithm>

PendingTranslationQueue::PendingTranslationQueue()
{
    m_lastDiagnosticsLog.start();
}

bool PendingTranslationQueue::mergeIntoQueued(const PendingTranslationChunk &chunk)
{
    for (qsizetype i = m_chunks.size() - 1; i >= 0; --i) {
        PendingTranslationChunk &queued = m_chunks[i];
        if (queued.turnID != chunk.turnID)
            continue;
        queued.transcript = chunk.transcript;
        queued.isFinal = queued.isFinal || chunk.isFinal;
        return true;
    }
    return false;
}

void PendingTranslationQueue::add(const PendingTranslationChunk &chunk)
{
    if (!mergeIntoQueued(chunk))
        m_chunks.append(chunk);
    ++m_diagnostics.enqueuedChunkCount;
    m_diagnostics.maxPendingChunkCount = std::max(m_diagnostics.maxPendingChunkCount, int(m_chunks.size()));
}

void PendingTranslationQueue::requeue(const PendingTranslationChunk &chunk)
{
    if (!mergeIntoQueued(chunk))
        m_chunks.prepend(chunk);
}

std::optional<PendingTranslationChunk> PendingTranslationQueue::takeNext()
{
    qsizetype lastInterim = -1;
    qsizetype lastFinal = -1;
    for (qsizetype i = m_chunks.size() - 1; i >= 0 && (lastInterim < 0 || lastFinal < 0); --i) {
        if (m_chunks.at(i).isFinal) {
            if (lastFinal < 0)
                lastFinal = i;
        } else if (lastInterim < 0) {
            lastInterim = i;
        }
    }
    qsizetype chosen = -1;
    if (lastInterim >= 0 && lastFinal >= 0) {
        // Interim and final chunks take turns while both wait.
        chosen = m_shouldDispatchLiveChunkNext ? lastInterim : lastFinal;
        m_shouldDispatchLiveChunkNext = !m_shouldDispatchLiveChunkNext;
    } else if (lastInterim >= 0) {
        chosen = lastInterim;
        m_shouldDispatchLiveChunkNext = false;
    } else if (lastFinal >= 0) {
        chosen = lastFinal;
        m_shouldDispatchLiveChunkNext = true;
    } else {
        return std::nullopt;
    }
    return m_chunks.takeAt(chosen);
}

void PendingTranslationQueue::reset()
{
    m_chunks.clear();
    m_shouldDispatchLiveChunkNext = true;
    m_lastDiagnosticsLog.restart();
    m_diagnostics = Diagnostics();
    m_translationDurationTotalMilliseconds = 0;
    m_translationDurationSampleCount = 0;
}

void PendingTranslationQueue::countCompleted(double durationMilliseconds)
{
    ++m_diagnostics.completedChunkCount;
    m_translationDurationTotalMilliseconds += durationMilliseconds;
    ++m_translationDurationSampleCount;
}

void PendingTranslationQueue::logDiagnosticsIfNeeded(const QString &reason, std::chrono::milliseconds interval)
{
    if (m_lastDiagnosticsLog.elapsed() < interval.count())
        return;
    const double average =
        m_translationDurationSampleCount < 1 ? 0.0 : m_translationDurationTotalMilliseconds / m_translationDurationSampleCount;
    qCInfo(KavrelDiagnostics::deepSeekTranslation()).noquote()
        << QStringLiteral("Translation queue diagnostics reason=%1 pendingChunks=%2 maxPendingChunks=%3 "
                          "enqueued=%4 completed=%5 dropped=%6 avgTranslationMs=%7")
               .arg(reason)
               .arg(m_chunks.size())
               .arg(m_diagnostics.maxPendingChunkCount)
               .arg(m_diagnostics.enqueuedChunkCount)
               .arg(m_diagnostics.completedChunkCount)
               .arg(m_diagnostics.droppedChunkCount)
               .arg(average, 0, 'f', 6);
    m_lastDiagnosticsLog.restart();
    m_diagnostics = Diagnostics();
    m_diagnostics.maxPendingChunkCount = int(m_chunks.size());
    m_translationDurationTotalMilliseconds = 0;
    m_translationDurationSampleCount = 0;
}
