#pragma once

// A loopback TCP server that answers every request with the same bytes, whatever they
// are, and closes the connection: for replies no HTTP server library would send.

#include <QByteArray>
#include <QTcpServer>
#include <QUrl>

class RawReplyServer final : public QTcpServer
{
    Q_OBJECT

public:
    explicit RawReplyServer(QByteArray reply, QObject *parent = nullptr);

    // Listens on 127.0.0.1 on a free port.
    bool start();
    // http://127.0.0.1:<port>/
    QUrl baseUrl() const;

private:
    QByteArray m_reply;
};
