#include "audio/LocalAudioRecordingService.h"

#include "app/KavrelDiagnostics.h"
#include "audio/M4AAudioFileWriter.h"
#include "audio/SystemAudioCaptureError.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

#include <qcoro/qcorofuture.h>

#include <filesystem>
#include <system_error>

// One recording, as the worker sees it. Touched only on the worker.
struct LocalAudioRecordingService::Session
{
    std::unique_ptr<M4AAudioFileWriter> writer;
    std::exception_ptr recordingError;
};

namespace {

struct FinishResult
{
    std::exception_ptr error;
    std::optional<QString> path;
};

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
}

LocalAudioRecordingService::~LocalAudioRecordingService()
{
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
    if (std::shared_ptr<Session> previous = std::move(m_session))
        m_queue.async([previous] { previous->writer.reset(); });
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
    if (!session || chunk.isEmpty())
        co_return;
    m_queue.async([session, chunk = std::move(chunk)] {
        if (!session->writer || session->recordingError)
            return;
        try {
            session->writer->append(chunk);
        } catch (...) {
            session->recordingError = std::current_exception();
            qCWarning(KavrelDiagnostics::audio()).noquote()
                << "recording stopped:" << errorMessage(session->recordingError);
            session->writer->discard();
            session->writer.reset();
        }
    });
    co_return;
}

QCoro::Task<std::optional<QUrl>> LocalAudioRecordingService::finishRecording()
{
    std::shared_ptr<Session> session = std::move(m_session);
    m_session.reset();
    if (!session)
        co_return std::nullopt;
    QFuture<FinishResult> future = m_queue.run([session] {
        FinishResult result;
        if (session->recordingError) {
            result.error = session->recordingError;
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
            result.error = std::current_exception();
            QFile::remove(path);
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

QCoro::Task<void> LocalAudioRecordingService::cancel()
{
    std::shared_ptr<Session> session = std::move(m_session);
    m_session.reset();
    if (!session)
        co_return;
    QFuture<void> future = m_queue.run([session] {
        if (session->writer)
            session->writer->discard();
        session->writer.reset();
    });
    co_await future;
}
