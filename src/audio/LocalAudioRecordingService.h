#pragma once

#include "base/SerialQueue.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class M4AAudioFileWriter;

// Keeps the mixed audio of a listening session as an M4A file in the user's Downloads folder,
// under "КАВРЕЛ", named after the local time the recording started.
//
// A main-thread object. Encoding and disk writes run on a worker thread of their own, in the
// order the chunks were appended, so a slow disk never holds up the main thread or the live
// stream. The first write failure (a full disk) ends the recording: the file keeps what was
// wholly written and plays up to there (a file that holds no audio yet is deleted), later
// chunks are ignored, recordingStopped() tells at once, and finishRecording() reports the
// failure with where the file is.
//
// A disk that stops answering (a hung network share, a sleeping USB drive) must not let the
// queued audio grow without end: once more than maximumQueuedAudio waits for the worker, the
// recording fails the same way, and finishRecording() reports it without waiting for the
// disk (what was written is kept whenever the disk answers again). Appending never fails nor
// waits, so the live transcript goes on.
//
// Silence (a chunk of nothing but zero samples) waits as its length, not as bytes, and does not
// count towards that bound: a stretch without audio of any length (a process that stood still
// for an hour, then handed the mixer that hour at once) is recorded whole, and waits for the
// worker as no more than a count of samples; the worker encodes it far faster than real time.
class LocalAudioRecordingService final : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    static constexpr std::chrono::milliseconds defaultMaximumQueuedAudio{60000};
    // Chunks go to the worker a quarter of a second at a time (16 kHz mono, 2 bytes a sample):
    // one wake-up of it for about four chunks rather than one for each.
    static constexpr qsizetype batchBytes = 16000 * 2 / 4;
    // Silence is encoded this much at a time (16 kHz samples), so a recording given up meanwhile
    // is let go of soon.
    static constexpr qint64 silenceStepSamples = 16000 * 10;

    explicit LocalAudioRecordingService(QObject *parent = nullptr);
    // The clock names the files (tests pass a fixed one).
    explicit LocalAudioRecordingService(Clock clock, QObject *parent = nullptr);
    ~LocalAudioRecordingService() override;

    // How much audio may wait for the disk before the recording is given up. A benchmark that
    // feeds audio faster than real time raises it above what it feeds.
    void setMaximumQueuedAudio(std::chrono::milliseconds duration);

    // Closes any previous recording (its file stays) and, when enabled, arms a new one. The
    // file itself is made with the first audio. Throws failedToPrepareOutputDirectory.
    void startRecording(bool isEnabled);

    // Queues one mixed chunk for the recording; does nothing without one or after a failure.
    QCoro::Task<void> appendMixedAudio(QByteArray chunk);

    // Completes the recording and returns its file, or nothing when recording was off or no
    // audio was written. Throws the recording's write failure.
    QCoro::Task<std::optional<QUrl>> finishRecording();

    // Abandons the recording and deletes its file.
    QCoro::Task<void> cancel();


    // Audio bytes queued for the worker and not yet taken up by it (silence, queued as its
    // length, holds none): a source faster than real time (a replay, a long test) keeps this
    // low rather than run into the backlog limit.
    qint64 queuedBytes() const;

    // Downloads/КАВРЕЛ (the home folder stands in for a missing Downloads folder).
    static QString recordingsFolder();
    static QString fileName(const QDateTime &startedAt);

Q_SIGNALS:
    // The current recording stopped at a failure: `reason` says why, in words where the system
    // gives one (SystemAudioCaptureError::reason()). Once per recording, before its finish.
    void recordingStopped(const QString &reason);

private:
    struct Session;

    // Hands the gathered chunks of the session to the worker, or the gathered silence.
    void queueBatch(const std::shared_ptr<Session> &session);
    void queueSilence(const std::shared_ptr<Session> &session);
    void queueGathered(const std::shared_ptr<Session> &session);
    // On the worker: one piece of the recording written, or the recording ended at its failure.
    void write(const std::shared_ptr<Session> &session, const std::function<void(M4AAudioFileWriter &)> &piece);
    static void keepWrittenPart(Session &session);
    // On the main thread: tells of the session's failure while it is the current recording.
    void reportStopped(const std::shared_ptr<Session> &session, const std::exception_ptr &failure);

    Clock m_clock;
    qint64 m_maximumQueuedBytes = 0;
    std::shared_ptr<Session> m_session;
    SerialQueue m_queue;
};
