#include "accounts/KavrelBackendProxyError.h"

QString KavrelBackendProxyError::message() const
{
    switch (m_case) {
    case Case::invalidBackendBaseURL:
        return QStringLiteral("The saved КАВРЕЛ backend URL is invalid: ") + m_payload;
    case Case::serverError:
        return m_payload;
    case Case::authenticationRequired:
        return QStringLiteral("Sign in to use КАВРЕЛ AI and live transcription features.");
    case Case::invalidRequest:
        return QStringLiteral("КАВРЕЛ could not create the backend proxy request.");
    case Case::invalidResponse:
        return QStringLiteral("The КАВРЕЛ backend returned a response the app could not understand.");
    }
    return QString();
}
