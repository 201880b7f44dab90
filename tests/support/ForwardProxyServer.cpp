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
    for (const QByteArray &head : m_heads) {
        const qsizetype end = head.indexOf("\r\n");
        lines.append(end < 0 ? head : head.left(end));
    }
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
    if (request.startsWith('\x05')) {
        readSocksRequest(socket, request);
        return;
    }
    const qsizetype headEnd = request.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QByteArray head = request.left(headEnd + 4);
    if (head.startsWith("CONNECT ")) {
        socket->setProperty("handled", true);
        m_heads.append(head);
        openTunnel(socket, "HTTP/1.1 200 Connection established\r\n\r\n", request.mid(headEnd + 4));
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

void ForwardProxyServer::readSocksRequest(QTcpSocket *socket, QByteArray request)
{
    // The greeting: version, the number of methods, the methods. "No authentication" it is.
    if (!socket->property("greeted").toBool()) {
        if (request.size() < 2 || request.size() < 2 + qsizetype(quint8(request.at(1))))
            return;
        socket->write(QByteArray("\x05\x00", 2));
        socket->setProperty("greeted", true);
        request = request.mid(2 + quint8(request.at(1)));
        socket->setProperty("request", request);
    }
    // The request: version, CONNECT, reserved, the address (IPv4, a name, IPv6), the port.
    if (request.size() < 5)
        return;
    const char type = request.at(3);
    const qsizetype addressSize = type == '\x01' ? 4 : type == '\x04' ? 16 : 1 + quint8(request.at(4));
    const qsizetype size = 4 + addressSize + 2;
    if (request.size() < size)
        return;
    const QByteArray host = type == '\x03' ? request.mid(5, addressSize - 1) : QByteArray("<address>");
    const int port = quint8(request.at(size - 2)) * 256 + quint8(request.at(size - 1));
    socket->setProperty("handled", true);
    m_heads.append("SOCKS5 CONNECT " + host + ':' + QByteArray::number(port));
    openTunnel(socket, QByteArray("\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10), request.mid(size));
}

void ForwardProxyServer::openTunnel(QTcpSocket *socket, const QByteArray &established, const QByteArray &early)
{
    auto *upstream = new QTcpSocket(socket);
    connect(upstream, &QTcpSocket::connected, socket, [socket, upstream, established, early] {
        socket->write(established);
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
