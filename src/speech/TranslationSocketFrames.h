#pragma once

#include "base/Async.h"
#include "platform/WebSocketMessage.h"
#include "platform/WebSocketTask.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <optional>

// The frames both live translation clients exchange with their relay: every outgoing message
// is one JSON object in one text frame, and every incoming message that reads as UTF-8 text
// goes, in arrival order, to the client's handler.
class TranslationSocketFrames final
{
public:
    using TextHandler = std::function<QCoro::Task<void>(QString text)>;
    using FailureHandler = std::function<void(std::exception_ptr error)>;

    // Sends json as one text frame on socket. Throws DeepSeekTranslationError::connectionLost
    // without a socket, invalidRequest for bytes that are not UTF-8, and the socket's errors.
    static QCoro::Task<void> sendJson(WebSocketTask::Pointer socket, QByteArray json);

    // The text of one incoming message: a text message as it is, a binary one when its bytes
    // are valid UTF-8. Nothing for any other binary message.
    static std::optional<QString> textOf(const WebSocketMessage &message);

    // Starts the receive loop of socket on the next event-loop turn, so the caller stores the
    // handle before the loop can act. Each message's text is handled (and awaited) before the
    // next is received; messages without text are dropped. The first error of a receive or of
    // the handler ends the loop and goes to onFailure, unless the loop was cancelled. The loop
    // holds owner weakly and ends without calling either handler once owner is gone.
    static TaskHandle<void> startReceiveLoop(QObject *owner, WebSocketTask::Pointer socket, TextHandler onText,
                                             FailureHandler onFailure);

private:
    static QCoro::Task<void> receiveLoop(QPointer<QObject> owner, WebSocketTask::Pointer socket, TextHandler onText,
                                         FailureHandler onFailure, CancellationToken token);
};
