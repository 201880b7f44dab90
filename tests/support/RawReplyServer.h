#pragma once

// A loopback TCP server that answers every request with the same bytes, whatever they
// are, and closes the connection: for replies no HTTP server library would send. An empty
// reply closes the connection unanswered. It can speak TLS with a test certificate.

#include <QByteArray>
#include <QSslCertificate>
#include <QTcpServer>
#include <QUrl>

class RawReplyServer final : public QTcpServer
{
    Q_OBJECT

public:
    explicit RawReplyServer(QByteArray reply, QObject *parent = nullptr);

    // Listens on 127.0.0.1 on a free port.
    bool start();
    // The same, over TLS with certificate() for 127.0.0.1.
    bool startEncrypted();
    // http://127.0.0.1:<port>/ (https once encrypted)
    QUrl baseUrl() const;
    // Every request whose head and body arrived whole, answered or not.
    int requestCount() const { return m_requestCount; }
    // The reply goes out pieceSize bytes at a time, each on a later turn of the event loop.
    void setPieceSize(qsizetype pieceSize) { m_pieceSize = pieceSize; }
    // The connection stays open once the reply is out, as with a server that stalls.
    void setLeavesOpen(bool leavesOpen) { m_leavesOpen = leavesOpen; }

    // The self-signed certificate of the encrypted server; a client that trusts it reaches it.
    static QSslCertificate certificate();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void readRequest(QTcpSocket *socket);
    void writeReply(QTcpSocket *socket);

    QByteArray m_reply;
    bool m_encrypted = false;
    int m_requestCount = 0;
    qsizetype m_pieceSize = 0;
    bool m_leavesOpen = false;
};
