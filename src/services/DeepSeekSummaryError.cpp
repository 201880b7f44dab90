#include "services/DeepSeekSummaryError.h"

QString DeepSeekSummaryError::message() const
{
    switch (m_case) {
    case Case::requestFailed:
        return QStringLiteral("The app could not generate a summary: ") + errorMessage(m_cause);
    case Case::invalidResponse:
        return QStringLiteral("The AI backend returned an empty summary response.");
    case Case::incompleteResponse:
        return QStringLiteral("The AI backend returned a truncated summary response.");
    }
    return QString();
}
