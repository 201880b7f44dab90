#pragma once

#include "base/Continuation.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <variant>

class QTcpServer;
class QTcpSocket;

// Receives a browser redirect on a loopback port. Only 127.0.0.1 is listened on. A request
// for the callback path finishes the wait with the full redirect URL; the first outcome
// closes the listener. Unlike the callback waiter, later outcomes replace earlier ones.
class LoopbackOAuthRedirectServer final : public QObject
{
    Q_OBJECT

public:
    // Port 0 picks a free port.
    LoopbackOAuthRedirectServer(QString callbackPath, quint16 port = 0, QObject *parent = nullptr);
    ~LoopbackOAuthRedirectServer() override;

    // Starts listening on 127.0.0.1. False when the port cannot be bound.
    bool start();
    bool isListening() const;
    quint16 port() const { return m_port; }
    QString callbackPath() const { return m_callbackPath; }
    // http://127.0.0.1:<port><callbackPath>
    QUrl redirectURL() const;

    // Delivers the outcome and closes the listener.
    void finishCallback(std::variant<QUrl, std::exception_ptr> result);
    // Closes the listener; connections already accepted stay until they are answered.
    void cancelListener();

    // The redirect URL: one already received, or the next one. Throws the stored error.
    QCoro::Task<QUrl> waitForCallback();

    bool isWaiting() const { return m_callbackContinuation.isPending(); }
    std::optional<QUrl> bufferedCallbackURL() const { return m_bufferedCallbackURL; }

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, int status, const QByteArray &reason, const QByteArray &text);

    QString m_callbackPath;
    quint16 m_port = 0;
    QPointer<QTcpServer> m_listener;
    ContinuationSlot<QUrl> m_callbackContinuation;
    std::optional<QUrl> m_bufferedCallbackURL;
    std::exception_ptr m_terminalError;
    QHash<QTcpSocket *, QByteArray> m_activeConnections; // socket → bytes of the request so far
};
