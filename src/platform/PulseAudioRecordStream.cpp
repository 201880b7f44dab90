#include "platform/PulseAudioRecordStream.h"

#include "platform/AudioArrivalClock.h"

#include <QByteArray>
#include <QFuture>
#include <QPromise>

#include <qcoro/qcorofuture.h>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <optional>
#include <utility>

// State shared with the main-loop thread's callbacks. Only touched under the main-loop
// lock.
struct PulseAudioRecordStream::Shared
{
    // Outlives the stream, which holds it.
    const PulseAudioContext *context = nullptr;
    pa_stream *stream = nullptr;
    DataCallback onData;
    FailureCallback onFailure;
    std::shared_ptr<QPromise<ConnectResult>> connectPromise;
    bool recording = false;
    // Audio read from the server that does not yet make a whole fragment.
    std::size_t fragmentBytes = 0;
    QByteArray gathered;
    AudioArrivalClock arrivalClock;

    void finishConnect(ConnectResult result)
    {
        if (!connectPromise)
            return;
        connectPromise->addResult(result);
        connectPromise->finish();
        connectPromise.reset();
    }

    static void stateCallback(pa_stream *stream, void *userdata)
    {
        auto *shared = static_cast<Shared *>(userdata);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            shared->recording = true;
            shared->finishConnect(ConnectResult{0, Step::startStream});
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED: {
            const int error = pa_context_errno(pa_stream_get_context(stream));
            if (shared->connectPromise) {
                shared->finishConnect(ConnectResult{error ? error : PA_ERR_UNKNOWN, Step::startStream});
            } else if (shared->recording) {
                shared->recording = false;
                if (shared->onFailure)
                    shared->onFailure(error ? error : PA_ERR_KILLED);
            }
            break;
        }
        default:
            break;
        }
    }

    // The server sends a record stream what its source produced, in pieces of the source's
    // own period, which may be much shorter than the fragment asked for (a monitor follows
    // its sink, which a call application keeps at 10 or 20 ms). The pieces are gathered and
    // handed on a fragment at a time, so the owner is woken as often as the fragment says.
    static void readCallback(pa_stream *stream, std::size_t, void *userdata)
    {
        auto *shared = static_cast<Shared *>(userdata);
        // (At a release the stopping thread reads: its own busy time says nothing of the reader's.)
        const std::optional<AudioArrivalClock::Clock::duration> busy =
            shared->context->isMainLoopThread() ? AudioArrivalClock::threadBusyTime() : std::nullopt;
        shared->arrivalClock.startRead(shared->context->arrivalTime(), shared->gathered.size() + pa_stream_readable_size(stream), busy);
        while (pa_stream_readable_size(stream) > 0) {
            const void *data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return;
            if (data) {
                shared->gather(static_cast<const char *>(data), bytes);
            } else {
                // A hole goes on in its place, after what came before it.
                shared->handOnGathered();
                if (shared->onData)
                    shared->onData(nullptr, bytes, shared->arrivalClock.handOn(bytes));
            }
            pa_stream_drop(stream);
        }
    }

    void gather(const char *data, std::size_t bytes)
    {
        if (fragmentBytes == 0) {
            if (onData)
                onData(data, bytes, arrivalClock.handOn(bytes));
            return;
        }
        gathered.append(data, qsizetype(bytes));
        const auto whole = std::size_t(gathered.size()) / fragmentBytes * fragmentBytes;
        for (std::size_t offset = 0; offset < whole; offset += fragmentBytes) {
            if (onData)
                onData(gathered.constData() + offset, fragmentBytes, arrivalClock.handOn(fragmentBytes));
        }
        gathered.remove(0, qsizetype(whole));
    }

    // The source was suspended, or taken up again: it made no audio meanwhile. What came before
    // goes on with its own time; what comes after starts afresh.
    static void suspendedCallback(pa_stream *, void *userdata)
    {
        auto *shared = static_cast<Shared *>(userdata);
        shared->handOnGathered();
        shared->arrivalClock.deviceGap();
    }

    // Hands on what was gathered, a whole fragment or not, with the time of the read that brought
    // its last piece: at a release that may be long after it came (the server went away).
    void handOnGathered()
    {
        if (!gathered.isEmpty() && onData)
            onData(gathered.constData(), std::size_t(gathered.size()), arrivalClock.handOn(std::size_t(gathered.size())));
        gathered.clear();
    }
};

PulseAudioRecordStream::PulseAudioRecordStream(std::shared_ptr<PulseAudioContext> context, QString streamName)
    : m_context(std::move(context))
    , m_streamName(std::move(streamName))
    , m_shared(std::make_shared<Shared>())
{
    m_shared->context = m_context.get();
}

PulseAudioRecordStream::~PulseAudioRecordStream()
{
    disconnect();
}

QCoro::Task<PulseAudioRecordStream::ConnectResult> PulseAudioRecordStream::connect(
    QString sourceName, Format format, std::chrono::milliseconds fragment, DataCallback onData,
    FailureCallback onFailure)
{
    auto promise = std::make_shared<QPromise<ConnectResult>>();
    promise->start();
    QFuture<ConnectResult> future = promise->future();
    {
        PulseAudioContext::Lock lock(*m_context);
        std::shared_ptr<Shared> shared = m_shared;
        pa_context *context = m_context->paContext();
        if (shared->stream || !context || pa_context_get_state(context) != PA_CONTEXT_READY) {
            promise->addResult(ConnectResult{shared->stream ? PA_ERR_EXIST : PA_ERR_CONNECTIONTERMINATED,
                                             Step::createStream});
            promise->finish();
        } else {
            pa_sample_spec sampleSpec;
            sampleSpec.format = pa_sample_format_t(format.sampleFormat);
            sampleSpec.rate = format.rate;
            sampleSpec.channels = format.channels;
            pa_channel_map map;
            pa_channel_map *mapPointer = nullptr;
            if (!format.channelMap.empty() && format.channelMap.size() == format.channels) {
                pa_channel_map_init(&map);
                map.channels = format.channels;
                for (std::size_t i = 0; i < format.channelMap.size(); ++i)
                    map.map[i] = pa_channel_position_t(format.channelMap[i]);
                if (pa_channel_map_valid(&map))
                    mapPointer = &map;
            }
            pa_stream *stream = pa_sample_spec_valid(&sampleSpec)
                ? pa_stream_new(context, m_streamName.toUtf8().constData(), &sampleSpec, mapPointer)
                : nullptr;
            if (!stream) {
                const int error = pa_sample_spec_valid(&sampleSpec) ? pa_context_errno(context) : PA_ERR_INVALID;
                promise->addResult(ConnectResult{error ? error : PA_ERR_INVALID, Step::createStream});
                promise->finish();
            } else {
                shared->stream = stream;
                shared->onData = std::move(onData);
                shared->onFailure = std::move(onFailure);
                shared->connectPromise = promise;
                shared->recording = false;
                shared->gathered.clear();
                pa_stream_set_state_callback(stream, &Shared::stateCallback, shared.get());
                pa_stream_set_read_callback(stream, &Shared::readCallback, shared.get());
                pa_stream_set_suspended_callback(stream, &Shared::suspendedCallback, shared.get());

                pa_buffer_attr attributes;
                attributes.maxlength = std::uint32_t(-1);
                attributes.tlength = std::uint32_t(-1);
                attributes.prebuf = std::uint32_t(-1);
                attributes.minreq = std::uint32_t(-1);
                // The server runs the source (for a monitor, its sink) at half the latency
                // asked for and hands over what each period produced: asking for two fragments
                // makes its pieces whole fragments rather than halves.
                shared->fragmentBytes = pa_usec_to_bytes(pa_usec_t(fragment.count()) * 1000, &sampleSpec);
                shared->arrivalClock.reset(pa_bytes_per_second(&sampleSpec));
                attributes.fragsize = std::uint32_t(2 * shared->fragmentBytes);
                const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
                if (pa_stream_connect_record(stream, sourceName.toUtf8().constData(), &attributes, flags) < 0) {
                    const int error = pa_context_errno(context);
                    shared->finishConnect(ConnectResult{error ? error : PA_ERR_UNKNOWN, Step::connectStream});
                }
            }
        }
    }
    // The stream object may be gone when the answer comes; only shared state is touched after
    // the await.
    std::shared_ptr<PulseAudioContext> context = m_context;
    std::shared_ptr<Shared> shared = m_shared;
    const ConnectResult result = co_await future;
    if (result.error != 0)
        release(*context, *shared);
    co_return result;
}

int PulseAudioRecordStream::disconnect()
{
    return release(*m_context, *m_shared);
}

int PulseAudioRecordStream::release(PulseAudioContext &context, Shared &shared)
{
    PulseAudioContext::Lock lock(context);
    int error = 0;
    if (shared.stream) {
        // What the server already sent is handed on: the end of a recording is not cut short.
        if (pa_stream_get_state(shared.stream) == PA_STREAM_READY)
            Shared::readCallback(shared.stream, 0, &shared);
        shared.handOnGathered();
        pa_stream_set_read_callback(shared.stream, nullptr, nullptr);
        pa_stream_set_suspended_callback(shared.stream, nullptr, nullptr);
        pa_stream_set_state_callback(shared.stream, nullptr, nullptr);
        const pa_stream_state_t state = pa_stream_get_state(shared.stream);
        if (state == PA_STREAM_READY || state == PA_STREAM_CREATING) {
            if (pa_stream_disconnect(shared.stream) < 0)
                error = pa_context_errno(pa_stream_get_context(shared.stream));
        }
        pa_stream_unref(shared.stream);
        shared.stream = nullptr;
    }
    shared.recording = false;
    shared.finishConnect(ConnectResult{PA_ERR_KILLED, Step::startStream});
    shared.onData = nullptr;
    shared.onFailure = nullptr;
    shared.gathered.clear();
    return error;
}

bool PulseAudioRecordStream::isConnected() const
{
    PulseAudioContext::Lock lock(*m_context);
    return m_shared->stream != nullptr;
}
