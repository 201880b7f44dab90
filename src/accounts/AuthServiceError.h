#pragma once

#include "base/KavrelError.h"

#include <QString>

// The failure of a sign-in step or of an auth endpoint. The texts are English and shown
// as they stand.
class AuthServiceError final : public KavrelError
{
public:
    enum class Case {
        invalidBackendBaseURL,
        callbackReturnedError,
        requestFailed,
        missingBackendBaseURL,
        missingMicrosoftClientID,
        browserOpenFailed,
        appleCredentialMissingToken,
        microsoftIDTokenMissing,
        invalidCallback,
        callbackStateMismatch,
        callbackMissingCode,
        invalidResponse,
        timedOutWaitingForGoogle,
        timedOutWaitingForMicrosoft,
        // The server no longer knows the sign-in request a second-factor code was sent for: it
        // was used (perhaps by an attempt whose answer was lost) or it expired.
        signInRequestGone,
        userCancelled,
    };

    explicit AuthServiceError(Case errorCase, QString payload = QString(), int httpStatus = 0)
        : m_case(errorCase), m_payload(std::move(payload)), m_httpStatus(httpStatus) {}

    static AuthServiceError invalidBackendBaseURL(const QString &resolved) { return AuthServiceError(Case::invalidBackendBaseURL, resolved); }
    static AuthServiceError callbackReturnedError(const QString &text) { return AuthServiceError(Case::callbackReturnedError, text); }
    // httpStatus is the status of the reply that failed, 0 when the failure is not an HTTP reply.
    static AuthServiceError requestFailed(const QString &text, int httpStatus = 0) { return AuthServiceError(Case::requestFailed, text, httpStatus); }
    static AuthServiceError invalidResponse() { return AuthServiceError(Case::invalidResponse); }
    static AuthServiceError signInRequestGone(int httpStatus) { return AuthServiceError(Case::signInRequestGone, QString(), httpStatus); }
    static AuthServiceError userCancelled() { return AuthServiceError(Case::userCancelled); }

    Case errorCase() const { return m_case; }
    // The text carried by invalidBackendBaseURL, callbackReturnedError and requestFailed.
    QString payload() const { return m_payload; }
    // For requestFailed and signInRequestGone raised from a reply status outside 200-299: that
    // status; else 0.
    int httpStatus() const { return m_httpStatus; }

    QString message() const override;

    bool operator==(const AuthServiceError &other) const
    {
        return m_case == other.m_case && m_payload == other.m_payload;
    }

private:
    Case m_case;
    QString m_payload;
    int m_httpStatus = 0;
};
