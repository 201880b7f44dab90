#include "platform/WebSocketOpenError.h"

QString WebSocketOpenError::message() const
{
    switch (m_kind) {
    case Kind::closed:
        if (!m_closeReason || m_closeReason->isEmpty())
            return QStringLiteral("The server closed the websocket before it was ready (code %1).").arg(m_closeCode);
        return QStringLiteral("The server closed the websocket before it was ready (code %1): %2")
            .arg(m_closeCode)
            .arg(*m_closeReason);
    case Kind::transport:
        return m_transport ? m_transport->message() : WebSocketError::other(QString()).message();
    case Kind::timedOut:
        return QStringLiteral("The websocket upgrade did not complete in time.");
    }
    return QString();
}
