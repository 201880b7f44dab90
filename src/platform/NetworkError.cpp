#include "platform/NetworkError.h"

QString NetworkError::message() const
{
    switch (m_kind) {
    case Kind::timedOut:
        return QStringLiteral("The request timed out.");
    case Kind::cannotConnect:
        return QStringLiteral("Could not connect to the server.");
    case Kind::connectionLost:
        return QStringLiteral("The network connection was lost.");
    case Kind::responseTooLarge:
        return QStringLiteral("The server's reply is too large.");
    case Kind::other:
        break;
    }
    if (m_detail.isEmpty())
        return QStringLiteral("A network error occurred.");
    return QStringLiteral("A network error occurred: %1").arg(m_detail);
}
