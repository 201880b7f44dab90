#pragma once

#include "platform/PulseAudioRecordStream.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

// The record stream a capture service reads from at the moment. It keeps one stream at a
// time and tells the owner, on the owner's thread, when the audio server ends it; reports
// about a stream that has been replaced or closed meanwhile are dropped.
//
// Main thread only, apart from the failure callback, which the stream calls on the server's
// thread.
class CaptureStream final
{
public:
    using StoppedHandler = std::function<void(int error)>;

    // How much audio the server gathers before it hands a fragment over. Every fragment wakes
    // the server's thread, the capture worker and the main thread once; at 10 ms that was a
    // hundred wake-ups a second each, per stream. 40 ms wakes them a quarter as often and adds
    // at most that much to the way from capture to the speech socket, well inside its 100 ms.
    static constexpr std::chrono::milliseconds fragmentDuration{40};

    // `owner` is the capture service that holds this object; `stopped` runs on its thread.
    CaptureStream(QObject *owner, StoppedHandler stopped);
    ~CaptureStream();

    CaptureStream(const CaptureStream &) = delete;
    CaptureStream &operator=(const CaptureStream &) = delete;

    // Closes the current stream, then sets up a new one under this name, not yet connected.
    PulseAudioRecordStream *replace(std::shared_ptr<PulseAudioContext> context, const QString &name);
    // The failure callback to connect the stream that replace() returned with.
    PulseAudioRecordStream::FailureCallback failureCallback() const;
    // Forgets the stream when it is still the current one (its connection failed).
    void discard(const PulseAudioRecordStream *stream);
    // Disconnects and forgets the current stream. Returns the server's error number when it
    // refused the disconnection, else 0.
    int close();

private:
    QPointer<QObject> m_owner;
    StoppedHandler m_stopped;
    std::unique_ptr<PulseAudioRecordStream> m_stream;
    // Counts the streams set up, so that a report can be matched with its stream.
    quint64 m_serial = 0;
};
