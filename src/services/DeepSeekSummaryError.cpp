#include "services/DeepSeekSummaryError.h"

QString DeepSeekSummaryError::message() const
{
    switch (errorCase()) {
    case Case::requestFailed:
        return QStringLiteral("The app could not generate a summary: ") + errorMessage(cause());
    case Case::invalidResponse:
        return QStringLiteral("The AI backend returned an empty summary response.");
    case Case::incompleteResponse:
        return QStringLiteral("The AI backend returned a truncated summary response.");
    }
    return QString();
}
