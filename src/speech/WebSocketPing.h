#pragma once

#include "base/Cancellation.h"
#include "platform/WebSocketTask.h"

#include <qcoro/qcorotask.h>

// A websocket ping on a task's connection: returns when the pong arrives. Throws
// WebSocketError::notConnected when the socket is not open, the error that ends the connection
// before the pong, and CancellationError when the token is cancelled.
//
// WebSocketTask has no ping of its own, so this reaches the QWebSocket it owns.
namespace WebSocketPing {

QCoro::Task<void> send(WebSocketTask::Pointer task, CancellationToken token);

} // namespace WebSocketPing
