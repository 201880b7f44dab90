#pragma once

#include "base/KavrelError.h"

#include <QString>

#include <optional>

// A websocket that could not be used: it never connected, its upgrade was refused, the
// connection broke or the server closed it. Local cancellation is never a WebSocketError
// (it is a CancellationError).
class WebSocketError final : public KavrelError
{
public:
    enum class Kind {
        cannotConnect,    // no TCP (or TLS) connection to the server
        upgradeRejected,  // the server answered the upgrade with an HTTP status other than 101
        handshakeFailed,  // the upgrade answer was not a valid websocket handshake
        connectionLost,   // the connection ended without a close handshake
        closed,           // the server closed the websocket with a close frame
        notConnected,     // a send on a socket that is not (or no longer) open
        messageTooLarge,  // an incoming message passed the socket's size limit
        other,
    };

    static WebSocketError cannotConnect(QString detail) { return WebSocketError(Kind::cannotConnect, std::move(detail)); }
    static WebSocketError upgradeRejected(int httpStatus, QString detail)
    {
        WebSocketError error(Kind::upgradeRejected, std::move(detail));
        error.m_httpStatus = httpStatus;
        return error;
    }
    static WebSocketError handshakeFailed(QString detail) { return WebSocketError(Kind::handshakeFailed, std::move(detail)); }
    static WebSocketError connectionLost(QString detail = QString()) { return WebSocketError(Kind::connectionLost, std::move(detail)); }
    static WebSocketError closed(int code, QString reason)
    {
        WebSocketError error(Kind::closed, QString());
        error.m_closeCode = code;
        error.m_closeReason = std::move(reason);
        return error;
    }
    static WebSocketError notConnected() { return WebSocketError(Kind::notConnected, QString()); }
    static WebSocketError messageTooLarge(qint64 limit)
    {
        WebSocketError error(Kind::messageTooLarge, QString());
        error.m_sizeLimit = limit;
        return error;
    }
    static WebSocketError other(QString detail) { return WebSocketError(Kind::other, std::move(detail)); }

    Kind kind() const { return m_kind; }
    // upgradeRejected: the HTTP status of the answer (0 when it could not be read).
    int httpStatus() const { return m_httpStatus; }
    // closed: the server's close code and reason.
    int closeCode() const { return m_closeCode; }
    QString closeReason() const { return m_closeReason; }
    // messageTooLarge: the limit in bytes that the message passed.
    qint64 sizeLimit() const { return m_sizeLimit; }
    // Qt's description of the failure, for logs.
    QString detail() const { return m_detail; }

    QString message() const override;

private:
    WebSocketError(Kind kind, QString detail) : m_kind(kind), m_detail(std::move(detail)) {}

    Kind m_kind;
    QString m_detail;
    int m_httpStatus = 0;
    int m_closeCode = 0;
    QString m_closeReason;
    qint64 m_sizeLimit = 0;
};
