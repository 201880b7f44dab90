#include "accounts/AuthServiceError.h"

QString AuthServiceError::message() const
{
    switch (m_case) {
    case Case::invalidBackendBaseURL:
        return QStringLiteral("The saved auth backend URL is invalid: ") + m_payload;
    case Case::callbackReturnedError:
    case Case::requestFailed:
        return m_payload;
    case Case::missingBackendBaseURL:
        return QStringLiteral("Sign-in is not configured yet. Add the auth backend URL in Settings first.");
    case Case::missingMicrosoftClientID:
        return QStringLiteral("Microsoft sign-in is not configured yet. Add the Microsoft client ID in Settings or bundle it with the app build.");
    case Case::browserOpenFailed:
        return QStringLiteral("КАВРЕЛ could not open the system browser for sign-in.");
    case Case::appleCredentialMissingToken:
        return QStringLiteral("Apple sign-in completed, but Apple did not return an identity token.");
    case Case::microsoftIDTokenMissing:
        return QStringLiteral("Microsoft sign-in completed, but Microsoft did not return an ID token.");
    case Case::invalidCallback:
        return QStringLiteral("КАВРЕЛ received an invalid OAuth callback.");
    case Case::callbackStateMismatch:
        return QStringLiteral("The Google sign-in callback did not match the original request.");
    case Case::callbackMissingCode:
        return QStringLiteral("Google sign-in completed without an authorization code.");
    case Case::invalidResponse:
        return QStringLiteral("The auth backend returned a response КАВРЕЛ could not understand.");
    case Case::timedOutWaitingForGoogle:
        return QStringLiteral("Google sign-in timed out before КАВРЕЛ received the browser callback.");
    case Case::timedOutWaitingForMicrosoft:
        return QStringLiteral("Microsoft sign-in timed out before КАВРЕЛ received the browser callback.");
    case Case::signInRequestGone:
        return QStringLiteral("This sign-in request is no longer valid. Sign in again to get a new authenticator code.");
    case Case::userCancelled:
        return QStringLiteral("Sign-in was canceled.");
    }
    return QString();
}
