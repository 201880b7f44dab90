#include "speech/DeepgramWebSocketOpenError.h"

QString DeepgramWebSocketOpenError::message() const
{
    switch (m_case) {
    case Case::closed: {
        const QString prefix =
            QStringLiteral("The transcription service closed the connection before it was ready. Code %1").arg(m_code);
        if (m_reason && !m_reason->isEmpty())
            return prefix + QStringLiteral(": ") + *m_reason;
        return prefix + QLatin1Char('.');
    }
    case Case::transport:
        return errorMessage(m_cause);
    case Case::timedOut:
        return QStringLiteral("The transcription service did not accept the connection in time.");
    }
    return QString();
}
