#include "services/DeepSeekAnswerAssistError.h"

QString DeepSeekAnswerAssistError::message() const
{
    switch (errorCase()) {
    case Case::requestFailed:
        return QStringLiteral("The app could not draft an answer: ") + errorMessage(cause());
    case Case::invalidResponse:
        return QStringLiteral("The AI backend returned an empty answer suggestion.");
    }
    return QString();
}
