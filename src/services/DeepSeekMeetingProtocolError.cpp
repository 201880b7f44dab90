#include "services/DeepSeekMeetingProtocolError.h"

QString DeepSeekMeetingProtocolError::message() const
{
    switch (m_case) {
    case Case::requestFailed:
        return QStringLiteral("The app could not generate a meeting protocol: ") + errorMessage(m_cause);
    case Case::invalidResponse:
        return QStringLiteral("The AI backend returned an empty meeting protocol response.");
    case Case::incompleteResponse:
        return QStringLiteral("The AI backend returned a truncated meeting protocol response.");
    }
    return QString();
}
