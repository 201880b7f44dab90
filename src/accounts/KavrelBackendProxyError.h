#pragma once

#include "base/KavrelError.h"

#include <QString>

// The failure of a backend proxy call. The texts are English and shown as they stand.
class KavrelBackendProxyError final : public KavrelError
{
public:
    enum class Case {
        invalidBackendBaseURL,
        serverError,
        authenticationRequired,
        invalidRequest,
        invalidResponse,
    };

    explicit KavrelBackendProxyError(Case errorCase, QString payload = QString(), int httpStatus = 0)
        : m_case(errorCase), m_payload(std::move(payload)), m_httpStatus(httpStatus) {}

    static KavrelBackendProxyError invalidBackendBaseURL(const QString &resolved) { return KavrelBackendProxyError(Case::invalidBackendBaseURL, resolved); }
    static KavrelBackendProxyError serverError(const QString &text, int httpStatus = 0) { return KavrelBackendProxyError(Case::serverError, text, httpStatus); }
    static KavrelBackendProxyError authenticationRequired() { return KavrelBackendProxyError(Case::authenticationRequired); }
    static KavrelBackendProxyError invalidRequest() { return KavrelBackendProxyError(Case::invalidRequest); }
    static KavrelBackendProxyError invalidResponse() { return KavrelBackendProxyError(Case::invalidResponse); }

    Case errorCase() const { return m_case; }
    // The text of invalidBackendBaseURL and serverError.
    QString payload() const { return m_payload; }
    // For serverError: the HTTP status of the reply.
    int httpStatus() const { return m_httpStatus; }

    QString message() const override;

    bool operator==(const KavrelBackendProxyError &other) const
    {
        return m_case == other.m_case && m_payload == other.m_payload;
    }

private:
    Case m_case;
    QString m_payload;
    int m_httpStatus = 0;
};
