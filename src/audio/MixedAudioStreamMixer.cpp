#include "audio/MixedAudioStreamMixer.h"

#include "base/KavrelDiagnostics.h"

#include <QPointer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

// The capture threads' queue to the mixer. It knows what the mixer's lanes held when the main
// thread last looked, so it can tell when what has come lets chunks be cut. The main thread is
// woken for two chunks at a time: the mixer, the recorder's hand-off and the speech socket's send
// loop then run once for both. A single chunk waits for its partner no longer than
// feedChunkWait (or what setFeedChunkWait() gave), judged as fragments come (two sources bring
// one about every 20 ms); a good many fragments that the mixer may ignore wake it as well.
class MixedAudioStreamMixer::Inbox
{
public:
    struct Item
    {
        bool microphone = false;
        QByteArray chunk;
    };

    // Fragments that wake the main thread whatever the lanes hold: a microphone handed over while
    // its lane is off is not kept waiting long.
    static constexpr std::size_t itemLimit = 8;

    explicit Inbox(MixedAudioStreamMixer *mixer) : m_mixer(mixer) {}

    void push(bool microphone, const QByteArray &chunk)
    {
        const qsizetype samples = chunk.size() / 2;
        if (samples <= 0)
            return;
        const std::lock_guard lock(m_mutex);
        if (!m_mixer)
            return;
        m_items.push_back(Item{microphone, chunk});
        (microphone ? m_queuedMicrophone : m_queuedSystem) += samples;
        wakeIfDue();
    }

    std::deque<Item> take()
    {
        const std::lock_guard lock(m_mutex);
        m_wakePending = false;
        m_dueSince.reset();
        m_queuedSystem = 0;
        m_queuedMicrophone = 0;
        return std::exchange(m_items, {});
    }

    // What the mixer holds now: called on the main thread after each change of its lanes.
    void setMixerState(qsizetype system, qsizetype microphone, bool microphoneEnabled)
    {
        const std::lock_guard lock(m_mutex);
        m_system = system;
        m_microphone = microphone;
        m_microphoneEnabled = microphoneEnabled;
        wakeIfDue();
    }

    void clear()
    {
        const std::lock_guard lock(m_mutex);
        m_items.clear();
        m_queuedSystem = 0;
        m_queuedMicrophone = 0;
    }

    void detach()
    {
        const std::lock_guard lock(m_mutex);
        m_mixer = nullptr;
        m_items.clear();
    }

    int wakeCount() const
    {
        const std::lock_guard lock(m_mutex);
        return m_wakeCount;
    }

    void setChunkWait(std::chrono::milliseconds wait)
    {
        const std::lock_guard lock(m_mutex);
        m_chunkWait = wait;
    }

private:
    // How many chunks, up to two, the mixer cuts (chunkDue()) from what it will hold once it
    // takes the queue.
    int dueChunks() const
    {
        qsizetype system = m_system + m_queuedSystem;
        qsizetype microphone = m_microphoneEnabled ? m_microphone + m_queuedMicrophone : 0;
        int due = 0;
        for (; due < 2 && chunkDue(system, microphone, m_microphoneEnabled); ++due) {
            // A lane short of a chunk is padded with silence, as mixChunk() does.
            system -= std::min(system, chunkSampleCount);
            microphone -= std::min(microphone, chunkSampleCount);
        }
        return due;
    }

    void wakeIfDue()
    {
        const int due = dueChunks();
        const auto now = std::chrono::steady_clock::now();
        if (due == 0)
            m_dueSince.reset();
        else if (!m_dueSince)
            m_dueSince = now;
        if (m_wakePending || m_items.empty())
            return;
        const bool waitedEnough = due == 1 && now - *m_dueSince >= m_chunkWait;
        if (due < 2 && !waitedEnough && m_items.size() < itemLimit)
            return;
        m_wakePending = true;
        ++m_wakeCount;
        // Under the lock, so the mixer cannot be destroyed meanwhile; a call posted to a mixer
        // destroyed later is dropped with it.
        MixedAudioStreamMixer *mixer = m_mixer;
        QMetaObject::invokeMethod(mixer, [mixer] { mixer->takeInbox(); }, Qt::QueuedConnection);
    }

    mutable std::mutex m_mutex;
    MixedAudioStreamMixer *m_mixer;
    std::deque<Item> m_items;
    qsizetype m_queuedSystem = 0;
    qsizetype m_queuedMicrophone = 0;
    qsizetype m_system = 0;
    qsizetype m_microphone = 0;
    bool m_microphoneEnabled = false;
    bool m_wakePending = false;
    // Since when a chunk could be cut from what has come.
    std::optional<std::chrono::steady_clock::time_point> m_dueSince;
    std::chrono::milliseconds m_chunkWait = feedChunkWait;
    int m_wakeCount = 0;
};

void MixedAudioStreamMixer::Lane::append(const QByteArray &chunk)
{
    const qsizetype count = chunk.size() / 2;
    if (count <= 0)
        return;
    // Reclaim the consumed front once it outweighs what is still buffered.
    if (m_head > 0 && m_head >= m_samples.size() / 2) {
        m_samples.erase(m_samples.begin(), m_samples.begin() + qsizetype(m_head));
        m_head = 0;
    }
    const std::size_t oldSize = m_samples.size();
    m_samples.resize(oldSize + std::size_t(count));
    // Audio chunks are little-endian, as is every machine this builds for.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    std::memcpy(m_samples.data() + oldSize, chunk.constData(), std::size_t(count) * 2);
}

void MixedAudioStreamMixer::Lane::removeFront(qsizetype count)
{
    m_head += std::size_t(std::min(count, size()));
    if (m_head == m_samples.size())
        clear();
}

void MixedAudioStreamMixer::Lane::clear()
{
    m_samples.clear();
    m_head = 0;
}

MixedAudioStreamMixer::MixedAudioStreamMixer(QObject *parent)
    : QObject(parent)
    , m_inbox(std::make_shared<Inbox>(this))
    , m_outputLoopGeneration(QUuid::createUuid())
{
    m_lastDiagnostics.start();
}

MixedAudioStreamMixer::~MixedAudioStreamMixer()
{
    m_inbox->detach();
    m_outputLoopTask.cancel();
    resumeDrainWaiters();
}

MixedAudioStreamMixer::Feed MixedAudioStreamMixer::systemAudioFeed()
{
    return [inbox = m_inbox](const QByteArray &chunk) { inbox->push(false, chunk); };
}

MixedAudioStreamMixer::Feed MixedAudioStreamMixer::microphoneAudioFeed()
{
    return [inbox = m_inbox](const QByteArray &chunk) { inbox->push(true, chunk); };
}

int MixedAudioStreamMixer::feedWakeCount() const
{
    return m_inbox->wakeCount();
}

void MixedAudioStreamMixer::setFeedChunkWait(std::chrono::milliseconds wait)
{
    m_inbox->setChunkWait(wait);
}

void MixedAudioStreamMixer::takeInbox()
{
    // Each append tells the queue what the lanes hold now; an item the mixer ignores changes
    // nothing it would be told.
    for (const Inbox::Item &item : m_inbox->take()) {
        if (item.microphone)
            appendMicrophoneAudio(item.chunk);
        else
            appendSystemAudio(item.chunk);
    }
}

void MixedAudioStreamMixer::updateInbox()
{
    m_inbox->setMixerState(m_systemSamples.size(), m_microphoneSamples.size(), m_microphoneEnabled);
}

void MixedAudioStreamMixer::reset()
{
    m_inbox->clear();
    m_systemSamples.clear();
    m_microphoneSamples.clear();
    m_microphoneEnabled = false;
    m_outputHandler = nullptr;
    stopOutputLoop();
    m_lastDiagnostics.restart();
    m_receivedSystemSampleCount = 0;
    m_receivedMicrophoneSampleCount = 0;
    m_producedChunkCount = 0;
    m_deliveredChunkCount = 0;
    updateInbox();
}

void MixedAudioStreamMixer::setMicrophoneEnabled(bool enabled)
{
    m_microphoneEnabled = enabled;
    qCInfo(KavrelDiagnostics::audio()).noquote()
        << QString::asprintf("mixer microphone enabled=%s systemBuffered=%ld microphoneBuffered=%ld",
                             enabled ? "true" : "false", long(m_systemSamples.size()), long(m_microphoneSamples.size()));
    if (!enabled)
        m_microphoneSamples.clear();
    updateInbox();
}

void MixedAudioStreamMixer::setOutputHandler(OutputHandler handler)
{
    m_outputHandler = std::move(handler);
    startOutputLoopIfNeeded();
}

void MixedAudioStreamMixer::appendSystemAudio(const QByteArray &chunk)
{
    m_receivedSystemSampleCount += chunk.size() / 2;
    appendTo(m_systemSamples, "system", chunk);
}

void MixedAudioStreamMixer::appendMicrophoneAudio(const QByteArray &chunk)
{
    if (!m_microphoneEnabled)
        return;
    m_receivedMicrophoneSampleCount += chunk.size() / 2;
    appendTo(m_microphoneSamples, "microphone", chunk);
}

void MixedAudioStreamMixer::appendTo(Lane &lane, const char *laneName, const QByteArray &chunk)
{
    lane.append(chunk);
    if (lane.size() > laneSampleLimit) {
        const qsizetype dropped = lane.size() - laneSampleLimit;
        lane.removeFront(dropped);
        qCWarning(KavrelDiagnostics::audio()).noquote()
            << QString::asprintf("mixer dropped stale samples lane=%s samples=%ld buffered=%ld", laneName,
                                 long(dropped), long(lane.size()));
    }
    enqueueAvailableChunks(false);
    startOutputLoopIfNeeded();
    checkDiagnostics();
    updateInbox();
}

// Both sources deliver in fragments of their own: cutting a chunk as soon as one lane is full
// would pad the other with silence it only lacks for a moment, stretching the stream past real
// time. A lane a whole chunk behind has stalled and counts as silence.
bool MixedAudioStreamMixer::chunkDue(qsizetype system, qsizetype microphone, bool microphoneEnabled)
{
    const qsizetype available = microphoneEnabled ? std::max(system, microphone) : system;
    if (available < chunkSampleCount)
        return false;
    const qsizetype lagging = std::min(system, microphone);
    return !microphoneEnabled || lagging >= chunkSampleCount || available - lagging >= chunkSampleCount;
}

void MixedAudioStreamMixer::enqueueAvailableChunks(bool force)
{
    for (;;) {
        qsizetype available = m_systemSamples.size();
        if (m_microphoneEnabled)
            available = std::max(available, m_microphoneSamples.size());
        if (force ? available < 1 : !chunkDue(m_systemSamples.size(), m_microphoneSamples.size(), m_microphoneEnabled))
            return;
        mixChunk(std::min(available, chunkSampleCount));
        ++m_producedChunkCount;
        if (qsizetype(m_pendingOutputChunks.size()) > pendingChunkLimit) {
            const qsizetype removed = qsizetype(m_pendingOutputChunks.size()) - pendingChunkLimit;
            m_pendingOutputChunks.erase(m_pendingOutputChunks.begin(), m_pendingOutputChunks.begin() + removed);
            qCWarning(KavrelDiagnostics::audio()).noquote()
                << QString::asprintf("mixer dropped stale output chunks count=%ld pending=%ld", long(removed),
                                     long(m_pendingOutputChunks.size()));
        }
    }
}

// Samples a lane lacks count as silence; the lanes are not realigned afterwards.
void MixedAudioStreamMixer::mixChunk(qsizetype sampleCount)
{
    const qsizetype systemCount = std::min(sampleCount, m_systemSamples.size());
    const qsizetype microphoneCount = std::min(sampleCount, m_microphoneSamples.size());
    const qint16 *system = m_systemSamples.data();
    const qint16 *microphone = m_microphoneSamples.data();
    const bool mixMicrophone = m_microphoneEnabled;

    QByteArray chunk(sampleCount * 2, Qt::Uninitialized);
    auto *output = reinterpret_cast<qint16 *>(chunk.data());
    for (qsizetype i = 0; i < sampleCount; ++i) {
        const double a = i < systemCount ? double(system[i]) * systemGain : 0.0;
        const double b = (mixMicrophone && i < microphoneCount) ? double(microphone[i]) * microphoneGain : 0.0;
        const double mixed = std::trunc(a + b);
        output[i] = qint16(std::clamp(mixed, -32768.0, 32767.0));
    }
    m_systemSamples.removeFront(systemCount);
    m_microphoneSamples.removeFront(microphoneCount);
    m_pendingOutputChunks.push_back(std::move(chunk));
}

void MixedAudioStreamMixer::startOutputLoopIfNeeded()
{
    if (!m_outputHandler || m_pendingOutputChunks.empty() || m_outputLoopActive)
        return;
    m_outputLoopActive = true;
    const QUuid generation = m_outputLoopGeneration;
    QPointer<MixedAudioStreamMixer> self(this);
    TaskHandle<void> task = spawnTask([self, generation](CancellationToken token) -> QCoro::Task<void> {
        co_await runOutputLoop(self, generation, token);
    });
    // A handler that never suspends may have run the whole loop already.
    if (m_outputLoopActive && m_outputLoopGeneration == generation)
        m_outputLoopTask = task;
}

QCoro::Task<void> MixedAudioStreamMixer::runOutputLoop(QPointer<MixedAudioStreamMixer> mixer, QUuid generation,
                                                       CancellationToken token)
{
    for (;;) {
        if (!mixer || token.isCancelled() || mixer->m_outputLoopGeneration != generation)
            co_return;
        if (!mixer->m_outputHandler || mixer->m_pendingOutputChunks.empty())
            break;
        QByteArray chunk = std::move(mixer->m_pendingOutputChunks.front());
        mixer->m_pendingOutputChunks.pop_front();
        // The handler may be replaced while this call runs; the call keeps its own copy.
        OutputHandler handler = mixer->m_outputHandler;
        try {
            co_await handler(std::move(chunk));
        } catch (...) {
            // A consumer's failure must not stall the stream; the next chunk goes out as usual.
            qCWarning(KavrelDiagnostics::audio()).noquote()
                << "mixer output handler failed:" << errorMessage(std::current_exception());
        }
        if (!mixer || mixer->m_outputLoopGeneration != generation)
            co_return;
        ++mixer->m_deliveredChunkCount;
    }
    mixer->m_outputLoopActive = false;
    mixer->m_outputLoopTask = TaskHandle<void>();
    if (mixer->m_outputHandler && !mixer->m_pendingOutputChunks.empty()) {
        mixer->startOutputLoopIfNeeded();
        co_return;
    }
    if (mixer->m_pendingOutputChunks.empty())
        mixer->resumeDrainWaiters();
}

void MixedAudioStreamMixer::stopOutputLoop()
{
    m_outputLoopGeneration = QUuid::createUuid();
    m_outputLoopTask.cancel();
    m_outputLoopTask = TaskHandle<void>();
    m_outputLoopActive = false;
    m_pendingOutputChunks.clear();
    resumeDrainWaiters();
}

void MixedAudioStreamMixer::resumeDrainWaiters()
{
    std::vector<DrainWaiter> waiters = std::move(m_outputDrainContinuations);
    m_outputDrainContinuations.clear();
    // Resumed on the next turn of the event loop, so the caller that released them finishes
    // its own work first.
    for (const DrainWaiter &waiter : waiters)
        kavrel::detail::resumeLater(waiter.handle);
}

void MixedAudioStreamMixer::DrainAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    m_mixer->m_outputDrainContinuations.push_back(DrainWaiter{handle});
}

QCoro::Task<void> MixedAudioStreamMixer::drainRemainingAudio()
{
    takeInbox();
    enqueueAvailableChunks(true);
    updateInbox();
    startOutputLoopIfNeeded();
    if (!m_outputLoopActive)
        co_return;
    co_await DrainAwaiter(this);
    // The mixer may be gone by now; touch nothing.
}

void MixedAudioStreamMixer::checkDiagnostics()
{
    if (m_lastDiagnostics.elapsed() < diagnosticsIntervalMilliseconds)
        return;
    qCInfo(KavrelDiagnostics::audio()).noquote() << QString::asprintf(
        "mixer diagnostics systemSamples=%ld microphoneSamples=%ld produced=%ld delivered=%ld systemBuffered=%ld "
        "microphoneBuffered=%ld outputPending=%ld",
        long(m_receivedSystemSampleCount), long(m_receivedMicrophoneSampleCount), long(m_producedChunkCount),
        long(m_deliveredChunkCount), long(m_systemSamples.size()), long(m_microphoneSamples.size()),
        long(m_pendingOutputChunks.size()));
    m_lastDiagnostics.restart();
    m_receivedSystemSampleCount = 0;
    m_receivedMicrophoneSampleCount = 0;
    m_producedChunkCount = 0;
    m_deliveredChunkCount = 0;
}
