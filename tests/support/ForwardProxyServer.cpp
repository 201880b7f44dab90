#include "support/ForwardProxyServer.h"

#include <QTcpSocket>

ForwardProxyServer::ForwardProxyServer(QByteArray reply, QObject *parent)
    : QTcpServer(parent)
    , m_reply(std::move(reply))
{
}

bool ForwardProxyServer::start()
{
    return listen(QHostAddress::LocalHost);
}

QUrl ForwardProxyServer::proxyUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(serverPort()));
}

QList<QByteArray> ForwardProxyServer::requestLines() const
{
    QList<QByteArray> lines;
    for (const QByteArray &head : m_heads)
        lines.append(head.left(head.indexOf("\r\n")));
    return lines;
}

void ForwardProxyServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { readRequest(socket); });
}

void ForwardProxyServer::readRequest(QTcpSocket *socket)
{
    if (socket->property("handled").toBool())
        return;
    const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    const qsizetype headEnd = request.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QByteArray head = request.left(headEnd + 4);
    if (head.startsWith("CONNECT ")) {
        socket->setProperty("handled", true);
        m_heads.append(head);
        openTunnel(socket, request.mid(headEnd + 4));
        return;
    }
    qsizetype length = 0;
    for (const QByteArray &line : head.split('\n')) {
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toLongLong();
    }
    if (request.size() < headEnd + 4 + length)
        return;
    socket->setProperty("handled", true);
    m_heads.append(head);
    socket->write(m_reply);
    socket->disconnectFromHost();
}

void ForwardProxyServer::openTunnel(QTcpSocket *socket, const QByteArray &early)
{
    auto *upstream = new QTcpSocket(socket);
    connect(upstream, &QTcpSocket::connected, socket, [socket, upstream, early] {
        socket->write("HTTP/1.1 200 Connection established\r\n\r\n");
        upstream->write(early + socket->readAll());
        connect(socket, &QTcpSocket::readyRead, upstream, [socket, upstream] { upstream->write(socket->readAll()); });
    });
    connect(upstream, &QTcpSocket::readyRead, socket, [socket, upstream] { socket->write(upstream->readAll()); });
    connect(upstream, &QTcpSocket::disconnected, socket, [socket] { socket->disconnectFromHost(); });
    connect(upstream, &QTcpSocket::errorOccurred, socket, [socket, upstream](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError && upstream->state() != QAbstractSocket::ConnectedState)
            socket->write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
        socket->disconnectFromHost();
    });
    connect(socket, &QTcpSocket::disconnected, upstream, [upstream] { upstream->disconnectFromHost(); });
    upstream->connectToHost(QHostAddress::LocalHost, m_tunnelPort);
}
