#include "audio/MicrophoneCaptureError.h"

MicrophoneCaptureError::MicrophoneCaptureError(Case errorCase, QString underlyingDescription)
    : m_case(errorCase)
    , m_underlyingDescription(std::move(underlyingDescription))
{
}

QString MicrophoneCaptureError::message() const
{
    switch (m_case) {
    case Case::startFailed:
        return QStringLiteral("Microphone capture failed to start: ") + m_underlyingDescription;
    case Case::alreadyCapturing:
        return QStringLiteral("Microphone capture is already running.");
    case Case::permissionDenied:
        return QStringLiteral("Microphone permission was not granted.");
    case Case::inputUnavailable:
        return QStringLiteral("The app could not access the selected microphone input.");
    case Case::selectedDeviceUnavailable:
        return QStringLiteral("The selected microphone is not available.");
    case Case::captureLost:
        return QStringLiteral("Microphone capture failed: ") + m_underlyingDescription;
    case Case::audioServerUnavailable:
        return QStringLiteral("The app could not reach the audio server: ") + m_underlyingDescription;
    }
    return QString();
}
