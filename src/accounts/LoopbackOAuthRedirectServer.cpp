#include "accounts/LoopbackOAuthRedirectServer.h"

#include "localization/KavrelLocalizationStore.h"

#include <QMetaObject>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// A browser's request head is small; anything larger is not a redirect.
constexpr qsizetype maximumRequestHeadBytes = 16 * 1024;

} // namespace

LoopbackOAuthRedirectServer::LoopbackOAuthRedirectServer(QString callbackPath, quint16 port, QObject *parent)
    : QObject(parent)
    , m_callbackPath(std::move(callbackPath))
    , m_port(port)
{
}

LoopbackOAuthRedirectServer::~LoopbackOAuthRedirectServer() = default;

bool LoopbackOAuthRedirectServer::start()
{
    if (m_listener)
        return m_listener->isListening();
    auto *listener = new QTcpServer(this);
    if (!listener->listen(QHostAddress::LocalHost, m_port)) {
        delete listener;
        return false;
    }
    m_port = listener->serverPort();
    connect(listener, &QTcpServer::newConnection, this, &LoopbackOAuthRedirectServer::onNewConnection);
    m_listener = listener;
    return true;
}

bool LoopbackOAuthRedirectServer::isListening() const
{
    return m_listener && m_listener->isListening();
}

QUrl LoopbackOAuthRedirectServer::redirectURL() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_port);
    url.setPath(m_callbackPath);
    return url;
}

void LoopbackOAuthRedirectServer::cancelListener()
{
    if (m_listener) {
        m_listener->close();
        m_listener->deleteLater();
        m_listener = nullptr;
    }
}

void LoopbackOAuthRedirectServer::finishCallback(std::variant<QUrl, std::exception_ptr> result)
{
    // The listener closes first: a caller resumed below may delete this server at once, so
    // resuming it is the last thing done here.
    cancelListener();
    if (auto *url = std::get_if<QUrl>(&result)) {
        if (m_callbackContinuation.isPending())
            m_callbackContinuation.resume(*url);
        else
            m_bufferedCallbackURL = *url;
    } else {
        auto error = std::get<std::exception_ptr>(result);
        if (m_callbackContinuation.isPending())
            m_callbackContinuation.fail(error);
        else
            m_terminalError = error;
    }
}

QCoro::Task<QUrl> LoopbackOAuthRedirectServer::waitForCallback()
{
    if (m_bufferedCallbackURL)
        co_return *std::exchange(m_bufferedCallbackURL, std::nullopt);
    if (m_terminalError)
        std::rethrow_exception(m_terminalError);
    QUrl url = co_await m_callbackContinuation.install();
    co_return url;
}

void LoopbackOAuthRedirectServer::onNewConnection()
{
    if (!m_listener)
        return;
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        // The listener may close while the connection is still being answered.
        socket->setParent(this);
        m_activeConnections.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_activeConnections.remove(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackOAuthRedirectServer::onReadyRead(QTcpSocket *socket)
{
    auto it = m_activeConnections.find(socket);
    if (it == m_activeConnections.end())
        return;
    it->append(socket->readAll());
    const qsizetype headEnd = it->indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (it->size() > maximumRequestHeadBytes)
            answer(socket, 431, "Request Header Fields Too Large", "Request too large.");
        return;
    }
    const QByteArray requestLine = it->left(it->indexOf("\r\n"));
    it->clear();
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3 || parts.at(0) != "GET" || !parts.at(1).startsWith('/')) {
        answer(socket, 400, "Bad Request", "Bad request.");
        return;
    }
    QUrl url = redirectURL();
    const QUrl target = QUrl::fromEncoded(parts.at(1), QUrl::StrictMode);
    if (!target.isValid() || target.path() != m_callbackPath) {
        answer(socket, 404, "Not Found", "Not found.");
        return;
    }
    url.setQuery(target.query(QUrl::FullyEncoded), QUrl::StrictMode);
    // The page the browser shows the user once the sign-in has come back.
    const QString finished = KavrelLocalizationStore::shared().localized(
        QStringLiteral("Sign-in finished. You can close this window and return to КАВРЕЛ."));
    answer(socket, 200, "OK", finished.toUtf8());
    // On the next turn, outside the socket's signal: the resumed caller may delete this
    // server, and the socket with it.
    QMetaObject::invokeMethod(this, [this, url] { finishCallback(url); }, Qt::QueuedConnection);
}

void LoopbackOAuthRedirectServer::answer(QTcpSocket *socket, int status, const QByteArray &reason, const QByteArray &text)
{
    const QByteArray body = text + '\n';
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    response += "Content-Type: text/plain; charset=utf-8\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    response += body;
    socket->write(response);
    socket->disconnectFromHost();
}
