#include "speech/WebSocketPing.h"

#include "speech/ThrowingContinuation.h"

#include <QWebSocket>

namespace WebSocketPing {

QCoro::Task<void> send(WebSocketTask::Pointer task, CancellationToken token)
{
    token.throwIfCancelled();
    QWebSocket *socket = task ? task->findChild<QWebSocket *>() : nullptr;
    if (!socket || task->state() != WebSocketTask::State::open)
        throw WebSocketError::notConnected();

    const auto continuation = ThrowingContinuation<>::create();
    const std::weak_ptr<ThrowingContinuation<>> weak = continuation;
    QList<QMetaObject::Connection> connections;
    connections.append(QObject::connect(socket, &QWebSocket::pong, task.get(), [weak](quint64, const QByteArray &) {
        if (auto pending = weak.lock())
            pending->resume();
    }));
    connections.append(QObject::connect(task.get(), &WebSocketTask::closed, task.get(), [weak](int code, const QString &reason) {
        if (auto pending = weak.lock())
            pending->fail(std::make_exception_ptr(WebSocketError::closed(code, reason)));
    }));
    connections.append(QObject::connect(task.get(), &WebSocketTask::failed, task.get(), [weak](const WebSocketError &error) {
        if (auto pending = weak.lock())
            pending->fail(std::make_exception_ptr(error));
    }));
    const CancellationToken::CallbackId callbackId = token.onCancel([weak] {
        if (auto pending = weak.lock())
            pending->fail(std::make_exception_ptr(CancellationError()));
    });

    socket->ping();

    std::exception_ptr failure;
    try {
        co_await ThrowingContinuation<>::wait(continuation);
    } catch (...) {
        failure = std::current_exception();
    }
    token.removeCallback(callbackId);
    for (const QMetaObject::Connection &connection : connections)
        QObject::disconnect(connection);
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace WebSocketPing
