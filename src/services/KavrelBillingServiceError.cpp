#include "services/KavrelBillingServiceError.h"

QString KavrelBillingServiceError::message() const
{
    switch (m_case) {
    case Case::invalidBackendBaseURL:
        return QStringLiteral("The saved КАВРЕЛ backend URL is invalid: ") + m_payload;
    case Case::requestFailed:
        return m_payload;
    case Case::authenticationRequired:
        return QStringLiteral("Sign in to load billing data.");
    case Case::invalidResponse:
        return QStringLiteral("The billing backend returned a response КАВРЕЛ could not understand.");
    }
    return QString();
}
