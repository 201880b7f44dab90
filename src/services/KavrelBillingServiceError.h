#pragma once

#include "base/KavrelError.h"

#include <QString>

// The failure of a billing request. The texts are English and shown as they stand.
class KavrelBillingServiceError final : public KavrelError
{
public:
    enum class Case {
        invalidBackendBaseURL, // payload: the base URL text that did not parse
        requestFailed,         // payload: the backend's message
        authenticationRequired,
        invalidResponse,
    };

    explicit KavrelBillingServiceError(Case errorCase, QString payload = QString())
        : m_case(errorCase), m_payload(std::move(payload)) {}

    static KavrelBillingServiceError invalidBackendBaseURL(const QString &text) { return KavrelBillingServiceError(Case::invalidBackendBaseURL, text); }
    static KavrelBillingServiceError requestFailed(const QString &message) { return KavrelBillingServiceError(Case::requestFailed, message); }
    static KavrelBillingServiceError authenticationRequired() { return KavrelBillingServiceError(Case::authenticationRequired); }
    static KavrelBillingServiceError invalidResponse() { return KavrelBillingServiceError(Case::invalidResponse); }

    Case errorCase() const { return m_case; }
    QString payload() const { return m_payload; }

    QString message() const override;

    bool operator==(const KavrelBillingServiceError &other) const
    {
        return m_case == other.m_case && m_payload == other.m_payload;
    }

private:
    Case m_case;
    QString m_payload;
};
