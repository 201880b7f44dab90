#include "speech/DeepgramLiveTranscriptionError.h"

QString DeepgramLiveTranscriptionError::message() const
{
    switch (m_case) {
    case Case::connectionFailed:
        return QStringLiteral("The app could not open the live transcription connection: ") + m_detail;
    case Case::sendFailed:
        return QStringLiteral("The app could not stream audio for transcription: ") + m_detail;
    case Case::receiveFailed:
        return QStringLiteral("The app could not receive a transcription update: ") + m_detail;
    case Case::serverError:
        return QStringLiteral("The transcription service returned an error: ") + m_detail;
    case Case::authenticationRequired:
        return QStringLiteral("Sign in to start live transcription.");
    case Case::invalidRequest:
        return QStringLiteral("The app could not create the live transcription request.");
    case Case::alreadyConnected:
        return QStringLiteral("Live transcription is already connected.");
    }
    return QString();
}
