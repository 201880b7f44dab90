#include "services/DeepSeekAnswerAssistError.h"

QString DeepSeekAnswerAssistError::message() const
{
    switch (m_case) {
    case Case::requestFailed:
        return QStringLiteral("The app could not draft an answer: ") + errorMessage(m_cause);
    case Case::invalidResponse:
        return QStringLiteral("The AI backend returned an empty answer suggestion.");
    }
    return QString();
}
