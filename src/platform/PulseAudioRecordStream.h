#pragma once

#include "platform/PulseAudioContext.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>

// One record stream on a source of the shared connection.
//
// Its callbacks run on the main-loop thread with the main-loop lock held: they must only
// copy what they are given and hand it on, never block and never call back into libpulse
// through another lock.
class PulseAudioRecordStream final
{
public:
    using Clock = std::chrono::steady_clock;
    // A fragment of the length asked for, gathered from what the server delivered; one before
    // a hole, and the last one, handed on when the stream is disconnected, may be shorter.
    // data is null for a hole (lost audio) of the given size. capturedAt is when the fragment's
    // last frame was captured, as near as the reads tell (AudioArrivalClock): a main-loop thread
    // that was held up hands several fragments on at once, each with its own time, and after a
    // long hold the server's backlog follows on from the audio before it.
    using DataCallback = std::function<void(const void *data, std::size_t bytes, Clock::time_point capturedAt)>;
    // The stream stopped after it had started (source removed, server gone). Carries the
    // server's error number.
    using FailureCallback = std::function<void(int error)>;

    enum class Step { createStream, connectStream, startStream };

    struct ConnectResult
    {
        int error = 0; // 0 when the stream records
        Step failedStep = Step::createStream;
    };

    // The format the stream delivers. format is a pa_sample_format_t; channelMap may be
    // empty (the server's default order).
    struct Format
    {
        int sampleFormat = 0;
        quint32 rate = 0;
        quint8 channels = 0;
        std::vector<int> channelMap;
    };

    PulseAudioRecordStream(std::shared_ptr<PulseAudioContext> context, QString streamName);
    ~PulseAudioRecordStream();

    PulseAudioRecordStream(const PulseAudioRecordStream &) = delete;
    PulseAudioRecordStream &operator=(const PulseAudioRecordStream &) = delete;

    // Records from the named source in the given format, with fragments of about the given
    // duration. The stream never moves to another source by itself. Returns once the
    // stream records or has failed.
    QCoro::Task<ConnectResult> connect(QString sourceName, Format format, std::chrono::milliseconds fragment,
                                       DataCallback onData, FailureCallback onFailure);

    // Stops and releases the stream, handing on what the server had already sent (on the
    // caller's thread). When it returns no callback runs any more. Safe to call more than
    // once and from any thread except the main-loop thread.
    // Returns the server's error number when the server refused the disconnection.
    int disconnect();

    bool isConnected() const;

private:
    struct Shared;

    static int release(PulseAudioContext &context, Shared &shared);

    std::shared_ptr<PulseAudioContext> m_context;
    QString m_streamName;
    std::shared_ptr<Shared> m_shared;
};
