#include "audio/LocalAudioRecordingService.h"

#include "audio/M4AAudioFileWriter.h"
#include "audio/SystemAudioCaptureError.h"
#include "base/KavrelDiagnostics.h"
#include "base/TaskOutcome.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

#include <qcoro/qcorofuture.h>

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

// One recording. writer, recordingError and keptFile are touched only on the worker,
// backlogError, batch, silentSamples and stopReported only on the main thread; the atomics by
// both.
struct LocalAudioRecordingService::Session
{
    std::unique_ptr<M4AAudioFileWriter> writer;
    std::exception_ptr recordingError;
    // Where the part written before the failure was kept.
    std::optional<QString> keptFile;
    bool stopReported = false;
    // Bytes queued for the worker (or gathered for it) and not yet taken up by it.
    std::atomic<qint64> queuedBytes = 0;
    // Given up on the main thread: the worker writes nothing more of it.
    std::atomic<bool> abandoned = false;
    std::exception_ptr backlogError;
    // Chunks gathered until there is enough to wake the worker for, or silence gathered as its
    // length: one of the two is empty, as each is handed over before the other is gathered.
    QByteArray batch;
    qint64 silentSamples = 0;
    // Silence handed to the worker and not yet taken up: more silence waits for it (a long
    // stretch handed over at once becomes one piece of work, not thousands).
    std::atomic<bool> silenceWaiting = false;
};

namespace {

// Nothing but zero samples (an odd last byte aside, which is never written).
bool isSilent(const QByteArray &chunk)
{
    static constexpr char zeros[1024] = {};
    const qsizetype bytes = chunk.size() / 2 * 2;
    for (qsizetype at = 0; at < bytes; at += qsizetype(sizeof zeros)) {
        const auto count = std::size_t(std::min<qsizetype>(bytes - at, qsizetype(sizeof zeros)));
        if (std::memcmp(chunk.constData() + at, zeros, count) != 0)
            return false;
    }
    return true;
}

struct FinishResult
{
    std::exception_ptr error;
    std::optional<QString> path;
};

// The recording's failure, naming the file that kept the part written before it.
std::exception_ptr keptError(const std::exception_ptr &failure, const std::optional<QString> &keptFile)
{
    const std::optional<SystemAudioCaptureError> error = errorAs<SystemAudioCaptureError>(failure);
    if (!keptFile || !error)
        return failure;
    return std::make_exception_ptr(error->withKeptFile(*keptFile));
}

} // namespace

LocalAudioRecordingService::LocalAudioRecordingService(QObject *parent)
    : LocalAudioRecordingService([] { return QDateTime::currentDateTime(); }, parent)
{
}

LocalAudioRecordingService::LocalAudioRecordingService(Clock clock, QObject *parent)
    : QObject(parent)
    , m_clock(std::move(clock))
    , m_queue(QStringLiteral("КАВРЕЛ.LocalAudioRecording"))
{
    setMaximumQueuedAudio(defaultMaximumQueuedAudio);
}

void LocalAudioRecordingService::setMaximumQueuedAudio(std::chrono::milliseconds duration)
{
    // The recorded format: 16 kHz mono, 2 bytes a sample.
    m_maximumQueuedBytes = qint64(duration.count()) * 16000 * 2 / 1000;
}

LocalAudioRecordingService::~LocalAudioRecordingService()
{
    if (m_session)
        queueGathered(m_session);
    // Whatever is queued is written first (audio, and the finish or cancel of a recording
    // someone still awaits); then the file is completed. The queue would drop those jobs.
    std::shared_ptr<Session> session = std::move(m_session);
    m_queue.sync([session] {
        if (session)
            session->writer.reset();
    });
}

QString LocalAudioRecordingService::recordingsFolder()
{
    QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (downloads.isEmpty())
        downloads = QDir::homePath();
    return QDir(downloads).filePath(QStringLiteral("КАВРЕЛ"));
}

QString LocalAudioRecordingService::fileName(const QDateTime &startedAt)
{
    return QStringLiteral("CapturedAudio-") + QLocale::c().toString(startedAt.toLocalTime(), QStringLiteral("yyyy-MM-dd_HH-mm-ss"))
        + QStringLiteral(".m4a");
}

void LocalAudioRecordingService::startRecording(bool isEnabled)
{
    if (std::shared_ptr<Session> previous = std::move(m_session)) {
        queueGathered(previous);
        m_queue.async([previous] { previous->writer.reset(); });
    }
    m_session.reset();
    if (!isEnabled)
        return;

    const QString folder = recordingsFolder();
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(folder).toStdString()), error);
    if (error) {
        throw SystemAudioCaptureError::failedToPrepareOutputDirectory(QString::fromLocal8Bit(error.message().c_str()));
    }
    auto session = std::make_shared<Session>();
    session->writer = std::make_unique<M4AAudioFileWriter>(QDir(folder).filePath(fileName(m_clock())));
    m_session = std::move(session);
}

QCoro::Task<void> LocalAudioRecordingService::appendMixedAudio(QByteArray chunk)
{
    std::shared_ptr<Session> session = m_session;
    if (!session || chunk.isEmpty() || session->backlogError)
        co_return;
    if (isSilent(chunk)) {
        queueBatch(session);
        session->silentSamples += chunk.size() / 2;
        if (session->silentSamples * 2 >= batchBytes && !session->silenceWaiting)
            queueSilence(session);
        co_return;
    }
    queueSilence(session);
    const qint64 bytes = chunk.size();
    if (session->queuedBytes.load() + bytes > m_maximumQueuedBytes) {
        session->backlogError = std::make_exception_ptr(SystemAudioCaptureError::failedToWriteAudioFile(AVERROR(ETIMEDOUT)));
        session->abandoned = true;
        session->batch.clear();
        qCWarning(KavrelDiagnostics::audio()).noquote()
            << "recording stopped: the disk did not keep up, queued bytes:" << session->queuedBytes.load();
        // What was written stays, made whole whenever the disk answers again.
        m_queue.async([session] { keepWrittenPart(*session); });
        reportStopped(session, session->backlogError);
        co_return;
    }
    session->queuedBytes += bytes;
    session->batch.append(chunk);
    if (session->batch.size() >= batchBytes)
        queueBatch(session);
    co_return;
}

void LocalAudioRecordingService::queueBatch(const std::shared_ptr<Session> &session)
{
    if (session->batch.isEmpty())
        return;
    m_queue.async([this, session, chunk = std::exchange(session->batch, QByteArray())] {
        session->queuedBytes -= chunk.size();
        write(session, [&chunk](M4AAudioFileWriter &writer) { writer.append(chunk); });
    });
}

void LocalAudioRecordingService::queueSilence(const std::shared_ptr<Session> &session)
{
    if (session->silentSamples == 0)
        return;
    session->silenceWaiting = true;
    m_queue.async([this, session, samples = std::exchange(session->silentSamples, 0)] {
        session->silenceWaiting = false;
        for (qint64 left = samples; left > 0 && !session->abandoned; left -= silenceStepSamples)
            write(session, [left](M4AAudioFileWriter &writer) { writer.appendSilence(std::min(left, silenceStepSamples)); });
    });
}

void LocalAudioRecordingService::queueGathered(const std::shared_ptr<Session> &session)
{
    queueBatch(session);
    queueSilence(session);
}

void LocalAudioRecordingService::write(const std::shared_ptr<Session> &session,
                                       const std::function<void(M4AAudioFileWriter &)> &piece)
{
    if (session->abandoned || !session->writer || session->recordingError)
        return;
    try {
        piece(*session->writer);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        session->recordingError = failure;
        qCWarning(KavrelDiagnostics::audio()).noquote() << "recording stopped:" << errorMessage(failure);
        keepWrittenPart(*session);
        // A call queued to this object is dropped with it.
        QMetaObject::invokeMethod(this, [this, session, failure] { reportStopped(session, failure); },
                                  Qt::QueuedConnection);
    }
}

// On the worker, after a failure: the file keeps what was wholly written.
void LocalAudioRecordingService::keepWrittenPart(Session &session)
{
    if (!session.writer)
        return;
    const QString path = session.writer->outputPath();
    if (session.writer->keepWrittenPart())
        session.keptFile = path;
    session.writer.reset();
}

void LocalAudioRecordingService::reportStopped(const std::shared_ptr<Session> &session, const std::exception_ptr &failure)
{
    if (session != m_session || session->stopReported)
        return;
    session->stopReported = true;
    const std::optional<SystemAudioCaptureError> error = errorAs<SystemAudioCaptureError>(failure);
    Q_EMIT recordingStopped(error ? error->reason() : errorMessage(failure));
}

QCoro::Task<std::optional<QUrl>> LocalAudioRecordingService::finishRecording()
{
    std::shared_ptr<Session> session = std::move(m_session);
    m_session.reset();
    if (!session)
        co_return std::nullopt;
    // The worker may be stuck on the disk: say so now rather than wait for it.
    if (session->backlogError)
        std::rethrow_exception(session->backlogError);
    queueGathered(session);
    QFuture<FinishResult> future = m_queue.run([session] {
        FinishResult result;
        if (session->recordingError) {
            result.error = keptError(session->recordingError, session->keptFile);
            return result;
        }
        if (!session->writer)
            return result;
        const bool wroteAudio = session->writer->hasFile();
        const QString path = session->writer->outputPath();
        try {
            session->writer->close();
            if (wroteAudio)
                result.path = path;
        } catch (...) {
            // The writer kept what it could.
            result.error = keptError(std::current_exception(), QFile::exists(path) ? std::optional<QString>(path) : std::nullopt);
        }
        session->writer.reset();
        return result;
    });
    const FinishResult result = co_await future;
    if (result.error)
        std::rethrow_exception(result.error);
    if (!result.path)
        co_return std::nullopt;
    co_return QUrl::fromLocalFile(*result.path);
}

qint64 LocalAudioRecordingService::queuedBytes() const
{
    return m_session ? m_session->queuedBytes.load() : 0;
}

QCoro::Task<void> LocalAudioRecordingService::cancel()
{
    std::shared_ptr<Session> session = std::move(m_session);
    m_session.reset();
    if (!session)
        co_return;
    // What is queued for it is not written any more (a long silence among it).
    session->abandoned = true;
    QFuture<void> future = m_queue.run([session] {
        if (session->writer)
            session->writer->discard();
        session->writer.reset();
        if (session->keptFile)
            QFile::remove(*session->keptFile);
    });
    // Already given up on a disk that does not answer: its file goes whenever it does.
    if (session->backlogError)
        co_return;
    co_await future;
}
