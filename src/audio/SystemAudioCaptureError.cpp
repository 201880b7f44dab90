#include "audio/SystemAudioCaptureError.h"

#include <cerrno>

SystemAudioCaptureError::SystemAudioCaptureError(Case errorCase)
    : m_case(errorCase)
{
}

SystemAudioCaptureError::SystemAudioCaptureError(Case errorCase, qint32 status)
    : m_case(errorCase)
    , m_status(status)
{
}

SystemAudioCaptureError::SystemAudioCaptureError(Case errorCase, QString underlyingDescription)
    : m_case(errorCase)
    , m_underlyingDescription(std::move(underlyingDescription))
{
}

SystemAudioCaptureError SystemAudioCaptureError::withKeptFile(const QString &path) const
{
    SystemAudioCaptureError error = *this;
    error.m_keptFile = path;
    return error;
}

QString SystemAudioCaptureError::reason() const
{
    const QString words = statusInWords();
    return words.isEmpty() ? message() : words;
}

QString SystemAudioCaptureError::statusInWords() const
{
    if (m_case == Case::failedToWriteAudioFile) {
        // The file library reports a system error as its number, negated.
        switch (-m_status) {
        case ENOSPC:
            return QStringLiteral("No space is left on the device.");
        case EDQUOT:
            return QStringLiteral("The disk quota is used up.");
        case EFBIG:
            return QStringLiteral("The file has grown larger than the system allows.");
        case EROFS:
            return QStringLiteral("The disk can only be read.");
        case EIO:
            return QStringLiteral("The disk reported an input/output error.");
        case ETIMEDOUT:
            // Set by the recorder itself when the disk stops taking the audio.
            return QStringLiteral("The disk did not keep up with the recording.");
        default:
            break;
        }
    }
    return QString();
}

QString SystemAudioCaptureError::message() const
{
    const auto withStatus = [this](const char *text) {
        return QString::fromUtf8(text) + QStringLiteral(" OSStatus: ") + QString::number(m_status);
    };
    switch (m_case) {
    case Case::failedToCreateProcessTap:
        return withStatus("The app could not create an audio-only system tap.");
    case Case::failedToCreateAggregateDevice:
        return withStatus("The app could not create a private system audio device.");
    case Case::failedToCreateIOProc:
        return withStatus("The app could not attach to the system audio stream.");
    case Case::failedToStartDevice:
        return withStatus("The app could not start system audio capture.");
    case Case::failedToStopDevice:
        return withStatus("The app could not stop system audio capture cleanly.");
    case Case::failedToDestroyIOProc:
        return withStatus("The app could not detach from the system audio stream.");
    case Case::failedToDestroyAggregateDevice:
        return withStatus("The app could not remove the private system audio device.");
    case Case::failedToDestroyProcessTap:
        return withStatus("The app could not remove the system audio tap.");
    case Case::failedToReadTapFormat:
        return withStatus("The app could not read the system audio format.");
    case Case::failedToReadTapUID:
        return withStatus("The app could not read the system audio tap identifier.");
    case Case::failedToPrepareOutputDirectory:
        return QStringLiteral("The app could not create the output folder for saved audio recordings: ")
            + m_underlyingDescription;
    case Case::failedToWriteAudioFile: {
        // A reason the system names is told in words, as the notice at the moment of the failure
        // told it; a bare number only where there is none.
        const QString words = statusInWords();
        const QString failure = words.isEmpty() ? withStatus("The app could not write the M4A file.")
                                                : QStringLiteral("The app could not write the M4A file: ") + words;
        if (!m_keptFile.isEmpty())
            return failure + QStringLiteral(" The recording up to that moment is kept: ") + m_keptFile;
        return failure;
    }
    case Case::alreadyCapturing:
        return QStringLiteral("System audio capture is already running.");
    case Case::notCapturing:
        return QStringLiteral("System audio capture is not running.");
    case Case::unsupportedSystemAudioTap:
        return QStringLiteral("Audio-only system capture requires macOS 14.2 or newer.");
    case Case::failedToCreateAudioFile:
        return QStringLiteral("The app could not create the M4A file.");
    case Case::failedToCreateAudioBuffer:
        return QStringLiteral("The app could not convert the captured system audio into a PCM buffer.");
    case Case::unsupportedAudioFormat:
        return QStringLiteral("The captured system audio format is not supported.");
    }
    return QString();
}
