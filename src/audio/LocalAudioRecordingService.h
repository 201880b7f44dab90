#pragma once

#include "base/SerialQueue.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

// Keeps the mixed audio of a listening session as an M4A file in the user's Downloads folder,
// under "КАВРЕЛ", named after the local time the recording started.
//
// A main-thread object. Encoding and disk writes run on a worker thread of their own, in the
// order the chunks were appended, so a slow disk never holds up the main thread or the live
// stream. The first write failure ends the recording: its partial file is deleted, later
// chunks are ignored and finishRecording() reports the failure.
class LocalAudioRecordingService final : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    explicit LocalAudioRecordingService(QObject *parent = nullptr);
    // The clock names the files (tests pass a fixed one).
    explicit LocalAudioRecordingService(Clock clock, QObject *parent = nullptr);
    ~LocalAudioRecordingService() override;

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

    // Downloads/КАВРЕЛ (the home folder stands in for a missing Downloads folder).
    static QString recordingsFolder();
    static QString fileName(const QDateTime &startedAt);

private:
    struct Session;

    Clock m_clock;
    std::shared_ptr<Session> m_session;
    SerialQueue m_queue;
};
