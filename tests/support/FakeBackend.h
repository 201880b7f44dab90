#pragma once

// A real HTTP/1.1 and websocket server on 127.0.0.1 with an ephemeral port, programmed per
// test. Every request (and every websocket frame) is recorded so tests can assert on it.
// Point code at it with KAVREL_AUTH_BASE_URL=<baseUrl()>.

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

struct RecordedRequest
{
    QByteArray method;
    QString path;          // decoded path, without the query
    QString rawQuery;      // the query exactly as sent (order kept)
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names as sent
    QByteArray body;

    // First header with this name (case-insensitive), or empty.
    QByteArray header(const QByteArray &name) const;
    // How often a header with this name occurs (case-insensitive).
    int headerCount(const QByteArray &name) const;
    // The body parsed as a JSON object (empty when it is not one).
    QJsonObject json() const;
};

struct FakeResponse
{
    enum class Action {
        Respond,            // send status, headers and body
        CloseWithoutAnswer, // close the connection without writing anything
        NeverAnswer,        // keep the connection open and never write
    };

    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    int delayMs = 0;
    Action action = Action::Respond;

    static FakeResponse json(int status, const QJsonObject &object);
    static FakeResponse json(int status, const QByteArray &rawJson);
    static FakeResponse text(int status, const QByteArray &body, const QByteArray &contentType = "text/plain");
    static FakeResponse empty(int status);
    static FakeResponse dropConnection();
    static FakeResponse hang();

    FakeResponse &withHeader(const QByteArray &name, const QByteArray &value)
    {
        headers.append({name, value});
        return *this;
    }
    FakeResponse &withDelay(int milliseconds)
    {
        delayMs = milliseconds;
        return *this;
    }
};

using FakeHttpHandler = std::function<FakeResponse(const RecordedRequest &)>;

// One accepted websocket connection on the fake backend.
class FakeWebSocketSession final : public QObject
{
    Q_OBJECT

public:
    struct Frame
    {
        bool binary = false;
        QByteArray data; // UTF-8 for text frames
    };

    FakeWebSocketSession(QWebSocket *socket, RecordedRequest upgrade, QObject *parent = nullptr);
    ~FakeWebSocketSession() override;

    const RecordedRequest &upgradeRequest() const { return m_upgrade; }
    const QList<Frame> &frames() const { return m_frames; }
    QList<QByteArray> textFrames() const;
    QList<QByteArray> binaryFrames() const;
    // Forgets the frames received so far (a long run keeps only what it checks), and the room
    // they took: clear() would keep it, and a long run measures the heap.
    void clearFrames() { m_frames = {}; }
    bool isConnected() const;
    // Close code and reason of a close handshake the client started (-1 when it has not
    // started one; an echo of our own close() is not counted).
    int clientCloseCode() const { return m_clientCloseCode; }
    QString clientCloseReason() const { return m_clientCloseReason; }

    void sendText(const QByteArray &utf8);
    void sendJson(const QJsonObject &object);
    void sendBinary(const QByteArray &data);
    // A clean close handshake with a code and reason.
    void close(int code = 1000, const QString &reason = QString());
    // Drops the TCP connection without a close handshake.
    void abort();

Q_SIGNALS:
    void textReceived(const QByteArray &utf8);
    void binaryReceived(const QByteArray &data);
    void disconnected();

private:
    QPointer<QWebSocket> m_socket;
    RecordedRequest m_upgrade;
    QList<Frame> m_frames;
    int m_clientCloseCode = -1;
    QString m_clientCloseReason;
    bool m_closeStartedHere = false;
};

struct FakeWebSocketRoute
{
    // 0 accepts the upgrade; another status answers the upgrade with that HTTP status and
    // closes the connection.
    int rejectStatus = 0;
    QByteArray rejectBody;
    // Keep the connection open and never answer the upgrade.
    bool neverAnswer = false;
    // Called once the connection is open.
    std::function<void(FakeWebSocketSession *)> onOpen;
};

class FakeBackend final : public QObject
{
    Q_OBJECT

public:
    explicit FakeBackend(QObject *parent = nullptr);
    ~FakeBackend() override;

    // Listens on 127.0.0.1 with an ephemeral port. Returns false when that fails.
    bool start();
    quint16 port() const;
    // http://127.0.0.1:<port>
    QUrl baseUrl() const;
    // ws://127.0.0.1:<port>
    QUrl webSocketBaseUrl() const;

    // Routes match the method ("*" for any) and the exact path. A later route for the same
    // method and path replaces the earlier one. Unrouted requests get 404.
    void route(const QByteArray &method, const QString &path, FakeHttpHandler handler);
    void route(const QByteArray &method, const QString &path, const FakeResponse &response);
    // Answers the given responses in turn; the last one repeats.
    void routeSequence(const QByteArray &method, const QString &path, const QList<FakeResponse> &responses);
    void webSocketRoute(const QString &path, FakeWebSocketRoute route);

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requests(const QString &path) const;
    int requestCount(const QString &path) const;
    // Upgrade requests are recorded here too, whether accepted or not.
    QList<RecordedRequest> upgradeRequests(const QString &path) const;
    QList<FakeWebSocketSession *> webSocketSessions(const QString &path) const;
    void clearRecords();
    // Deletes the websocket sessions whose connection has ended, with their sockets and
    // upgrade requests (a long run keeps what a server would let go); the relays' pointers to
    // them become null.
    void dropClosedWebSockets();
    // HTTP connections open now (a websocket leaves this count once it is upgraded).
    int openConnectionCount() const { return int(m_connections.size()); }

    // Stops reading a websocket connection: the client's bytes pile up in the kernel buffers
    // and then in the client. Returns false when the socket could not be reached.
    bool stallReading(FakeWebSocketSession *session) const;
    void resumeReading(FakeWebSocketSession *session) const;

    // Test helper: waits (spinning the event loop) until the predicate holds or the time-out
    // passes. Returns the predicate's last value.
    static bool waitUntil(const std::function<bool()> &predicate, int timeoutMs = 5000);

Q_SIGNALS:
    void requestReceived(const RecordedRequest &request);
    void webSocketConnected(FakeWebSocketSession *session);

private:
    struct Connection;
    struct PendingUpgrade
    {
        QByteArray key; // Sec-WebSocket-Key, identifies the handshake once it is accepted
        QString path;
        RecordedRequest request;
    };
    struct Route
    {
        QByteArray method;
        QString path;
        FakeHttpHandler handler;
    };

    QTcpSocket *transportOf(FakeWebSocketSession *session) const;
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void onDisconnected(QTcpSocket *socket);
    void onWebSocketAccepted();
    void parseRequests(QTcpSocket *socket);
    void record(const RecordedRequest &request);
    FakeResponse answerFor(const RecordedRequest &request);
    void enqueue(QTcpSocket *socket, const FakeResponse &response, bool keepAlive);
    void flushResponses(QTcpSocket *socket);
    void handOver(QTcpSocket *socket, const RecordedRequest &request);
    void writeResponse(QTcpSocket *socket, const FakeResponse &response, bool keepAlive);
    void forget(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    QWebSocketServer *m_webSocketServer = nullptr;
    QList<Route> m_routes;
    QHash<QString, FakeWebSocketRoute> m_webSocketRoutes;
    QList<RecordedRequest> m_requests;
    QList<QPair<QString, RecordedRequest>> m_upgrades;
    QList<QPair<QString, QPointer<FakeWebSocketSession>>> m_sessions;
    QHash<QTcpSocket *, std::shared_ptr<Connection>> m_connections;
    QList<PendingUpgrade> m_pendingUpgrades;
};
