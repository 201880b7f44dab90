#include "services/DeepSeekMeetingProtocolError.h"

QString DeepSeekMeetingProtocolError::message() const
{
    switch (errorCase()) {
    case Case::requestFailed:
        return QStringLiteral("The app could not generate a meeting protocol: ") + errorMessage(cause());
    case Case::invalidResponse:
        return QStringLiteral("The AI backend returned an empty meeting protocol response.");
    case Case::incompleteResponse:
        return QStringLiteral("The AI backend returned a truncated meeting protocol response.");
    }
    return QString();
}
