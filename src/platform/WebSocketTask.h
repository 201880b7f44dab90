#pragma once

#include "base/Cancellation.h"
#include "platform/WebSocketError.h"
#include "platform/WebSocketMessage.h"
#include "platform/WebSocketOpenError.h"

#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSslSocket>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
class QWebSocket;

// One client websocket over QWebSocket with a task's life:
// created for a request, started with resume(), then awaited for its upgrade, sent to,
// received from and cancelled with a close code.
//
// What callers can rely on:
//  - Opening ends in exactly one outcome: opened, closed before opening (code and reason),
//    failed in transport (for example an upgrade answered with 401), or timed out (only when
//    a waitForOpen() time-out ran out first). The first outcome wins; it is kept, so a wait
//    that starts after the outcome returns at once.
//  - Nothing is sent before the socket is open: send() before the upgrade throws
//    WebSocketError::notConnected.
//  - send() returns only once the message's bytes have left our write buffer (handed to the
//    kernel), so a caller that awaits each send has exactly one send in flight, and a slow
//    network backs up in the caller's own queue rather than in Qt's unbounded buffer.
//  - The request's raw headers (Authorization, Cookie, ...) go into the upgrade request once
//    each. An "Origin" header is taken out of the raw headers and given to QWebSocket as its
//    origin, which it writes itself; leaving it in would send it twice.
//  - Messages that arrive before anyone receives are kept in order; after the connection
//    ends, receive() first hands out what was kept and then throws why it ended.
//  - An incoming message (or frame) larger than the task's limit is never buffered: the
//    connection ends with WebSocketError::messageTooLarge, after the messages kept before it.
//  - cancel() ends everything at once: pending and later waits, sends and receives throw
//    CancellationError, and no signal is emitted afterwards.
//
// Lifetime: tasks are shared (create() returns a shared pointer); loops that use a socket
// hold the pointer, and pointer identity tells an old socket from its replacement. The
// object is deleted with deleteLater() when the last holder lets go. Every awaiting member
// keeps the task alive until it returns. Main thread only.
class WebSocketTask final : public QObject, public std::enable_shared_from_this<WebSocketTask>
{
    Q_OBJECT

public:
    using Pointer = std::shared_ptr<WebSocketTask>;

    enum class State {
        suspended,  // created, resume() not called yet
        connecting, // TCP connect and upgrade under way
        open,       // upgrade complete; messages flow
        closed,     // ended: closed by either side, failed or cancelled
    };

    // Qt would accept messages of up to 2 GB and assemble them in memory; no backend message
    // of ours comes near a few megabytes.
    static constexpr qint64 defaultMaximumIncomingMessageSize = 4 * 1024 * 1024;

    // maximumIncomingMessageSize bounds every incoming message and frame, in bytes.
    static Pointer create(QNetworkRequest request,
                          qint64 maximumIncomingMessageSize = defaultMaximumIncomingMessageSize);
    ~WebSocketTask() override;

    // A process-wide unique, increasing number for logs and open observers.
    int taskIdentifier() const { return m_taskIdentifier; }
    const QNetworkRequest &request() const { return m_request; }
    State state() const { return m_state; }
    bool isCancelled() const { return m_cancelled; }

    // Starts the connection and the upgrade. Only the first call does anything.
    void resume();

    // Returns once the upgrade has completed. Throws WebSocketOpenError (closed, transport,
    // timedOut) with the opening's outcome, or CancellationError when the task is cancelled
    // or the token is. A positive time-out that runs out first decides the outcome as
    // timedOut for every waiter and aborts the upgrade; zero waits without a limit.
    QCoro::Task<void> waitForOpen(std::chrono::milliseconds timeout, CancellationToken token = CancellationToken());

    // Sends one message and returns once its bytes are written to the connection. Throws
    // WebSocketError::notConnected when the socket is not open, the error that ended the
    // connection when it ends before the bytes are written, and CancellationError when the
    // task is cancelled or the token is (the message may still go out then).
    QCoro::Task<void> send(WebSocketMessage message, CancellationToken token = CancellationToken());

    // The next whole message, in arrival order. Waits while the socket opens or is open.
    // Once the connection has ended and every kept message is handed out, throws
    // WebSocketError::closed (the server's close frame), connectionLost or the open failure;
    // throws CancellationError after cancel() or when the token is cancelled.
    QCoro::Task<WebSocketMessage> receive(CancellationToken token = CancellationToken());

    // Sends a ping and returns once the server's pong to it arrives (pongs that answer other
    // pings, or none, are ignored). Throws WebSocketError::notConnected when the socket is not
    // open, the error that ended the connection when it ends first, and CancellationError
    // after cancel() or when the token is cancelled.
    QCoro::Task<void> sendPing(CancellationToken token = CancellationToken());

    // Ends the task. An open socket sends a close frame with the code and reason; a socket
    // that is still connecting is dropped. Idempotent.
    void cancel(int closeCode, const QString &reason = QString());
    // Ends the task by dropping the TCP connection without a close frame.
    void abort();

    // The server's close frame, once one arrived.
    std::optional<int> peerCloseCode() const { return m_peerCloseCode; }
    QString peerCloseReason() const { return m_peerCloseReason; }
    // Bytes accepted by send() that have not been written to the connection yet.
    qint64 bytesToWrite() const;
    qint64 maximumIncomingMessageSize() const { return m_maximumIncomingMessageSize; }

Q_SIGNALS:
    // What open observers follow. Each task
    // emits at most: opened() once, then one of closed() / failed(); or, when the upgrade
    // never completes, one of closed() / failed() alone. Nothing after cancel().
    void opened();
    // The server closed the websocket with a close frame (code and reason).
    void closed(int code, const QString &reason);
    // The connection failed in transport or ended without a close handshake.
    void failed(const WebSocketError &error);

private:
    // What a send or a ping needs: not cancelled, and the socket open (else why it closed).
    void throwUnlessSendable(const CancellationToken &token) const;
    struct Completion;
    struct PendingWrite;
    struct PendingReceive;
    struct PendingPing;
    class CompletionAwaiter;

    WebSocketTask(QNetworkRequest request, qint64 maximumIncomingMessageSize);

    void onConnected();
    void onSocketError();
    void onAboutToClose();
    void onDisconnected();
    void onMessage(WebSocketMessage message);
    void onBytesWritten();
    void onPong(const QByteArray &payload);
    void finishConnection();

    void decideOpen(std::exception_ptr failure);
    void endConnection(std::exception_ptr reason, bool emitSignals);
    void failAllWaiters(const std::exception_ptr &error);
    void completeWrittenSends();
    qint64 pendingBytes() const;
    WebSocketError errorFromSocket() const;

    const int m_taskIdentifier;
    const qint64 m_maximumIncomingMessageSize;
    QNetworkRequest m_request;
    QString m_origin;
    QPointer<QWebSocket> m_socket;
    // Its TLS socket, found once: every send asks it what still waits.
    QPointer<QSslSocket> m_tlsSocket;
    State m_state = State::suspended;
    bool m_cancelled = false;
    bool m_sawSocketError = false;
    bool m_messageTooLarge = false;
    bool m_finishScheduled = false;

    // Opening.
    bool m_openDecided = false;
    std::exception_ptr m_openFailure;
    std::vector<std::shared_ptr<Completion>> m_openWaiters;
    QPointer<QTimer> m_openTimer;

    // Why the connection ended (for receive() after the kept messages, and for sends).
    std::exception_ptr m_endReason;
    std::optional<int> m_peerCloseCode;
    QString m_peerCloseReason;

    std::deque<WebSocketMessage> m_inbox;
    std::deque<std::shared_ptr<PendingReceive>> m_receivers;
    std::deque<std::shared_ptr<PendingWrite>> m_writes;
    std::deque<std::shared_ptr<PendingPing>> m_pings;
    quint64 m_pingCount = 0;
};
