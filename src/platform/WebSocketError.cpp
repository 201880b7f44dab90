#include "platform/WebSocketError.h"

QString WebSocketError::message() const
{
    switch (m_kind) {
    case Kind::cannotConnect:
        return QStringLiteral("Could not connect to the server.");
    case Kind::upgradeRejected:
        if (m_httpStatus > 0)
            return QStringLiteral("The server refused the websocket connection with HTTP status %1.").arg(m_httpStatus);
        return QStringLiteral("The server refused the websocket connection.");
    case Kind::handshakeFailed:
        return QStringLiteral("The server did not accept the websocket connection.");
    case Kind::connectionLost:
        return QStringLiteral("The network connection was lost.");
    case Kind::closed:
        if (m_closeReason.isEmpty())
            return QStringLiteral("The server closed the connection (code %1).").arg(m_closeCode);
        return QStringLiteral("The server closed the connection (code %1): %2").arg(m_closeCode).arg(m_closeReason);
    case Kind::notConnected:
        return QStringLiteral("The websocket is not connected.");
    case Kind::messageTooLarge:
        return QStringLiteral("The server sent a message larger than %1 bytes.").arg(m_sizeLimit);
    case Kind::other:
        break;
    }
    if (m_detail.isEmpty())
        return QStringLiteral("A network error occurred.");
    return QStringLiteral("A network error occurred: %1").arg(m_detail);
}
