#include "speech/TranslationSocketFrames.h"

#include "speech/DeepSeekTranslationError.h"

#include <QStringDecoder>

QCoro::Task<void> TranslationSocketFrames::sendJson(WebSocketTask::Pointer socket, QByteArray json)
{
    // Without a socket the connection is gone; signing in again would not help.
    if (!socket)
        throw DeepSeekTranslationError::connectionLost();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(json);
    if (decoder.hasError())
        throw DeepSeekTranslationError::invalidRequest();
    co_await socket->send(WebSocketMessage::fromText(text));
}

std::optional<QString> TranslationSocketFrames::textOf(const WebSocketMessage &message)
{
    if (message.isText())
        return message.text;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(message.data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

TaskHandle<void> TranslationSocketFrames::startReceiveLoop(QObject *owner, WebSocketTask::Pointer socket, TextHandler onText,
                                                           FailureHandler onFailure)
{
    QPointer<QObject> weakOwner(owner);
    return spawnTask([weakOwner, socket, onText, onFailure](CancellationToken token) {
        return receiveLoop(weakOwner, socket, onText, onFailure, token);
    });
}

QCoro::Task<void> TranslationSocketFrames::receiveLoop(QPointer<QObject> owner, WebSocketTask::Pointer socket, TextHandler onText,
                                                       FailureHandler onFailure, CancellationToken token)
{
    co_await yieldOnce();
    if (!owner || token.isCancelled())
        co_return;
    std::exception_ptr failure;
    try {
        while (!token.isCancelled()) {
            const WebSocketMessage message = co_await socket->receive(token);
            if (!owner)
                co_return;
            const std::optional<QString> text = textOf(message);
            if (!text)
                continue;
            co_await onText(*text);
            if (!owner)
                co_return;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!owner || !failure || token.isCancelled())
        co_return;
    onFailure(failure);
}
