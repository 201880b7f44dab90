#pragma once

#include "base/KavrelError.h"
#include "platform/WebSocketError.h"

#include <QString>

#include <optional>

// Why a websocket did not open: the server closed it during the upgrade, the upgrade failed
// in transport, or it took longer than the caller allowed.
class WebSocketOpenError final : public KavrelError
{
public:
    enum class Kind {
        closed,
        transport,
        timedOut,
    };

    static WebSocketOpenError closed(int code, std::optional<QString> reason)
    {
        WebSocketOpenError error(Kind::closed);
        error.m_closeCode = code;
        error.m_closeReason = std::move(reason);
        return error;
    }
    static WebSocketOpenError transport(WebSocketError cause)
    {
        WebSocketOpenError error(Kind::transport);
        error.m_transport = std::move(cause);
        return error;
    }
    static WebSocketOpenError timedOut() { return WebSocketOpenError(Kind::timedOut); }

    Kind kind() const { return m_kind; }
    int closeCode() const { return m_closeCode; }
    const std::optional<QString> &closeReason() const { return m_closeReason; }
    // transport: the failure itself.
    const std::optional<WebSocketError> &transportError() const { return m_transport; }

    QString message() const override;

private:
    explicit WebSocketOpenError(Kind kind) : m_kind(kind) {}

    Kind m_kind;
    int m_closeCode = 0;
    std::optional<QString> m_closeReason;
    std::optional<WebSocketError> m_transport;
};
