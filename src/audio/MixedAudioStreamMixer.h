#pragma once

#include "base/Async.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Joins system audio and the microphone into the one stream that is transcribed and
// recorded. Each source fills its lane; whenever the fuller lane holds 1024 samples a chunk
// is mixed with fixed gains and queued (while the microphone is on, once the other lane holds
// a chunk too or lags a whole chunk behind); queued chunks go to the output handler one at a time,
// in order. When the consumer falls behind, the oldest queued chunks are dropped so the
// stream stays live.
//
// A main-thread object. Appends are plain calls that finish before they return, so chunks
// keep the order in which they were appended. Capture threads hand their audio over through
// the feeds (systemAudioFeed(), microphoneAudioFeed()): one queue for both sources that the
// main thread takes in order, woken only when what has come lets two chunks be cut, or one that
// has waited feedChunkWait. Two sources delivering a fragment every 40 ms would otherwise wake it
// for every fragment, where a chunk is 64 ms of sound.
class MixedAudioStreamMixer final : public QObject
{
    Q_OBJECT

public:
    using OutputHandler = std::function<QCoro::Task<void>(QByteArray chunk)>;
    // Callable from any thread; hands one chunk of a source to the mixer.
    using Feed = std::function<void(const QByteArray &chunk)>;

    static constexpr qsizetype chunkSampleCount = 1024;
    static constexpr qsizetype laneSampleLimit = 8192;
    static constexpr qsizetype pendingChunkLimit = 6;
    static constexpr double systemGain = 0.95;
    static constexpr double microphoneGain = 1.35;
    static constexpr qint64 diagnosticsIntervalMilliseconds = 5000;
    // How long a chunk the feeds have brought may wait for a second one before the main thread
    // is woken for it alone (it is woken by the next fragment after that).
    static constexpr std::chrono::milliseconds feedChunkWait{30};

    explicit MixedAudioStreamMixer(QObject *parent = nullptr);
    ~MixedAudioStreamMixer() override;

    // Ends the current era: empties both lanes and the queue, disables the microphone lane,
    // drops the handler and stops the output loop (a handler call in progress finishes, but
    // nothing more is delivered). Waiting drains are released.
    void reset();

    // Disabling also empties the microphone lane; microphone audio is ignored while disabled.
    void setMicrophoneEnabled(bool enabled);

    // Replaces the consumer and starts delivering chunks that are waiting.
    void setOutputHandler(OutputHandler handler);

    void appendSystemAudio(const QByteArray &chunk);
    void appendMicrophoneAudio(const QByteArray &chunk);

    // Thread-safe hand-overs of each source. What they take reaches the mixer in the order it
    // was handed over, as the appends above; reset() drops what has not been taken yet, and
    // drainRemainingAudio() takes it first. A feed outliving the mixer does nothing.
    Feed systemAudioFeed();
    Feed microphoneAudioFeed();
    // How often the feeds have woken the main thread (for tests).
    int feedWakeCount() const;
    // Replaces feedChunkWait (tests wait far longer, so no pause of theirs counts).
    void setFeedChunkWait(std::chrono::milliseconds wait);

    // Mixes what the lanes still hold, the last chunk possibly shorter, and returns when
    // every queued chunk has been delivered (at once when there is no handler).
    QCoro::Task<void> drainRemainingAudio();

private:
    class Inbox;

    class Lane
    {
    public:
        qsizetype size() const { return qsizetype(m_samples.size() - m_head); }
        const qint16 *data() const { return m_samples.data() + m_head; }
        void append(const QByteArray &chunk);
        void removeFront(qsizetype count);
        void clear();

    private:
        std::vector<qint16> m_samples;
        std::size_t m_head = 0;
    };

    struct DrainWaiter
    {
        std::coroutine_handle<> handle;
    };

    class DrainAwaiter
    {
    public:
        explicit DrainAwaiter(MixedAudioStreamMixer *mixer) : m_mixer(mixer) {}
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle);
        void await_resume() const noexcept {}

    private:
        MixedAudioStreamMixer *m_mixer;
    };

    // Whether lanes holding these many samples make a chunk (drains aside).
    static bool chunkDue(qsizetype system, qsizetype microphone, bool microphoneEnabled);
    void appendTo(Lane &lane, const char *laneName, const QByteArray &chunk);
    void enqueueAvailableChunks(bool force);
    void mixChunk(qsizetype sampleCount);
    void startOutputLoopIfNeeded();
    void stopOutputLoop();
    void resumeDrainWaiters();
    void checkDiagnostics();
    void takeInbox();
    void updateInbox();
    static QCoro::Task<void> runOutputLoop(QPointer<MixedAudioStreamMixer> mixer, QUuid generation,
                                           CancellationToken token);

    std::shared_ptr<Inbox> m_inbox;
    Lane m_systemSamples;
    Lane m_microphoneSamples;
    std::deque<QByteArray> m_pendingOutputChunks;
    bool m_microphoneEnabled = false;
    OutputHandler m_outputHandler;
    TaskHandle<void> m_outputLoopTask;
    bool m_outputLoopActive = false;
    QUuid m_outputLoopGeneration;
    std::vector<DrainWaiter> m_outputDrainContinuations;
    QElapsedTimer m_lastDiagnostics;
    qint64 m_receivedSystemSampleCount = 0;
    qint64 m_receivedMicrophoneSampleCount = 0;
    qint64 m_producedChunkCount = 0;
    qint64 m_deliveredChunkCount = 0;
};
