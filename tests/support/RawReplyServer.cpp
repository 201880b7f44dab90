#include "support/RawReplyServer.h"

#include <QTcpSocket>

RawReplyServer::RawReplyServer(QByteArray reply, QObject *parent)
    : QTcpServer(parent)
    , m_reply(std::move(reply))
{
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            // Answer once the head of the request is in, as a server would.
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                socket->setProperty("request", socket->property("request").toByteArray() + socket->readAll());
                if (!socket->property("request").toByteArray().contains("\r\n\r\n") || socket->property("answered").toBool())
                    return;
                socket->setProperty("answered", true);
                socket->write(m_reply);
                socket->disconnectFromHost();
            });
        }
    });
}

bool RawReplyServer::start()
{
    return listen(QHostAddress::LocalHost);
}

QUrl RawReplyServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(serverPort()));
}
