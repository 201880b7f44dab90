#pragma once

// A loopback HTTP server, running in a thread of its own, that answers every request with a
// body without end (no length, as much as the client takes, up to a large total), plain or
// gzip-compressed: for the cap on reply bodies, which must hold while the body arrives however
// busy the client's thread is. It counts the body bytes the system took from it, so a test can
// tell how much the client let in before it gave up.

#include <QObject>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <memory>

class EndlessBodyServer final : public QObject
{
    Q_OBJECT

public:
    enum class Coding {
        identity,
        gzip, // a gzip stream of text, compressed about twofold
    };

    explicit EndlessBodyServer(Coding coding, qint64 totalBytes = qint64(256) * 1024 * 1024, QObject *parent = nullptr);
    ~EndlessBodyServer() override;

    // Listens on 127.0.0.1 on a free port.
    bool start();
    QUrl baseUrl() const;
    // Body bytes written to connections so far, as they left this server.
    qint64 bytesSent() const { return m_sent->load(); }

private:
    class Listener;

    Coding m_coding;
    qint64 m_totalBytes;
    std::shared_ptr<std::atomic<qint64>> m_sent = std::make_shared<std::atomic<qint64>>(0);
    QThread m_thread;
    Listener *m_listener = nullptr;
    quint16 m_port = 0;
};
