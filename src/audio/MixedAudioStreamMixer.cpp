#include "audio/MixedAudioStreamMixer.h"

#include "base/KavrelDiagnostics.h"

#include <QPointer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <tuple>
#include <optional>
#include <utility>

// The capture threads' queue to the mixer. It knows where the mixer's lanes stood when the main
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
        AudioCaptureTime capturedAt;
    };

    // Fragments that wake the main thread whatever the lanes hold: a microphone handed over while
    // its lane is off is not kept waiting long.
    static constexpr std::size_t itemLimit = 8;

    explicit Inbox(MixedAudioStreamMixer *mixer) : m_mixer(mixer) {}

    void push(bool microphone, const QByteArray &chunk, AudioCaptureTime capturedAt)
    {
        // An empty chunk only counts when it tells how far the source was heard.
        if (chunk.size() / 2 <= 0 && capturedAt == AudioCaptureTime())
            return;
        const std::lock_guard lock(m_mutex);
        if (!m_mixer)
            return;
        m_items.push_back(Item{microphone, chunk, capturedAt});
        wakeIfDue();
    }

    std::deque<Item> take()
    {
        const std::lock_guard lock(m_mutex);
        m_wakePending = false;
        m_dueSince.reset();
        return std::exchange(m_items, {});
    }

    // Where the mixer stands now: called on the main thread after each change of its lanes.
    void setMixerState(qint64 emitted, LaneState system, LaneState microphone, bool microphoneEnabled,
                       const ClockAnchor &clockAnchor)
    {
        const std::lock_guard lock(m_mutex);
        m_emitted = emitted;
        m_clockAnchor = clockAnchor;
        m_system = system;
        m_microphone = microphone;
        m_microphoneEnabled = microphoneEnabled;
        wakeIfDue();
    }

    void clear()
    {
        const std::lock_guard lock(m_mutex);
        m_items.clear();
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
    // How many chunks, up to two, the mixer cuts from what it will hold once it takes the
    // queue, taking what has come to follow on from each source's audio before.
    int dueChunks() const
    {
        LaneState system = m_system;
        LaneState microphone = m_microphone;
        for (const Item &item : m_items) {
            const qsizetype samples = item.chunk.size() / 2;
            if (item.microphone && !m_microphoneEnabled)
                continue;
            LaneState &lane = item.microphone ? microphone : system;
            LaneState &other = item.microphone ? system : microphone;
            if (samples <= 0) {
                if (m_clockAnchor) {
                    const qint64 next = lane.counted ? lane.next : m_emitted;
                    lane = LaneState{true, next, 0, std::max({next, lane.heard, placeOn(*m_clockAnchor, item.capturedAt) + lane.shift}),
                                     lane.shift};
                }
                continue;
            }
            const qint64 next = (lane.counted ? std::max(lane.next, m_emitted) : m_emitted) + samples;
            lane = LaneState{true, next, 0, next, lane.shift};
            other.otherSinceLast += samples;
        }
        if (!m_microphoneEnabled)
            microphone = LaneState{};
        const qint64 settled = settledEnd(system, microphone, m_emitted);
        return int(std::min<qint64>(2, (settled - m_emitted) / chunkSampleCount));
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
    qint64 m_emitted = 0;
    LaneState m_system;
    LaneState m_microphone;
    bool m_microphoneEnabled = false;
    ClockAnchor m_clockAnchor;
    bool m_wakePending = false;
    // Since when a chunk could be cut from what has come.
    std::optional<std::chrono::steady_clock::time_point> m_dueSince;
    std::chrono::milliseconds m_chunkWait = feedChunkWait;
    int m_wakeCount = 0;
};

void MixedAudioStreamMixer::Lane::expect(qint64 place)
{
    if (m_started)
        return;
    m_started = true;
    m_next = place;
    m_otherSinceLast = 0;
}

void MixedAudioStreamMixer::Lane::heardQuiet(qint64 place)
{
    m_started = true;
    m_otherSinceLast = 0;
    m_quietUntil = std::max(m_quietUntil, place);
}

void MixedAudioStreamMixer::Lane::place(qint64 place, const qint16 *samples, qsizetype count)
{
    // The first audio tells where the source really is; an expectation was only a guess.
    m_next = m_hasAudio ? std::max(m_next, place + count) : place + count;
    // A quiet heard before is behind this audio now.
    m_quietUntil = std::numeric_limits<qint64>::min();
    m_started = true;
    m_hasAudio = true;
    if (count <= 0)
        return;
    // Reclaim the consumed front once it outweighs what is still buffered.
    if (m_head > 0 && m_head >= m_samples.size() / 2) {
        m_samples.erase(m_samples.begin(), m_samples.begin() + qsizetype(m_head));
        for (Break &entry : m_breaks)
            entry.index -= m_head;
        m_head = 0;
    }
    if (m_breaks.empty() || endPlace() != place)
        m_breaks.push_back(Break{m_samples.size(), place});
    m_samples.insert(m_samples.end(), samples, samples + count);
}

void MixedAudioStreamMixer::Lane::mixInto(double *out, qint64 from, qsizetype count, double gain) const
{
    for (std::size_t b = 0; b < m_breaks.size(); ++b) {
        const std::size_t endIndex = b + 1 < m_breaks.size() ? m_breaks[b + 1].index : m_samples.size();
        const qint64 first = std::max(m_breaks[b].place, from);
        const qint64 last = std::min(m_breaks[b].place + qint64(endIndex - m_breaks[b].index), from + count);
        const qint16 *samples = m_samples.data() + m_breaks[b].index + (first - m_breaks[b].place);
        for (qint64 place = first; place < last; ++place)
            out[place - from] += double(*samples++) * gain;
    }
}

const qint16 *MixedAudioStreamMixer::Lane::samplesAt(qint64 from, qsizetype count) const
{
    if (size() == 0 || firstPlace() > from)
        return nullptr;
    const std::size_t endIndex = m_breaks.size() > 1 ? m_breaks[1].index : m_samples.size();
    if (firstPlace() + qint64(endIndex - m_head) < from + count)
        return nullptr;
    return m_samples.data() + m_head + (from - firstPlace());
}

void MixedAudioStreamMixer::Lane::removeBefore(qint64 place)
{
    while (size() > 0 && firstPlace() < place) {
        const std::size_t endIndex = m_breaks.size() > 1 ? m_breaks[1].index : m_samples.size();
        removeFront(qsizetype(std::min<qint64>(place - firstPlace(), qint64(endIndex - m_head))));
    }
}

qint64 MixedAudioStreamMixer::Lane::placeAfterOldest(qsizetype count) const
{
    // The first run starts at the head.
    for (std::size_t b = 0; b < m_breaks.size(); ++b) {
        const std::size_t endIndex = b + 1 < m_breaks.size() ? m_breaks[b + 1].index : m_samples.size();
        const auto run = qsizetype(endIndex - m_breaks[b].index);
        if (count < run)
            return m_breaks[b].place + count;
        count -= run;
    }
    return endPlace();
}

// Removes samples of the first run only.
void MixedAudioStreamMixer::Lane::removeFront(qsizetype count)
{
    m_head += std::size_t(count);
    m_breaks.front().place += count;
    m_breaks.front().index = m_head;
    const std::size_t endIndex = m_breaks.size() > 1 ? m_breaks[1].index : m_samples.size();
    if (m_head == endIndex)
        m_breaks.pop_front();
    if (m_head == m_samples.size()) {
        m_samples.clear();
        m_breaks.clear();
        m_head = 0;
    }
}

std::pair<const qint16 *, qsizetype> MixedAudioStreamMixer::Lane::stretch(const qint16 *samples, qsizetype count,
                                                                          double strayed, std::vector<qint16> &buffer)
{
    m_strayed += (strayed - m_strayed) * std::min(1.0, double(count) / driftSampleCount);
    const double excess = std::abs(m_strayed) - stretchDeadBand;
    const double ratio = excess <= 0
        ? 1.0
        : 1.0 + std::copysign(std::min(maximumStretch, excess / stretchSpanSampleCount), m_strayed);
    const qint16 previous = m_previous.value_or(samples[0]);
    m_previous = samples[count - 1];
    // Back at its own rate, the source is read at whole samples again: half a sample (30 µs)
    // skipped or repeated once.
    if (ratio == 1.0)
        m_position = std::round(m_position);
    if (ratio == 1.0 && m_position == 0.0)
        return {samples, count};
    // Linear interpolation: the stretch is a fraction of a percent, so every place falls close to
    // a sample of the source.
    const double step = 1.0 / ratio;
    const double last = double(count - 1);
    const auto produced = m_position > last ? qsizetype(0) : qsizetype(std::floor((last - m_position) / step)) + 1;
    buffer.resize(std::size_t(produced));
    for (qsizetype i = 0; i < produced; ++i) {
        const double position = m_position + double(i) * step;
        // Positions start at -1: truncating one past it rounds down.
        const qsizetype index = qsizetype(position + 1.0) - 1;
        const double fraction = position - double(index);
        const double before = index < 0 ? double(previous) : double(samples[index]);
        const double after = index + 1 < count ? double(samples[index + 1]) : before;
        const double value = before + (after - before) * fraction;
        buffer[std::size_t(i)] = qint16(value < 0 ? -qint32(0.5 - value) : qint32(value + 0.5));
    }
    m_position += double(produced) * step - double(count);
    return {buffer.data(), produced};
}

void MixedAudioStreamMixer::Lane::restartStretch()
{
    m_strayed = 0;
    m_position = 0;
    m_previous.reset();
}

void MixedAudioStreamMixer::Lane::clear()
{
    restartStretch();
    m_samples.clear();
    m_breaks.clear();
    m_head = 0;
    m_started = false;
    m_hasAudio = false;
    m_next = 0;
    m_quietUntil = std::numeric_limits<qint64>::min();
    m_otherSinceLast = 0;
    m_shift = 0;
    m_lostSamples = 0;
    m_wentOnWithout = false;
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
    return [inbox = m_inbox](const QByteArray &chunk, AudioCaptureTime capturedAt) { inbox->push(false, chunk, capturedAt); };
}

MixedAudioStreamMixer::Feed MixedAudioStreamMixer::microphoneAudioFeed()
{
    return [inbox = m_inbox](const QByteArray &chunk, AudioCaptureTime capturedAt) { inbox->push(true, chunk, capturedAt); };
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
            appendMicrophoneAudio(item.chunk, item.capturedAt);
        else
            appendSystemAudio(item.chunk, item.capturedAt);
    }
}

void MixedAudioStreamMixer::updateInbox()
{
    m_inbox->setMixerState(m_emitted, stateOf(m_systemSamples, true), stateOf(m_microphoneSamples, m_microphoneEnabled),
                           m_microphoneEnabled, m_clockAnchor);
}

void MixedAudioStreamMixer::reset()
{
    m_inbox->clear();
    tellLoss(m_systemSamples, "system");
    tellLoss(m_microphoneSamples, "microphone");
    m_systemSamples.clear();
    m_microphoneSamples.clear();
    m_emitted = 0;
    m_clockAnchor.reset();
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
    else
        m_microphoneSamples.expect(m_systemSamples.started() ? std::max(m_systemSamples.next(), m_emitted) : m_emitted);
    updateInbox();
}

void MixedAudioStreamMixer::setOutputHandler(OutputHandler handler)
{
    m_outputHandler = std::move(handler);
    startOutputLoopIfNeeded();
}

void MixedAudioStreamMixer::appendSystemAudio(const QByteArray &chunk, AudioCaptureTime capturedAt)
{
    m_receivedSystemSampleCount += chunk.size() / 2;
    appendTo(m_systemSamples, "system", chunk, capturedAt);
}

void MixedAudioStreamMixer::appendMicrophoneAudio(const QByteArray &chunk, AudioCaptureTime capturedAt)
{
    if (!m_microphoneEnabled)
        return;
    m_receivedMicrophoneSampleCount += chunk.size() / 2;
    appendTo(m_microphoneSamples, "microphone", chunk, capturedAt);
}

qint64 MixedAudioStreamMixer::placeOn(const std::pair<AudioCaptureTime, qint64> &anchor, AudioCaptureTime time)
{
    const qint64 nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(time - anchor.first).count();
    return anchor.second + std::llround(double(nanoseconds) * 16000.0 / 1e9);
}

void MixedAudioStreamMixer::appendTo(Lane &lane, const char *laneName, const QByteArray &chunk, AudioCaptureTime capturedAt)
{
    qsizetype count = chunk.size() / 2;
    Lane &other = &lane == &m_systemSamples ? m_microphoneSamples : m_systemSamples;
    if (count <= 0) {
        // Heard, quiet: the source is waited for that far, as if it had delivered silence. Before
        // any audio has a time there is no place to put that.
        if (capturedAt == AudioCaptureTime() || !m_clockAnchor)
            return;
        // A microphone realigned behind its times (it was held up while the computer's audio
        // went on) works the realignment off in its quiet, as far as nothing of the stream or of
        // either source stands there yet: its next words land where their times say again,
        // rather than late for the rest of the meeting.
        if (&lane == &m_microphoneSamples && lane.shift() > 0) {
            const qint64 taken = std::max({lane.heardUntil(), m_emitted, other.heardUntil()});
            const qint64 room = placeOf(capturedAt) + lane.shift() - taken;
            if (room > 0)
                lane.shiftBy(-std::min(lane.shift(), room));
        }
        lane.heardQuiet(placeOf(capturedAt) + lane.shift());
        enqueueAvailableChunks(false);
        startOutputLoopIfNeeded();
        updateInbox();
        return;
    }
    // Audio chunks are little-endian, as is every machine this builds for.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    const auto *samples = reinterpret_cast<const qint16 *>(chunk.constData());
    lane.delivered();
    other.otherDelivered(count);

    // Nothing goes where the source has audio already or where the stream has gone out.
    const qint64 floor = lane.hasAudio() ? std::max(lane.next(), m_emitted) : m_emitted;
    qint64 start = floor;
    bool byTime = false;
    if (capturedAt != AudioCaptureTime()) {
        if (!m_clockAnchor)
            m_clockAnchor.emplace(capturedAt, floor + count);
        const qint64 timed = placeOf(capturedAt) + lane.shift() - count;
        // After a known quiet the audio goes where its time says: it does not follow on.
        if (lane.hasAudio() && !lane.quietAfterAudio() && std::abs(timed - lane.next()) <= realignSampleCount) {
            start = lane.next();
            std::tie(samples, count) = lane.stretch(samples, count, double(timed - lane.next()), m_stretchBuffer);
        } else {
            byTime = true;
            start = timed;
            lane.restartStretch();
            if (lane.hasAudio() && !lane.quietAfterAudio())
                qCInfo(KavrelDiagnostics::audio()).noquote()
                    << QString::asprintf("mixer realigned lane=%s by=%ld", laneName, long(timed - lane.next()));
        }
    }
    // Audio for a time the stream has gone out for. When the stream went on without the source
    // while it was waited for (it was held up past what the other's lane holds), and always for
    // the computer's audio (never dropped for what the microphone's times do: a microphone that
    // hands over what it buffered before capture began may go out alone ahead of it), the source is
    // realigned: its audio goes on from where the stream is, and so does the rest of it, rather
    // than being dropped for as long as it comes that late. When the source was not waited for
    // (a microphone that delivered nothing for the wait, or a source that had not begun), the
    // late part is dropped, so the rest lands in its place, and the loss is told once it ends;
    // a source taken up again a moment after the stream went on just starts with the stream.
    const qint64 late = std::max<qint64>(floor - start, 0);
    const bool keptWhole = lane.wentOnWithout() || (&lane == &m_systemSamples && (!byTime || late > realignSampleCount));
    if (late > 0 && keptWhole) {
        lane.shiftBy(late);
        start = floor;
        qCInfo(KavrelDiagnostics::audio()).noquote()
            << QString::asprintf("mixer realigned late lane=%s by=%ld", laneName, long(late));
    } else if (late > 0 && byTime && late <= realignSampleCount) {
        start = floor;
    } else if (late > 0) {
        const qsizetype dropped = qsizetype(std::min<qint64>(late, count));
        lane.lostSamples() += dropped;
        samples += dropped;
        count -= dropped;
        start += dropped;
    }
    if (count > 0)
        tellLoss(lane, laneName);
    lane.setWentOnWithout(false);
    lane.place(start, samples, count);
    makeRoomIn(lane, laneName);
    enqueueAvailableChunks(false);
    startOutputLoopIfNeeded();
    checkDiagnostics();
    updateInbox();
}

// A lane holds what waits for the other source. Past its limit the stream goes on with what
// the lane holds, the other source silent where it has not delivered yet; what it delivers for
// those places later is realigned rather than dropped.
void MixedAudioStreamMixer::makeRoomIn(Lane &lane, const char *laneName)
{
    if (lane.size() <= laneSampleLimit)
        return;
    const qint64 keptFrom = lane.placeAfterOldest(lane.size() - laneSampleLimit);
    const qint64 from = m_emitted;
    while (m_emitted < keptFrom)
        emitChunk(chunkSampleCount);
    Lane &other = &lane == &m_systemSamples ? m_microphoneSamples : m_systemSamples;
    if (other.started() && other.heardUntil() < m_emitted)
        other.setWentOnWithout(true);
    qCInfo(KavrelDiagnostics::audio()).noquote()
        << QString::asprintf("mixer went on without waiting lane=%s samples=%ld", laneName, long(m_emitted - from));
}

void MixedAudioStreamMixer::tellLoss(Lane &lane, const char *laneName)
{
    if (lane.lostSamples() == 0)
        return;
    qCWarning(KavrelDiagnostics::audio()).noquote()
        << QString::asprintf("mixer dropped late samples lane=%s samples=%ld", laneName, long(lane.lostSamples()));
    lane.lostSamples() = 0;
}

// The sources deliver in fragments of their own, at their own moments: the timeline is settled
// only as far as each has delivered, or padding one with silence it lacks only for a moment
// would stretch the stream past real time. A microphone that lags by more than the wait and has
// delivered nothing while the computer's audio brought that much has stopped and holds nothing
// back; one that keeps delivering holds the other back however far it lags (the other's lane
// holds the wait: makeRoomIn()). The computer's audio is always waited for: its capture hands
// over audio, silence included, for as long as the audio server runs, so a lane of it that
// delivers nothing is held up, never gone for good while the microphone goes on.
// A source heard quiet counts as delivered that far, but never settles time beyond the audio
// that came: quiet alone does not push the stream ahead of a source that is merely behind.
qint64 MixedAudioStreamMixer::settledEnd(LaneState system, LaneState microphone, qint64 emitted)
{
    if (!system.counted && !microphone.counted)
        return emitted;
    qint64 lead = std::numeric_limits<qint64>::min();
    for (const LaneState &lane : {system, microphone}) {
        if (lane.counted)
            lead = std::max(lead, lane.next);
    }
    qint64 settled = lead;
    if (system.counted)
        settled = std::min(settled, system.heard);
    const bool microphoneWaited = microphone.heard >= lead - laneWaitSampleCount || microphone.otherSinceLast < laneWaitSampleCount;
    if (microphone.counted && microphoneWaited)
        settled = std::min(settled, microphone.heard);
    return std::max(settled, emitted);
}

qint64 MixedAudioStreamMixer::settledEnd() const
{
    return settledEnd(stateOf(m_systemSamples, true), stateOf(m_microphoneSamples, m_microphoneEnabled), m_emitted);
}

void MixedAudioStreamMixer::enqueueAvailableChunks(bool force)
{
    for (;;) {
        const bool microphone = m_microphoneEnabled && m_microphoneSamples.size() > 0;
        if (m_systemSamples.size() == 0 && !microphone)
            return;
        qsizetype count = chunkSampleCount;
        if (force) {
            qint64 end = m_systemSamples.size() > 0 ? m_systemSamples.endPlace() : m_emitted;
            if (microphone)
                end = std::max(end, m_microphoneSamples.endPlace());
            count = qsizetype(std::min<qint64>(end - m_emitted, chunkSampleCount));
        } else {
            const qint64 settled = settledEnd();
            if (settled - m_emitted < chunkSampleCount)
                return;
        }
        emitChunk(count);
    }
}

void MixedAudioStreamMixer::emitChunk(qsizetype sampleCount)
{
    mixChunk(sampleCount);
    ++m_producedChunkCount;
    // A consumer that keeps up takes each chunk at once, however many come together (the
    // silence of a stretch no source had audio for).
    startOutputLoopIfNeeded();
    if (qsizetype(m_pendingOutputChunks.size()) > pendingChunkLimit) {
        const qsizetype removed = qsizetype(m_pendingOutputChunks.size()) - pendingChunkLimit;
        m_pendingOutputChunks.erase(m_pendingOutputChunks.begin(), m_pendingOutputChunks.begin() + removed);
        qCWarning(KavrelDiagnostics::audio()).noquote()
            << QString::asprintf("mixer dropped stale output chunks count=%ld pending=%ld", long(removed),
                                 long(m_pendingOutputChunks.size()));
    }
}

// Where a source has no audio it is silence.
void MixedAudioStreamMixer::mixChunk(qsizetype sampleCount)
{
    QByteArray chunk(sampleCount * 2, Qt::Uninitialized);
    auto *output = reinterpret_cast<qint16 *>(chunk.data());
    // Clamped to whole bounds first, a value truncates as the conversion does.
    const auto toSample = [](double value) { return qint16(qint32(std::clamp(value, -32768.0, 32767.0))); };
    const qint16 *systemOnly = m_systemSamples.samplesAt(m_emitted, sampleCount);
    const qint16 *microphone = m_microphoneEnabled ? m_microphoneSamples.samplesAt(m_emitted, sampleCount) : nullptr;
    if (systemOnly && (!m_microphoneEnabled || m_microphoneSamples.size() == 0)) {
        // The computer's audio alone, as most of the time: one pass.
        for (qsizetype i = 0; i < sampleCount; ++i)
            output[i] = toSample(double(systemOnly[i]) * systemGain);
    } else if (systemOnly && microphone) {
        // Both sound throughout, as in a call: one pass too.
        for (qsizetype i = 0; i < sampleCount; ++i)
            output[i] = toSample(double(systemOnly[i]) * systemGain + double(microphone[i]) * microphoneGain);
    } else {
        m_mixBuffer.assign(std::size_t(sampleCount), 0.0);
        m_systemSamples.mixInto(m_mixBuffer.data(), m_emitted, sampleCount, systemGain);
        if (m_microphoneEnabled)
            m_microphoneSamples.mixInto(m_mixBuffer.data(), m_emitted, sampleCount, microphoneGain);
        for (qsizetype i = 0; i < sampleCount; ++i)
            output[i] = toSample(m_mixBuffer[std::size_t(i)]);
    }
    m_emitted += sampleCount;
    m_systemSamples.removeBefore(m_emitted);
    m_microphoneSamples.removeBefore(m_emitted);
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
    tellLoss(m_systemSamples, "system");
    tellLoss(m_microphoneSamples, "microphone");
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
