#pragma once

#include "audio/AudioCaptureTime.h"
#include "base/Async.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <chrono>
#include <coroutine>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// Joins system audio and the microphone into the one stream that is transcribed and
// recorded. The two sources are lined up in time: each chunk a source hands over is placed on
// the mixer's timeline after the audio that source gave before, or, when its capture time says
// it lies elsewhere (the source paused or lost audio), where that time says. A source whose
// clock runs a little slower or faster than the machine's is stretched or squeezed to keep its
// place, however long the meeting. Whenever the timeline is settled for 1024 more
// samples, a chunk is mixed with fixed gains and queued; queued chunks go to the output handler one at a time, in order. When the
// consumer falls behind, the oldest queued chunks are dropped so the stream stays live.
//
// The timeline is settled as far as both sources have delivered, so the stream runs exactly
// as long as the audio that came in, whatever order and grouping the sources deliver in. A
// microphone that has delivered nothing for laneWaitSampleCount (250 ms) of the computer's audio
// counts as stopped: the computer's audio goes on alone and the microphone is silence. A source
// that keeps delivering, and the computer's audio always, is waited for however far behind it
// comes (a busy machine converts one source's audio later than the other's, the audio server
// hands one stream's backlog over faster than the other's, a reader held up finds a backlog),
// for as long as the other's lane can hold meanwhile: past laneSampleLimit the stream goes on
// with what that lane holds. Audio that then comes for a time that has already gone out is not
// dropped: the source is realigned, its audio going on from where the stream is, and the rest
// of it follows on (the two sources' times disagree by that much more from then on). So
// neither source is lost for what the other's times or deliveries do. A stretch where neither
// source has audio (the audio server restarting) goes out as silence, so what follows keeps its
// place in time.
//
// The microphone's gate sends nothing while the room is quiet, but says how far its quiet
// reaches: an empty chunk with a capture time. Such a microphone is waited for as one that
// delivers, so the speech that ends its quiet lands in its place however far behind the
// computer's audio it comes, within what the other lane can hold. A microphone realigned behind
// its times works that off in its next quiet, so its speech lands in its place again.
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
    // Callable from any thread; hands one chunk of a source, and when it was captured, to the
    // mixer.
    using Feed = std::function<void(const QByteArray &chunk, AudioCaptureTime capturedAt)>;

    static constexpr qsizetype chunkSampleCount = 1024;
    // What a lane holds at most once an append returns (about 1 s): as long as the other source
    // may take to catch up while it is still waited for. A busy machine has been seen to hand the
    // microphone's audio over half a second after the computer's.
    static constexpr qsizetype laneSampleLimit = 16384;
    static constexpr qsizetype pendingChunkLimit = 6;
    static constexpr double systemGain = 0.95;
    static constexpr double microphoneGain = 1.35;
    static constexpr qint64 diagnosticsIntervalMilliseconds = 5000;
    // How much audio one source may bring ahead of a source that delivers nothing before that
    // one counts as stopped (250 ms): longer than the two captures' deliveries stray from each
    // other, short enough that a microphone unplugged mid-sentence does not hold up the
    // transcript.
    static constexpr qsizetype laneWaitSampleCount = 4000;
    // How far a source's capture time may differ from where its audio follows on before the
    // audio is put where the time says (100 ms): more than the audio server's own jitter, less
    // than a pause the microphone's gate makes.
    static constexpr qsizetype realignSampleCount = 1600;
    // No device clock agrees with the machine's: one runs up to a fraction of a percent slower
    // or faster, and over an hour its audio would stray by seconds from where its capture times
    // put it. The timeline runs with the capture times (the machine's clock), and each source's
    // audio is stretched or squeezed by up to maximumStretch to keep to them, once it strays by
    // more than stretchDeadBand (10 ms): by 1 % for each stretchSpanSampleCount (40 ms) it
    // strays beyond that, judged over driftSampleCount (2 s), so a source 0.5 % off settles
    // 30 ms from its times. Audio a source lost for less than the realignment (a capture
    // thread that fell behind) is caught up the same way, so the stream keeps real time.
    static constexpr double maximumStretch = 0.01;
    static constexpr double stretchDeadBand = 160;
    static constexpr double stretchSpanSampleCount = 64000;
    static constexpr double driftSampleCount = 32000;
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
    // Once enabled, the microphone is waited for from the present on, so its first audio
    // lands in its place (or, when none comes, holds the stream back for the wait once).
    void setMicrophoneEnabled(bool enabled);

    // Replaces the consumer and starts delivering chunks that are waiting.
    void setOutputHandler(OutputHandler handler);

    // A chunk without a capture time follows what its source gave before. An empty chunk with
    // one says the source was heard until then and was quiet since its last audio.
    void appendSystemAudio(const QByteArray &chunk, AudioCaptureTime capturedAt = {});
    void appendMicrophoneAudio(const QByteArray &chunk, AudioCaptureTime capturedAt = {});

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

    // One source's samples waiting to be mixed, each at its place on the timeline (a sample
    // index counted from the start of the era). The places run on from sample to sample
    // except where the source's audio jumped ahead.
    class Lane
    {
    public:
        qsizetype size() const { return qsizetype(m_samples.size() - m_head); }
        // Whether the lane is waited for in this era, and the place after its latest audio (or
        // where it was expected to begin).
        bool started() const { return m_started; }
        bool hasAudio() const { return m_hasAudio; }
        qint64 next() const { return m_next; }
        // Whether the source is known to have been quiet since its latest audio, and how far it
        // has been heard, with or without audio.
        bool quietAfterAudio() const { return m_quietUntil > m_next; }
        qint64 heardUntil() const { return std::max(m_next, m_quietUntil); }
        // The source was heard, quiet, until `place`.
        void heardQuiet(qint64 place);
        // How much audio the other source has delivered since this one last did.
        qint64 otherSinceLast() const { return m_otherSinceLast; }
        void delivered() { m_otherSinceLast = 0; }
        void otherDelivered(qsizetype count) { m_otherSinceLast += count; }
        // Waits for the source from `place` on, as if it had delivered up to there.
        void expect(qint64 place);
        qint64 firstPlace() const { return m_breaks.front().place; }
        qint64 endPlace() const { return m_breaks.back().place + qint64(m_samples.size() - m_breaks.back().index); }
        // Puts samples at `place`, which is never before the end of the lane's audio.
        void place(qint64 place, const qint16 *samples, qsizetype count);
        // Adds gain × each sample at the places [from, from + count) to out.
        void mixInto(double *out, qint64 from, qsizetype count, double gain) const;
        // The samples at the places [from, from + count) when the lane holds every one of them
        // in one run, else null.
        const qint16 *samplesAt(qint64 from, qsizetype count) const;
        void removeBefore(qint64 place);
        // The place of the sample after the oldest `count` the lane holds.
        qint64 placeAfterOldest(qsizetype count) const;
        void clear();
        // The chunk's samples as they go onto the timeline, the chunk having strayed by `strayed`
        // places from where its time puts it: the chunk itself, or stretched into `buffer`.
        std::pair<const qint16 *, qsizetype> stretch(const qint16 *samples, qsizetype count, double strayed,
                                                     std::vector<qint16> &buffer);
        // Forgets how the source strayed (its audio was put where its time says).
        void restartStretch();
        // How far after where its times say the source's audio goes: the sum of the
        // realignments that kept its late audio rather than dropping it.
        qint64 shift() const { return m_shift; }
        void shiftBy(qint64 places) { m_shift += places; }
        // Whether the stream went on without the source while it was waited for (the other's
        // lane was full): its late audio is then realigned, not dropped.
        bool wentOnWithout() const { return m_wentOnWithout; }
        void setWentOnWithout(bool wentOn) { m_wentOnWithout = wentOn; }
        // Late audio dropped since the source last delivered in time: told once, when that ends.
        qint64 &lostSamples() { return m_lostSamples; }

    private:
        // From samples[index] on, the samples lie at place, place + 1, …
        struct Break
        {
            std::size_t index;
            qint64 place;
        };
        void removeFront(qsizetype count);

        std::vector<qint16> m_samples;
        std::size_t m_head = 0;
        std::deque<Break> m_breaks;
        bool m_started = false;
        bool m_hasAudio = false;
        qint64 m_next = 0;
        qint64 m_quietUntil = std::numeric_limits<qint64>::min();
        qint64 m_otherSinceLast = 0;
        qint64 m_shift = 0;
        qint64 m_lostSamples = 0;
        bool m_wentOnWithout = false;
        // How far the source has strayed lately, the read position in the source's audio of the
        // next stretched sample (0 is the next chunk's first, -1 the sample before it), and that
        // sample before.
        double m_strayed = 0;
        double m_position = 0;
        std::optional<qint16> m_previous;
    };

    // What the inbox needs to know of a lane to tell when chunks can be cut.
    struct LaneState
    {
        bool counted = false; // enabled and has delivered in this era
        qint64 next = 0;
        qint64 otherSinceLast = 0;
        // How far it was heard, quiet after `next`; never less than `next`.
        qint64 heard = 0;
        qint64 shift = 0;
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

    // How far the timeline is settled: up to the place where the sources still waited for
    // (those not stopped) have delivered. `emitted` when no source has delivered.
    static qint64 settledEnd(LaneState system, LaneState microphone, qint64 emitted);
    qint64 settledEnd() const;
    LaneState stateOf(const Lane &lane, bool enabled) const
    {
        return LaneState{enabled && lane.started(), lane.next(), lane.otherSinceLast(), lane.heardUntil(), lane.shift()};
    }
    using ClockAnchor = std::optional<std::pair<AudioCaptureTime, qint64>>;
    static qint64 placeOn(const std::pair<AudioCaptureTime, qint64> &anchor, AudioCaptureTime time);
    qint64 placeOf(AudioCaptureTime time) const { return placeOn(*m_clockAnchor, time); }
    void appendTo(Lane &lane, const char *laneName, const QByteArray &chunk, AudioCaptureTime capturedAt);
    void enqueueAvailableChunks(bool force);
    // Goes on without waiting for the other source as far as keeps the lane within its limit.
    void makeRoomIn(Lane &lane, const char *laneName);
    static void tellLoss(Lane &lane, const char *laneName);
    void emitChunk(qsizetype sampleCount);
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
    // The place on the timeline where the next chunk starts.
    qint64 m_emitted = 0;
    // A capture time and its place: the timeline runs with the clock from there. Set by the
    // era's first audio that has a time.
    ClockAnchor m_clockAnchor;
    std::vector<qint16> m_stretchBuffer;
    std::vector<double> m_mixBuffer;
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
