#pragma once

// A loopback HTTP proxy as companies run them: a request in absolute form
// ("POST http://host/path HTTP/1.1") it answers itself with the same bytes every time, as if
// from the server it names; a CONNECT opens a tunnel, whatever host it names, to one port on
// 127.0.0.1 (a test server standing in for that host). On the same port it speaks SOCKS5 (no
// authentication), whose CONNECT opens the same tunnel. It records the head of every request
// it got ("SOCKS5 CONNECT host:port" for SOCKS), so that a test sees which road a request took
// and in what form.

#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QUrl>

class ForwardProxyServer final : public QTcpServer
{
    Q_OBJECT

public:
    explicit ForwardProxyServer(QByteArray reply, QObject *parent = nullptr);

    // Listens on 127.0.0.1 on a free port.
    bool start();
    // http://127.0.0.1:<port>, as a user names a proxy in http_proxy.
    QUrl proxyUrl() const;
    void setTunnelPort(quint16 port) { m_tunnelPort = port; }

    // The heads of the requests it got, in order: a CONNECT's, or a forwarded request's.
    const QList<QByteArray> &heads() const { return m_heads; }
    // The first line of each.
    QList<QByteArray> requestLines() const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void readRequest(QTcpSocket *socket);
    void readSocksRequest(QTcpSocket *socket, QByteArray request);
    void openTunnel(QTcpSocket *socket, const QByteArray &established, const QByteArray &early);

    QByteArray m_reply;
    quint16 m_tunnelPort = 0;
    QList<QByteArray> m_heads;
};
