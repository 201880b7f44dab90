#include "support/EndlessBodyServer.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include <zlib.h>

#include <cstring>

namespace {

constexpr qsizetype pieceSize = 64 * 1024;

// One connection's body, produced piece by piece as the connection takes it.
class BodySource final
{
public:
    BodySource(EndlessBodyServer::Coding coding, quint32 seed)
        : m_coding(coding), m_text(pieceSize, Qt::Uninitialized)
    {
        // Letters at random: text that compresses, but not so well that a decoder takes the
        // stream for a decompression bomb.
        QRandomGenerator random(seed);
        for (char &c : m_text)
            c = char('a' + random.bounded(26));
        std::memset(&m_stream, 0, sizeof(m_stream));
        if (m_coding == EndlessBodyServer::Coding::gzip)
            deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY);
    }
    ~BodySource()
    {
        if (m_coding == EndlessBodyServer::Coding::gzip)
            deflateEnd(&m_stream);
    }
    BodySource(const BodySource &) = delete;
    BodySource &operator=(const BodySource &) = delete;

    QByteArray head() const
    {
        QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n";
        if (m_coding == EndlessBodyServer::Coding::gzip)
            head += "Content-Encoding: gzip\r\n";
        return head + "\r\n";
    }

    QByteArray next()
    {
        if (m_coding == EndlessBodyServer::Coding::identity)
            return m_text;
        QByteArray out(pieceSize + 1024, Qt::Uninitialized);
        m_stream.next_in = reinterpret_cast<Bytef *>(m_text.data());
        m_stream.avail_in = uInt(m_text.size());
        m_stream.next_out = reinterpret_cast<Bytef *>(out.data());
        m_stream.avail_out = uInt(out.size());
        deflate(&m_stream, Z_SYNC_FLUSH);
        out.resize(out.size() - qsizetype(m_stream.avail_out));
        return out;
    }

private:
    EndlessBodyServer::Coding m_coding;
    QByteArray m_text;
    z_stream m_stream;
};

} // namespace

// Lives in the server's thread.
class EndlessBodyServer::Listener final : public QTcpServer
{
public:
    Listener(Coding coding, qint64 totalBytes, std::shared_ptr<std::atomic<qint64>> sent)
        : m_coding(coding), m_totalBytes(totalBytes), m_sent(std::move(sent)) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        // A small send buffer: what the system holds for the client stays small beside the cap.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, pieceSize);
        auto source = std::make_shared<BodySource>(m_coding, quint32(descriptor));
        auto written = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // Keeps one piece waiting beyond what the system took, no more.
        auto pump = [this, socket, source, written] {
            while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < pieceSize
                   && *written < m_totalBytes) {
                const QByteArray piece = source->next();
                socket->write(piece);
                *written += piece.size();
            }
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket](qint64 bytes) {
            // The head went out first; it is not body.
            const qint64 headLeft = socket->property("headLeft").toLongLong();
            const qint64 head = std::min(headLeft, bytes);
            socket->setProperty("headLeft", headLeft - head);
            m_sent->fetch_add(bytes - head);
        });
        connect(socket, &QTcpSocket::bytesWritten, socket, pump);
        connect(socket, &QTcpSocket::readyRead, socket, [socket, source, pump] {
            // The answer starts once the request's head is in; a body it announces is read and dropped.
            const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
            socket->setProperty("request", request);
            if (socket->property("answered").toBool() || !request.contains("\r\n\r\n"))
                return;
            socket->setProperty("answered", true);
            const QByteArray head = source->head();
            socket->setProperty("headLeft", qint64(head.size()));
            socket->write(head);
            pump();
        });
    }

private:
    Coding m_coding;
    qint64 m_totalBytes;
    std::shared_ptr<std::atomic<qint64>> m_sent;
};

EndlessBodyServer::EndlessBodyServer(Coding coding, qint64 totalBytes, QObject *parent)
    : QObject(parent), m_coding(coding), m_totalBytes(totalBytes)
{
}

EndlessBodyServer::~EndlessBodyServer()
{
    // The connections go with the listener, in their own thread.
    if (m_listener && m_thread.isRunning())
        QMetaObject::invokeMethod(m_listener, [this] { delete m_listener; }, Qt::BlockingQueuedConnection);
    else
        delete m_listener;
    m_thread.quit();
    m_thread.wait();
}

bool EndlessBodyServer::start()
{
    m_listener = new Listener(m_coding, m_totalBytes, m_sent);
    m_listener->moveToThread(&m_thread);
    m_thread.start();
    bool listening = false;
    QMetaObject::invokeMethod(
        m_listener,
        [this, &listening] {
            listening = m_listener->listen(QHostAddress::LocalHost);
            m_port = m_listener->serverPort();
        },
        Qt::BlockingQueuedConnection);
    return listening;
}

QUrl EndlessBodyServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port));
}
