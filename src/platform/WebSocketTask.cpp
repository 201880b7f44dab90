#include "platform/WebSocketTask.h"

#include "base/Async.h"
#include "base/KavrelError.h"
#include "base/TaskOutcome.h"

#include <QRegularExpression>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <atomic>
#include <coroutine>
#include <utility>

namespace {

std::atomic<int> nextTaskIdentifier{1};

} // namespace

// One awaited outcome: success or an exception. The waiter is resumed on a later event-loop
// turn, never inside the Qt signal that decided the outcome, so a resumed coroutine may
// cancel or drop the socket freely.
struct WebSocketTask::Completion
{
    bool done = false;
    std::exception_ptr error;
    std::coroutine_handle<> waiter;

    void finish(std::exception_ptr failure)
    {
        if (done)
            return;
        done = true;
        error = std::move(failure);
        if (waiter)
            kavrel::detail::resumeLater(std::exchange(waiter, {}));
    }
};

struct WebSocketTask::PendingWrite
{
    // Bytes that later sends put into the write buffer behind this message. The message is
    // written once no more than these remain to be written.
    qint64 behind = 0;
    std::shared_ptr<Completion> completion = std::make_shared<Completion>();
};

struct WebSocketTask::PendingReceive
{
    std::optional<WebSocketMessage> message;
    std::shared_ptr<Completion> completion = std::make_shared<Completion>();
};

struct WebSocketTask::PendingPing
{
    QByteArray payload;
    std::shared_ptr<Completion> completion = std::make_shared<Completion>();
};

class WebSocketTask::CompletionAwaiter
{
public:
    CompletionAwaiter(std::shared_ptr<Completion> completion, CancellationToken token)
        : m_completion(std::move(completion))
        , m_token(std::move(token))
    {
    }

    bool await_ready() const noexcept { return m_completion->done || m_token.isCancelled(); }

    void await_suspend(std::coroutine_handle<> handle)
    {
        m_completion->waiter = handle;
        std::weak_ptr<Completion> weak = m_completion;
        m_callbackId = m_token.onCancel([weak] {
            if (auto completion = weak.lock())
                completion->finish(std::make_exception_ptr(CancellationError()));
        });
    }

    void await_resume()
    {
        m_token.removeCallback(m_callbackId);
        if (!m_completion->done)
            throw CancellationError();
        if (m_completion->error)
            std::rethrow_exception(m_completion->error);
    }

private:
    std::shared_ptr<Completion> m_completion;
    CancellationToken m_token;
    CancellationToken::CallbackId m_callbackId = 0;
};

WebSocketTask::Pointer WebSocketTask::create(QNetworkRequest request, qint64 maximumIncomingMessageSize)
{
    // Deleted later: the last holder may let go inside one of the socket's own signals.
    return Pointer(new WebSocketTask(std::move(request), maximumIncomingMessageSize),
                   [](WebSocketTask *task) { task->deleteLater(); });
}

WebSocketTask::WebSocketTask(QNetworkRequest request, qint64 maximumIncomingMessageSize)
    : m_taskIdentifier(nextTaskIdentifier.fetch_add(1))
    , m_maximumIncomingMessageSize(std::max<qint64>(maximumIncomingMessageSize, 1))
    , m_request(std::move(request))
{
    // QWebSocket writes its own Origin line from the origin given at construction and adds
    // every raw header of the request after it, so an Origin raw header would go out twice.
    m_origin = QString::fromLatin1(m_request.rawHeader("Origin"));
    m_request.setRawHeader("Origin", QByteArray());
    m_socket = new QWebSocket(m_origin, QWebSocketProtocol::VersionLatest, this);
    // A frame's length is checked from its header, before its payload is read; a message of
    // several frames is checked as it grows. Past either, QWebSocket closes with 1009.
    m_socket->setMaxAllowedIncomingFrameSize(quint64(m_maximumIncomingMessageSize));
    m_socket->setMaxAllowedIncomingMessageSize(quint64(m_maximumIncomingMessageSize));
}

WebSocketTask::~WebSocketTask()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void WebSocketTask::resume()
{
    if (m_state != State::suspended || m_cancelled || !m_socket)
        return;
    m_state = State::connecting;

    QWebSocket *socket = m_socket.data();
    connect(socket, &QWebSocket::connected, this, &WebSocketTask::onConnected);
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, &WebSocketTask::onSocketError);
    connect(socket, &QWebSocket::aboutToClose, this, &WebSocketTask::onAboutToClose);
    connect(socket, &QWebSocket::disconnected, this, &WebSocketTask::onDisconnected);
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this](const QString &text) { onMessage(WebSocketMessage::fromText(text)); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this](const QByteArray &data) { onMessage(WebSocketMessage::fromBinary(data)); });
    connect(socket, &QWebSocket::bytesWritten, this, &WebSocketTask::onBytesWritten);
    connect(socket, &QWebSocket::pong, this, [this](quint64, const QByteArray &payload) { onPong(payload); });

    socket->open(m_request);

    // Over TLS, written plaintext may still wait as ciphertext in the TLS socket's buffer.
    if (m_socket) {
        m_tlsSocket = m_socket->findChild<QSslSocket *>();
        if (m_tlsSocket)
            connect(m_tlsSocket, &QSslSocket::encryptedBytesWritten, this, &WebSocketTask::onBytesWritten);
    }
}

QCoro::Task<void> WebSocketTask::waitForOpen(std::chrono::milliseconds timeout, CancellationToken token)
{
    const Pointer self = shared_from_this();
    token.throwIfCancelled();
    if (m_cancelled)
        throw CancellationError();

    if (!m_openDecided) {
        QPointer<QTimer> timer;
        if (timeout.count() > 0) {
            timer = new QTimer(this);
            timer->setSingleShot(true);
            connect(timer, &QTimer::timeout, this, [this] {
                if (m_openDecided || m_cancelled)
                    return;
                const auto failure = std::make_exception_ptr(WebSocketOpenError::timedOut());
                decideOpen(failure);
                // The upgrade is abandoned: a late success must not leave a socket open that
                // nobody uses.
                if (m_socket) {
                    m_socket->disconnect(this);
                    m_socket->abort();
                }
                endConnection(failure, false);
            });
            timer->start(timeout);
        }
        auto waiter = std::make_shared<Completion>();
        m_openWaiters.push_back(waiter);
        const std::exception_ptr failure = (co_await outcomeOf(CompletionAwaiter(waiter, token))).error;
        if (timer)
            delete timer.data();
        if (failure)
            std::rethrow_exception(failure);
        co_return;
    }
    if (m_openFailure)
        std::rethrow_exception(m_openFailure);
}

void WebSocketTask::throwUnlessSendable(const CancellationToken &token) const
{
    token.throwIfCancelled();
    if (m_cancelled)
        throw CancellationError();
    if (m_state == State::closed && m_endReason)
        std::rethrow_exception(m_endReason);
    if (m_state != State::open || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        throw WebSocketError::notConnected();
}

QCoro::Task<void> WebSocketTask::send(WebSocketMessage message, CancellationToken token)
{
    const Pointer self = shared_from_this();
    throwUnlessSendable(token);

    const qint64 before = pendingBytes();
    qint64 expected = 0;
    qint64 accepted = 0;
    if (message.isText()) {
        const QByteArray utf8 = message.text.toUtf8();
        expected = utf8.size();
        accepted = m_socket->sendTextMessage(message.text);
    } else {
        expected = message.data.size();
        accepted = m_socket->sendBinaryMessage(message.data);
    }
    if (accepted < expected)
        throw WebSocketError::other(m_socket ? m_socket->errorString() : QStringLiteral("short write"));

    const qint64 added = std::max<qint64>(0, pendingBytes() - before);
    for (const auto &earlier : m_writes)
        earlier->behind += added;
    auto write = std::make_shared<PendingWrite>();
    m_writes.push_back(write);
    completeWrittenSends();

    CompletionAwaiter awaiter(write->completion, token);
    co_await awaiter;
}

QCoro::Task<WebSocketMessage> WebSocketTask::receive(CancellationToken token)
{
    const Pointer self = shared_from_this();
    token.throwIfCancelled();
    if (m_cancelled)
        throw CancellationError();
    if (!m_inbox.empty()) {
        WebSocketMessage message = std::move(m_inbox.front());
        m_inbox.pop_front();
        co_return message;
    }
    if (m_state == State::closed)
        std::rethrow_exception(m_endReason ? m_endReason : std::make_exception_ptr(WebSocketError::notConnected()));

    auto pending = std::make_shared<PendingReceive>();
    m_receivers.push_back(pending);
    CompletionAwaiter awaiter(pending->completion, token);
    co_await awaiter;
    co_return std::move(*pending->message);
}

QCoro::Task<void> WebSocketTask::sendPing(CancellationToken token)
{
    const Pointer self = shared_from_this();
    throwUnlessSendable(token);

    // Pings whose waiters gave up are forgotten here, so they cannot pile up.
    std::erase_if(m_pings, [](const std::shared_ptr<PendingPing> &ping) { return ping->completion->done; });
    auto ping = std::make_shared<PendingPing>();
    ping->payload = QByteArray::number(++m_pingCount);
    m_pings.push_back(ping);
    m_socket->ping(ping->payload);

    CompletionAwaiter awaiter(ping->completion, token);
    co_await awaiter;
}

void WebSocketTask::cancel(int closeCode, const QString &reason)
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    const bool wasOpen = m_state == State::open;
    m_state = State::closed;
    const auto cancellation = std::make_exception_ptr(CancellationError());
    m_endReason = cancellation;
    if (m_socket) {
        m_socket->disconnect(this);
        if (wasOpen && m_socket->state() == QAbstractSocket::ConnectedState)
            m_socket->close(static_cast<QWebSocketProtocol::CloseCode>(closeCode), reason);
        else
            m_socket->abort();
    }
    m_inbox.clear();
    decideOpen(cancellation);
    failAllWaiters(cancellation);
}

void WebSocketTask::abort()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    m_state = State::closed;
    const auto cancellation = std::make_exception_ptr(CancellationError());
    m_endReason = cancellation;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    m_inbox.clear();
    decideOpen(cancellation);
    failAllWaiters(cancellation);
}

qint64 WebSocketTask::bytesToWrite() const
{
    return pendingBytes();
}

void WebSocketTask::onConnected()
{
    if (m_state != State::connecting)
        return;
    m_state = State::open;
    decideOpen(nullptr);
    Q_EMIT opened();
}

void WebSocketTask::onSocketError()
{
    if (m_state == State::closed || !m_socket)
        return;
    m_sawSocketError = true;
    if (m_state == State::connecting) {
        // A failed connect or upgrade: QWebSocket does not always drop the connection itself.
        const WebSocketError error = errorFromSocket();
        m_socket->disconnect(this);
        m_socket->abort();
        endConnection(std::make_exception_ptr(error), true);
        return;
    }
    // An open socket reports the drop before it disconnects; let the data that is still
    // buffered (and a close frame among it) be processed first.
    if (!m_finishScheduled) {
        m_finishScheduled = true;
        QTimer::singleShot(0, this, &WebSocketTask::finishConnection);
    }
}

void WebSocketTask::onAboutToClose()
{
    // Our own close and abort disconnect first, so this is the server's close frame being
    // answered. A connection that merely drops never gets here.
    if (m_state == State::closed || !m_socket || m_peerCloseCode || m_messageTooLarge)
        return;
    // QWebSocket closes with 1009 itself when a message passes our limit. The same code from
    // the server would mean one of ours was too big for it, which none of ours is.
    if (m_socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData) {
        m_messageTooLarge = true;
        if (!m_finishScheduled) {
            m_finishScheduled = true;
            QTimer::singleShot(0, this, &WebSocketTask::finishConnection);
        }
        return;
    }
    m_peerCloseCode = static_cast<int>(m_socket->closeCode());
    m_peerCloseReason = m_socket->closeReason();
}

void WebSocketTask::onDisconnected()
{
    if (m_state == State::closed || m_finishScheduled)
        return;
    // QWebSocket reads on a queued connection: messages (and a close frame) that arrived with
    // the disconnect are processed on the next turn, so decide then.
    m_finishScheduled = true;
    QTimer::singleShot(0, this, &WebSocketTask::finishConnection);
}

void WebSocketTask::finishConnection()
{
    if (m_state == State::closed)
        return;
    if (m_messageTooLarge) {
        endConnection(std::make_exception_ptr(WebSocketError::messageTooLarge(m_maximumIncomingMessageSize)), true);
    } else if (m_peerCloseCode) {
        endConnection(std::make_exception_ptr(WebSocketError::closed(*m_peerCloseCode, m_peerCloseReason)), true);
    } else if (m_sawSocketError && m_socket && m_socket->error() != QAbstractSocket::RemoteHostClosedError) {
        endConnection(std::make_exception_ptr(errorFromSocket()), true);
    } else {
        endConnection(std::make_exception_ptr(WebSocketError::connectionLost(m_socket ? m_socket->errorString() : QString())), true);
    }
    if (m_socket && m_socket->state() != QAbstractSocket::UnconnectedState) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void WebSocketTask::onMessage(WebSocketMessage message)
{
    if (m_state == State::closed)
        return;
    while (!m_receivers.empty()) {
        auto receiver = m_receivers.front();
        m_receivers.pop_front();
        if (receiver->completion->done)
            continue; // its waiter was cancelled
        receiver->message = std::move(message);
        receiver->completion->finish(nullptr);
        return;
    }
    m_inbox.push_back(std::move(message));
}

void WebSocketTask::onBytesWritten()
{
    completeWrittenSends();
}

void WebSocketTask::onPong(const QByteArray &payload)
{
    if (m_state == State::closed)
        return;
    const auto answered = std::find_if(m_pings.begin(), m_pings.end(),
                                       [&payload](const std::shared_ptr<PendingPing> &ping) { return ping->payload == payload; });
    if (answered == m_pings.end())
        return;
    const std::shared_ptr<PendingPing> ping = *answered;
    m_pings.erase(answered);
    ping->completion->finish(nullptr);
}

void WebSocketTask::decideOpen(std::exception_ptr failure)
{
    if (m_openDecided)
        return;
    m_openDecided = true;
    m_openFailure = failure;
    auto waiters = std::move(m_openWaiters);
    m_openWaiters.clear();
    for (const auto &waiter : waiters)
        waiter->finish(failure);
}

void WebSocketTask::endConnection(std::exception_ptr reason, bool emitSignals)
{
    if (m_state == State::closed)
        return;
    m_state = State::closed;
    m_endReason = reason;

    if (!m_openDecided) {
        std::exception_ptr openFailure = reason;
        try {
            std::rethrow_exception(reason);
        } catch (const WebSocketError &error) {
            if (error.kind() == WebSocketError::Kind::closed)
                openFailure = std::make_exception_ptr(WebSocketOpenError::closed(error.closeCode(), error.closeReason()));
            else
                openFailure = std::make_exception_ptr(WebSocketOpenError::transport(error));
        } catch (...) {
        }
        decideOpen(openFailure);
    }

    // Kept messages stay for receive(); waiting receivers exist only when none are kept.
    failAllWaiters(reason);

    if (!emitSignals)
        return;
    try {
        std::rethrow_exception(reason);
    } catch (const WebSocketError &error) {
        if (error.kind() == WebSocketError::Kind::closed)
            Q_EMIT closed(error.closeCode(), error.closeReason());
        else
            Q_EMIT failed(error);
    } catch (...) {
    }
}

void WebSocketTask::failAllWaiters(const std::exception_ptr &error)
{
    auto writes = std::move(m_writes);
    m_writes.clear();
    for (const auto &write : writes)
        write->completion->finish(error);
    auto receivers = std::move(m_receivers);
    m_receivers.clear();
    for (const auto &receiver : receivers)
        receiver->completion->finish(error);
    auto pings = std::move(m_pings);
    m_pings.clear();
    for (const auto &ping : pings)
        ping->completion->finish(error);
}

void WebSocketTask::completeWrittenSends()
{
    const qint64 pending = pendingBytes();
    while (!m_writes.empty() && pending <= m_writes.front()->behind) {
        m_writes.front()->completion->finish(nullptr);
        m_writes.pop_front();
    }
}

qint64 WebSocketTask::pendingBytes() const
{
    if (!m_socket)
        return 0;
    qint64 pending = m_socket->bytesToWrite();
    if (m_tlsSocket)
        pending += m_tlsSocket->encryptedBytesToWrite();
    return pending;
}

WebSocketError WebSocketTask::errorFromSocket() const
{
    if (!m_socket)
        return WebSocketError::other(QString());
    const QAbstractSocket::SocketError code = m_socket->error();
    const QString text = m_socket->errorString();

    static const QRegularExpression statusPattern(QStringLiteral("status code:\\s*(\\d{3})"),
                                                  QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch status = statusPattern.match(text);
    if (status.hasMatch())
        return WebSocketError::upgradeRejected(status.captured(1).toInt(), text);

    switch (code) {
    case QAbstractSocket::ConnectionRefusedError:
        // QWebSocket reports a bad upgrade answer with this code too, with its own text.
        if (text.contains(QLatin1String("andshake")) || text.contains(QLatin1String("Accept-Key"))
            || text.contains(QLatin1String("statusline"), Qt::CaseInsensitive))
            return WebSocketError::handshakeFailed(text);
        return WebSocketError::cannotConnect(text);
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::UnsupportedSocketOperationError:
        if (m_state == State::connecting)
            return WebSocketError::cannotConnect(text);
        return WebSocketError::connectionLost(text);
    case QAbstractSocket::RemoteHostClosedError:
        return WebSocketError::connectionLost(text);
    default:
        return WebSocketError::other(text);
    }
}
