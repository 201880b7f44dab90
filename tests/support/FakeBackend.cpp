#include "FakeBackend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

// A request head larger than this is not something our clients send; refuse it rather than
// buffering forever.
constexpr qint64 MaxHeadBytes = 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 101: return "Switching Protocols";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 422: return "Unprocessable Entity";
    case 426: return "Upgrade Required";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// RecordedRequest / FakeResponse

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (sameName(key, name))
            return value;
    }
    return {};
}

int RecordedRequest::headerCount(const QByteArray &name) const
{
    int count = 0;
    for (const auto &header : headers) {
        if (sameName(header.first, name))
            ++count;
    }
    return count;
}

QJsonObject RecordedRequest::json() const
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    return document.isObject() ? document.object() : QJsonObject();
}

FakeResponse FakeResponse::json(int status, const QJsonObject &object)
{
    return json(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

FakeResponse FakeResponse::json(int status, const QByteArray &rawJson)
{
    return text(status, rawJson, "application/json");
}

FakeResponse FakeResponse::text(int status, const QByteArray &body, const QByteArray &contentType)
{
    FakeResponse response;
    response.status = status;
    response.body = body;
    response.headers.append({"Content-Type", contentType});
    return response;
}

FakeResponse FakeResponse::empty(int status)
{
    FakeResponse response;
    response.status = status;
    return response;
}

FakeResponse FakeResponse::dropConnection()
{
    FakeResponse response;
    response.action = Action::CloseWithoutAnswer;
    return response;
}

FakeResponse FakeResponse::hang()
{
    FakeResponse response;
    response.action = Action::NeverAnswer;
    return response;
}

// ---------------------------------------------------------------------------------------------
// FakeWebSocketSession

FakeWebSocketSession::FakeWebSocketSession(QWebSocket *socket, RecordedRequest upgrade, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_upgrade(std::move(upgrade))
{
    socket->setParent(this);
    connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString &message) {
        const QByteArray utf8 = message.toUtf8();
        m_frames.append({false, utf8});
        Q_EMIT textReceived(utf8);
    });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray &data) {
        m_frames.append({true, data});
        Q_EMIT binaryReceived(data);
    });
    // QWebSocket announces aboutToClose when it answers the peer's close frame, but also when we
    // close or abort (a peer that just drops TCP causes none); only the first tells us what the
    // client sent.
    connect(socket, &QWebSocket::aboutToClose, this, [this] {
        if (!m_closeStartedHere && m_clientCloseCode < 0 && m_socket) {
            m_clientCloseCode = m_socket->closeCode();
            m_clientCloseReason = m_socket->closeReason();
        }
    });
    connect(socket, &QWebSocket::disconnected, this, [this] { Q_EMIT disconnected(); });
}

FakeWebSocketSession::~FakeWebSocketSession()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket.data();
    }
}

QList<QByteArray> FakeWebSocketSession::textFrames() const
{
    QList<QByteArray> result;
    for (const Frame &frame : m_frames) {
        if (!frame.binary)
            result.append(frame.data);
    }
    return result;
}

QList<QByteArray> FakeWebSocketSession::binaryFrames() const
{
    QList<QByteArray> result;
    for (const Frame &frame : m_frames) {
        if (frame.binary)
            result.append(frame.data);
    }
    return result;
}

bool FakeWebSocketSession::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void FakeWebSocketSession::sendText(const QByteArray &utf8)
{
    if (m_socket)
        m_socket->sendTextMessage(QString::fromUtf8(utf8));
}

void FakeWebSocketSession::sendJson(const QJsonObject &object)
{
    sendText(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void FakeWebSocketSession::sendBinary(const QByteArray &data)
{
    if (m_socket)
        m_socket->sendBinaryMessage(data);
}

void FakeWebSocketSession::close(int code, const QString &reason)
{
    if (!m_socket)
        return;
    m_closeStartedHere = true;
    m_socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
}

void FakeWebSocketSession::abort()
{
    m_closeStartedHere = true;
    if (m_socket)
        m_socket->abort();
}

// ---------------------------------------------------------------------------------------------
// FakeBackend

struct FakeBackend::Connection
{
    struct Pending
    {
        quint64 id = 0;
        FakeResponse response;
        bool keepAlive = true;
        bool ready = false;
    };

    QList<Pending> queue; // answers in request order; HTTP/1.1 forbids reordering them
    quint64 nextId = 0;
    bool stalled = false;            // a NeverAnswer reached the head: nothing more is written
    bool closing = false;            // the connection is being closed, nothing more is read
    bool waitingForUpgrade = false;  // an upgrade waits until earlier answers are out
};

FakeBackend::FakeBackend(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_webSocketServer(new QWebSocketServer(QStringLiteral("FakeBackend"), QWebSocketServer::NonSecureMode, this))
{
    connect(m_server, &QTcpServer::newConnection, this, &FakeBackend::onNewConnection);
    connect(m_webSocketServer, &QWebSocketServer::newConnection, this, &FakeBackend::onWebSocketAccepted);
}

FakeBackend::~FakeBackend()
{
    // Tear down by hand: children destroyed by ~QObject could still signal into members that
    // are already gone.
    for (auto &[path, session] : m_sessions)
        delete session.data();
    m_sessions.clear();

    const QList<QTcpSocket *> sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }

    m_webSocketServer->disconnect(this);
    delete m_webSocketServer;
    m_webSocketServer = nullptr;

    // Also owns sockets still in a websocket handshake and sockets waiting for deleteLater.
    m_server->disconnect(this);
    m_server->close();
    delete m_server;
    m_server = nullptr;
}

bool FakeBackend::start()
{
    if (m_server->isListening())
        return true;
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FakeBackend::port() const
{
    return m_server->serverPort();
}

QUrl FakeBackend::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

QUrl FakeBackend::webSocketBaseUrl() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port()));
}

void FakeBackend::route(const QByteArray &method, const QString &path, FakeHttpHandler handler)
{
    m_routes.removeIf([&](const Route &existing) { return existing.method == method && existing.path == path; });
    m_routes.append({method, path, std::move(handler)});
}

void FakeBackend::route(const QByteArray &method, const QString &path, const FakeResponse &response)
{
    route(method, path, [response](const RecordedRequest &) { return response; });
}

void FakeBackend::routeSequence(const QByteArray &method, const QString &path, const QList<FakeResponse> &responses)
{
    if (responses.isEmpty()) {
        route(method, path, FakeResponse::empty(404));
        return;
    }
    auto next = std::make_shared<qsizetype>(0);
    route(method, path, [responses, next](const RecordedRequest &) {
        const qsizetype index = std::min(*next, responses.size() - 1);
        ++*next;
        return responses.at(index);
    });
}

void FakeBackend::webSocketRoute(const QString &path, FakeWebSocketRoute route)
{
    m_webSocketRoutes.insert(path, std::move(route));
}

QList<RecordedRequest> FakeBackend::requests(const QString &path) const
{
    QList<RecordedRequest> result;
    for (const RecordedRequest &request : m_requests) {
        if (request.path == path)
            result.append(request);
    }
    return result;
}

int FakeBackend::requestCount(const QString &path) const
{
    return int(requests(path).size());
}

QList<RecordedRequest> FakeBackend::upgradeRequests(const QString &path) const
{
    QList<RecordedRequest> result;
    for (const auto &[upgradePath, request] : m_upgrades) {
        if (upgradePath == path)
            result.append(request);
    }
    return result;
}

QList<FakeWebSocketSession *> FakeBackend::webSocketSessions(const QString &path) const
{
    QList<FakeWebSocketSession *> result;
    for (const auto &[sessionPath, session] : m_sessions) {
        if (sessionPath == path && session)
            result.append(session.data());
    }
    return result;
}

void FakeBackend::clearRecords()
{
    // Their room too: a long run measures the heap after clearing them.
    m_requests = {};
    m_upgrades = {};
}

void FakeBackend::dropClosedWebSockets()
{
    QList<QPair<QString, QPointer<FakeWebSocketSession>>> open;
    for (const auto &[path, session] : std::as_const(m_sessions)) {
        if (session && session->isConnected())
            open.append({path, session});
        else
            delete session.data();
    }
    m_sessions = open;
}

bool FakeBackend::waitUntil(const std::function<bool()> &predicate, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!predicate()) {
        if (elapsed.elapsed() >= timeoutMs)
            return predicate();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    }
    return true;
}

void FakeBackend::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, std::make_shared<Connection>());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onDisconnected(socket); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void FakeBackend::onReadyRead(QTcpSocket *socket)
{
    parseRequests(socket);
}

void FakeBackend::onDisconnected(QTcpSocket *socket)
{
    forget(socket);
}

void FakeBackend::forget(QTcpSocket *socket)
{
    m_connections.remove(socket);
    socket->disconnect(this);
    socket->deleteLater();
}

void FakeBackend::record(const RecordedRequest &request)
{
    m_requests.append(request);
    Q_EMIT requestReceived(request);
}

// Reads requests straight off the socket's buffer. Bytes are only consumed once a request is
// complete and known to be plain HTTP: an accepted websocket upgrade must reach
// QWebSocketServer untouched.
void FakeBackend::parseRequests(QTcpSocket *socket)
{
    for (;;) {
        const std::shared_ptr<Connection> connection = m_connections.value(socket);
        if (!connection || connection->closing || connection->waitingForUpgrade)
            return;
        const qint64 available = socket->bytesAvailable();
        if (available <= 0)
            return;
        const QByteArray data = socket->peek(std::min(available, MaxHeadBytes + 4));
        const qsizetype headEnd = data.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (available > MaxHeadBytes) {
                writeResponse(socket, FakeResponse::empty(431), false);
                connection->closing = true;
                socket->disconnectFromHost();
            }
            return;
        }

        const QList<QByteArray> lines = data.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        RecordedRequest request;
        bool valid = requestLine.size() == 3 && requestLine.at(2).startsWith("HTTP/1.")
                     && requestLine.at(1).startsWith('/');
        for (qsizetype i = 1; valid && i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).endsWith('\r') ? lines.at(i).chopped(1) : lines.at(i);
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                valid = false;
                break;
            }
            request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        }
        qint64 contentLength = 0;
        if (valid && request.headerCount("Content-Length") > 0) {
            bool ok = false;
            contentLength = request.header("Content-Length").toLongLong(&ok);
            valid = ok && contentLength >= 0;
        }
        if (!valid || request.headerCount("Transfer-Encoding") > 0) {
            socket->read(available);
            writeResponse(socket, FakeResponse::empty(valid ? 501 : 400), false);
            connection->closing = true;
            socket->disconnectFromHost();
            return;
        }
        const qint64 total = headEnd + 4 + contentLength;
        if (available < total)
            return;

        request.method = requestLine.at(0);
        const QByteArray target = requestLine.at(1);
        const qsizetype question = target.indexOf('?');
        const QByteArray rawPath = question < 0 ? target : target.left(question);
        request.path = QString::fromUtf8(QByteArray::fromPercentEncoding(rawPath));
        if (question >= 0) {
            request.rawQuery = QString::fromUtf8(target.mid(question + 1));
            request.query = QUrlQuery(request.rawQuery);
        }

        const QByteArray connectionHeader = request.header("Connection").toLower();
        const bool keepAlive = requestLine.at(2) == "HTTP/1.0" ? connectionHeader.contains("keep-alive")
                                                                : !connectionHeader.contains("close");
        const bool isUpgrade = request.header("Upgrade").toLower().contains("websocket");
        const auto webSocketRoute = m_webSocketRoutes.constFind(request.path);
        const bool routedUpgrade = isUpgrade && webSocketRoute != m_webSocketRoutes.constEnd();

        if (routedUpgrade && webSocketRoute->rejectStatus == 0 && !webSocketRoute->neverAnswer) {
            if (!connection->queue.isEmpty()) {
                connection->waitingForUpgrade = true;
                return;
            }
            request.body = data.mid(headEnd + 4, contentLength);
            handOver(socket, request);
            return;
        }

        socket->read(headEnd + 4); // consume the head
        request.body = socket->read(contentLength);
        if (isUpgrade)
            m_upgrades.append({request.path, request});
        record(request);

        if (routedUpgrade) {
            // Copy: a requestReceived slot may have replaced the route.
            const FakeWebSocketRoute route = m_webSocketRoutes.value(request.path);
            if (route.neverAnswer)
                enqueue(socket, FakeResponse::hang(), false);
            else
                enqueue(socket, FakeResponse::text(route.rejectStatus, route.rejectBody), false);
        } else if (isUpgrade) {
            enqueue(socket, FakeResponse::text(404, "no such websocket"), false);
        } else {
            enqueue(socket, answerFor(request), keepAlive);
        }
    }
}

FakeResponse FakeBackend::answerFor(const RecordedRequest &request)
{
    // An exact method beats "*".
    const Route *wildcard = nullptr;
    for (const Route &candidate : std::as_const(m_routes)) {
        if (candidate.path != request.path)
            continue;
        if (candidate.method == request.method) {
            const FakeHttpHandler handler = candidate.handler; // the handler may change the routes
            return handler(request);
        }
        if (candidate.method == "*")
            wildcard = &candidate;
    }
    if (wildcard) {
        const FakeHttpHandler handler = wildcard->handler;
        return handler(request);
    }
    return FakeResponse::text(404, "not found");
}

void FakeBackend::enqueue(QTcpSocket *socket, const FakeResponse &response, bool keepAlive)
{
    const std::shared_ptr<Connection> connection = m_connections.value(socket);
    if (!connection)
        return;
    const quint64 id = connection->nextId++;
    connection->queue.append({id, response, keepAlive, response.delayMs <= 0});
    if (response.delayMs > 0) {
        QTimer::singleShot(response.delayMs, socket, [this, socket, id] {
            const std::shared_ptr<Connection> connection = m_connections.value(socket);
            if (!connection)
                return;
            for (Connection::Pending &pending : connection->queue) {
                if (pending.id == id)
                    pending.ready = true;
            }
            flushResponses(socket);
        });
    }
    flushResponses(socket);
}

void FakeBackend::flushResponses(QTcpSocket *socket)
{
    const std::shared_ptr<Connection> connection = m_connections.value(socket);
    if (!connection)
        return;
    while (!connection->queue.isEmpty() && connection->queue.first().ready && !connection->stalled
           && !connection->closing) {
        const Connection::Pending pending = connection->queue.takeFirst();
        switch (pending.response.action) {
        case FakeResponse::Action::Respond:
            writeResponse(socket, pending.response, pending.keepAlive);
            if (!pending.keepAlive) {
                connection->closing = true;
                socket->disconnectFromHost();
            }
            break;
        case FakeResponse::Action::CloseWithoutAnswer:
            connection->closing = true;
            socket->disconnectFromHost();
            break;
        case FakeResponse::Action::NeverAnswer:
            connection->stalled = true;
            break;
        }
    }
    if (connection->waitingForUpgrade && connection->queue.isEmpty() && !connection->stalled
        && !connection->closing) {
        connection->waitingForUpgrade = false;
        parseRequests(socket);
    }
}

void FakeBackend::handOver(QTcpSocket *socket, const RecordedRequest &request)
{
    m_pendingUpgrades.append({request.header("Sec-WebSocket-Key"), request.path, request});
    m_upgrades.append({request.path, request});
    m_connections.remove(socket);
    socket->disconnect(this);
    record(request);
    // QWebSocketServer peeks the handshake from the socket's unread data itself (it re-emits
    // readyRead for data that is already buffered).
    m_webSocketServer->handleConnection(socket);
}

void FakeBackend::onWebSocketAccepted()
{
    while (QWebSocket *webSocket = m_webSocketServer->nextPendingConnection()) {
        const QByteArray key = webSocket->request().rawHeader("Sec-WebSocket-Key");
        qsizetype index = -1;
        for (qsizetype i = 0; i < m_pendingUpgrades.size(); ++i) {
            if (!key.isEmpty() && m_pendingUpgrades.at(i).key == key) {
                index = i;
                break;
            }
        }
        for (qsizetype i = 0; index < 0 && i < m_pendingUpgrades.size(); ++i) {
            if (m_pendingUpgrades.at(i).path == webSocket->requestUrl().path())
                index = i;
        }
        if (index < 0) {
            // Not a handshake we handed over; nothing to attach it to.
            webSocket->abort();
            webSocket->deleteLater();
            continue;
        }
        const PendingUpgrade pending = m_pendingUpgrades.takeAt(index);
        auto *session = new FakeWebSocketSession(webSocket, pending.request, this);
        m_sessions.append({pending.path, session});
        Q_EMIT webSocketConnected(session);
        const FakeWebSocketRoute route = m_webSocketRoutes.value(pending.path);
        if (route.onOpen)
            route.onOpen(session);
    }
}

void FakeBackend::writeResponse(QTcpSocket *socket, const FakeResponse &response, bool keepAlive)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    bool hasLength = false;
    for (const auto &[name, value] : response.headers) {
        hasLength = hasLength || sameName(name, "Content-Length");
        out += name + ": " + value + "\r\n";
    }
    if (!hasLength)
        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    if (!keepAlive)
        out += "Connection: close\r\n";
    out += "\r\n";
    out += response.body;
    socket->write(out);
}

QTcpSocket *FakeBackend::transportOf(FakeWebSocketSession *session) const
{
    if (!session)
        return nullptr;
    auto *webSocket = session->findChild<QWebSocket *>(QString(), Qt::FindDirectChildrenOnly);
    if (!webSocket)
        return nullptr;
    // QWebSocket does not show its TCP socket, and does not own it either when it was made
    // by a server; it is one of the backend's sockets, the one with the same two ports.
    const auto sockets = findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets) {
        if (socket->localPort() == webSocket->localPort() && socket->peerPort() == webSocket->peerPort())
            return socket;
    }
    return nullptr;
}

bool FakeBackend::stallReading(FakeWebSocketSession *session) const
{
    QTcpSocket *socket = transportOf(session);
    if (!socket)
        return false;
    // QWebSocket reads whatever readyRead offers; silencing the signal and capping Qt's own
    // buffer leaves the bytes in the kernel, whose buffers then fill.
    socket->blockSignals(true);
    socket->setReadBufferSize(4096);
    return true;
}

void FakeBackend::resumeReading(FakeWebSocketSession *session) const
{
    QTcpSocket *socket = transportOf(session);
    if (!socket)
        return;
    socket->setReadBufferSize(0);
    socket->blockSignals(false);
    QMetaObject::invokeMethod(socket, "readyRead", Qt::QueuedConnection);
}
