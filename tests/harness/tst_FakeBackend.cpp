#include "support/FakeBackend.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

struct RawResponse
{
    int status = 0;
    QByteArray statusLine;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    int headerCount(const QByteArray &name) const
    {
        int count = 0;
        for (const auto &header : headers)
            count += header.first.compare(name, Qt::CaseInsensitive) == 0;
        return count;
    }
};

// Reads whole responses (Content-Length framed) off a raw socket, so tests see the wire.
class RawClient
{
public:
    explicit RawClient(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { m_buffer += m_socket.readAll(); });
    }

    bool waitConnected() { return m_socket.waitForConnected(5000); }

    // Writes the bytes in pieces, letting the server read each piece on its own.
    void send(const QByteArray &bytes, qsizetype pieceSize)
    {
        for (qsizetype offset = 0; offset < bytes.size(); offset += pieceSize) {
            m_socket.write(bytes.mid(offset, pieceSize));
            m_socket.flush();
            if (pieceSize < bytes.size())
                QTest::qWait(5);
        }
    }

    std::optional<RawResponse> takeResponse()
    {
        const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return std::nullopt;
        RawResponse response;
        const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
        response.statusLine = lines.first().trimmed();
        response.status = response.statusLine.split(' ').value(1).toInt();
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            response.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
            if (line.left(colon).compare("Content-Length", Qt::CaseInsensitive) == 0)
                length = line.mid(colon + 1).trimmed().toLongLong();
        }
        if (m_buffer.size() < headEnd + 4 + length)
            return std::nullopt;
        response.body = m_buffer.mid(headEnd + 4, length);
        m_buffer.remove(0, headEnd + 4 + length);
        return response;
    }

    QList<RawResponse> waitForResponses(int count, int timeoutMs = 5000)
    {
        QList<RawResponse> responses;
        FakeBackend::waitUntil(
            [&] {
                while (auto response = takeResponse())
                    responses.append(*response);
                return responses.size() >= count;
            },
            timeoutMs);
        return responses;
    }

    QTcpSocket &socket() { return m_socket; }
    QByteArray &buffer() { return m_buffer; }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

std::unique_ptr<QNetworkReply> waitFor(QNetworkReply *reply, int timeoutMs = 5000)
{
    FakeBackend::waitUntil([reply] { return reply->isFinished(); }, timeoutMs);
    return std::unique_ptr<QNetworkReply>(reply);
}

QNetworkRequest requestTo(const FakeBackend &backend, const QString &pathAndQuery)
{
    return QNetworkRequest(QUrl(backend.baseUrl().toString() + pathAndQuery));
}

QNetworkRequest upgradeTo(const FakeBackend &backend, const QString &path)
{
    QNetworkRequest request(QUrl(backend.webSocketBaseUrl().toString() + path));
    request.setRawHeader("Authorization", "Bearer token-1");
    request.setRawHeader("Cookie", "session=abc");
    request.setRawHeader("Origin", "https://kavrel.test");
    return request;
}

const QByteArray rawHandshake = "GET /ws HTTP/1.1\r\n"
                                "Host: 127.0.0.1\r\n"
                                "Upgrade: websocket\r\n"
                                "Connection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                "Sec-WebSocket-Version: 13\r\n"
                                "\r\n";

} // namespace

class tst_FakeBackend final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void routedReplies();
    void setCookieHeadersStaySeparate();
    void routeSequenceAnswersInTurn();
    void recordsRequestAsSent();
    void keepAliveAndPipelining_data();
    void keepAliveAndPipelining();
    void delayDoesNotBlockOtherRequests();
    void droppedConnectionFailsTheRequest();
    void hangNeverAnswers();
    void httpAndWebSocketShareThePort();
    void webSocketEnds_data();
    void webSocketEnds();
    void rejectedUpgrade_data();
    void rejectedUpgrade();
    void unansweredUpgradeStaysPending();
    void upgradeHandshakeReachesWebSocketServer_data();
    void upgradeHandshakeReachesWebSocketServer();
};

void tst_FakeBackend::routedReplies()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", "/v1/me",
                  FakeResponse::json(201, QJsonObject{{"name", "Ada"}}).withHeader("X-Trace", "t-1"));
    backend.route("GET", "/v1/replaced", FakeResponse::text(200, "first"));
    backend.route("GET", "/v1/replaced", FakeResponse::text(200, "second"));
    backend.route("*", "/v1/any", FakeResponse::text(200, "any"));
    backend.route("POST", "/v1/any", FakeResponse::text(200, "post"));
    QNetworkAccessManager nam;

    auto me = waitFor(nam.get(requestTo(backend, "/v1/me")));
    QCOMPARE(me->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 201);
    QCOMPARE(me->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray(), "Created");
    QCOMPARE(me->rawHeader("X-Trace"), "t-1");
    QCOMPARE(me->header(QNetworkRequest::ContentTypeHeader).toString(), "application/json");
    QCOMPARE(QJsonDocument::fromJson(me->readAll()).object().value("name").toString(), "Ada");

    QCOMPARE(waitFor(nam.get(requestTo(backend, "/v1/replaced")))->readAll(), "second");
    QCOMPARE(waitFor(nam.get(requestTo(backend, "/v1/any")))->readAll(), "any");
    QNetworkRequest post = requestTo(backend, "/v1/any");
    post.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QCOMPARE(waitFor(nam.post(post, QByteArray("{}")))->readAll(), "post");

    post.setUrl(requestTo(backend, "/v1/me").url());
    auto wrongMethod = waitFor(nam.post(post, QByteArray("{}")));
    QCOMPARE(wrongMethod->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
    auto unrouted = waitFor(nam.get(requestTo(backend, "/nowhere")));
    QCOMPARE(unrouted->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
    QCOMPARE(unrouted->error(), QNetworkReply::ContentNotFoundError);
    QCOMPARE(backend.requestCount("/nowhere"), 1);
}

void tst_FakeBackend::setCookieHeadersStaySeparate()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("POST", "/login",
                  FakeResponse::empty(204)
                      .withHeader("Set-Cookie", "a=1; Path=/; HttpOnly")
                      .withHeader("Set-Cookie", "b=2; Path=/"));

    RawClient raw(backend.port());
    QVERIFY(raw.waitConnected());
    raw.send("POST /login HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 1024);
    const QList<RawResponse> responses = raw.waitForResponses(1);
    QCOMPARE(responses.size(), 1);
    QCOMPARE(responses.first().statusLine, "HTTP/1.1 204 No Content");
    QCOMPARE(responses.first().headerCount("Set-Cookie"), 2);

    QNetworkAccessManager nam;
    QNetworkRequest login = requestTo(backend, "/login");
    login.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    auto reply = waitFor(nam.post(login, QByteArray("{}")));
    const auto cookies = reply->header(QNetworkRequest::SetCookieHeader).value<QList<QNetworkCookie>>();
    QCOMPARE(cookies.size(), 2);
    QCOMPARE(cookies.at(0).name(), "a");
    QVERIFY(cookies.at(0).isHttpOnly());
    QCOMPARE(cookies.at(1).value(), "2");
}

void tst_FakeBackend::routeSequenceAnswersInTurn()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.routeSequence("GET", "/poll",
                          {FakeResponse::text(500, "one"), FakeResponse::text(202, "two"),
                           FakeResponse::text(200, "last")});
    QNetworkAccessManager nam;
    QList<QByteArray> bodies;
    QList<int> statuses;
    for (int i = 0; i < 5; ++i) {
        auto reply = waitFor(nam.get(requestTo(backend, "/poll")));
        statuses.append(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
        bodies.append(reply->readAll());
    }
    QCOMPARE(statuses, (QList<int>{500, 202, 200, 200, 200}));
    QCOMPARE(bodies, (QList<QByteArray>{"one", "two", "last", "last", "last"}));
}

void tst_FakeBackend::recordsRequestAsSent()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    QSignalSpy received(&backend, &FakeBackend::requestReceived);
    RecordedRequest seenByHandler;
    backend.route("POST", "/v1/items x", [&](const RecordedRequest &request) {
        seenByHandler = request;
        return FakeResponse::empty(200);
    });

    RawClient raw(backend.port());
    QVERIFY(raw.waitConnected());
    const QByteArray body = R"({"title":"Weekly"})";
    raw.send("POST /v1/items%20x?b=2&a=1&a=%2B3 HTTP/1.1\r\n"
             "Host: 127.0.0.1\r\n"
             "x-lower: one\r\n"
             "X-Mixed-Case:  two  \r\n"
             "x-lower: three\r\n"
             "Content-Length: "
                 + QByteArray::number(body.size()) + "\r\n\r\n" + body,
             1024);
    QCOMPARE(raw.waitForResponses(1).size(), 1);

    QCOMPARE(backend.requests().size(), 1);
    const RecordedRequest request = backend.requests().first();
    QCOMPARE(request.method, "POST");
    QCOMPARE(request.path, "/v1/items x");
    QCOMPARE(request.rawQuery, "b=2&a=1&a=%2B3");
    QCOMPARE(request.query.allQueryItemValues("a", QUrl::FullyDecoded), (QStringList{"1", "+3"}));
    QCOMPARE(request.headers.size(), 5);
    QCOMPARE(request.headers.at(1), qMakePair(QByteArray("x-lower"), QByteArray("one")));
    QCOMPARE(request.headers.at(2), qMakePair(QByteArray("X-Mixed-Case"), QByteArray("two")));
    QCOMPARE(request.headers.at(3), qMakePair(QByteArray("x-lower"), QByteArray("three")));
    QCOMPARE(request.header("X-LOWER"), "one");
    QCOMPARE(request.headerCount("X-Lower"), 2);
    QCOMPARE(request.body, body);
    QCOMPARE(request.json().value("title").toString(), "Weekly");
    QCOMPARE(seenByHandler.body, body);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().first().value<RecordedRequest>().path, "/v1/items x");
}

void tst_FakeBackend::keepAliveAndPipelining_data()
{
    QTest::addColumn<qsizetype>("pieceSize");
    QTest::addColumn<int>("firstDelayMs");
    QTest::newRow("both requests in one write") << qsizetype(4096) << 0;
    QTest::newRow("split inside heads and bodies") << qsizetype(7) << 0;
    QTest::newRow("byte by byte") << qsizetype(1) << 0;
    QTest::newRow("first answer delayed, order kept") << qsizetype(4096) << 150;
}

void tst_FakeBackend::keepAliveAndPipelining()
{
    QFETCH(qsizetype, pieceSize);
    QFETCH(int, firstDelayMs);
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", "/a", FakeResponse::text(200, "alpha").withDelay(firstDelayMs));
    backend.route("POST", "/b", [](const RecordedRequest &request) { return FakeResponse::text(201, "got " + request.body); });

    RawClient raw(backend.port());
    QVERIFY(raw.waitConnected());
    raw.send("GET /a HTTP/1.1\r\nHost: x\r\n\r\n"
             "POST /b HTTP/1.1\r\nHost: x\r\nContent-Length: 11\r\n\r\nhello world"
             "GET /missing HTTP/1.1\r\nHost: x\r\n\r\n",
             pieceSize);
    const QList<RawResponse> responses = raw.waitForResponses(3);
    QCOMPARE(responses.size(), 3);
    QCOMPARE(responses.at(0).body, "alpha");
    QCOMPARE(responses.at(1).status, 201);
    QCOMPARE(responses.at(1).body, "got hello world");
    QCOMPARE(responses.at(2).status, 404);
    QCOMPARE(backend.requests().size(), 3);
    QCOMPARE(backend.requests().at(1).body, "hello world");

    // Still the same connection: one more request is answered on it.
    raw.send("GET /a HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 4096);
    QCOMPARE(raw.waitForResponses(1).value(0).body, "alpha");
    QVERIFY(FakeBackend::waitUntil([&] { return raw.socket().state() == QAbstractSocket::UnconnectedState; }));
}

void tst_FakeBackend::delayDoesNotBlockOtherRequests()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", "/slow", FakeResponse::text(200, "slow").withDelay(1500));
    backend.route("GET", "/fast", FakeResponse::text(200, "fast"));
    QNetworkAccessManager nam;
    QNetworkReply *slow = nam.get(requestTo(backend, "/slow"));
    QVERIFY(FakeBackend::waitUntil([&] { return backend.requestCount("/slow") == 1; }));
    auto fast = waitFor(nam.get(requestTo(backend, "/fast")));
    QCOMPARE(fast->readAll(), "fast");
    QVERIFY(!slow->isFinished());
    QCOMPARE(waitFor(slow)->readAll(), "slow");
}

void tst_FakeBackend::droppedConnectionFailsTheRequest()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", "/drop", FakeResponse::dropConnection());
    QNetworkAccessManager nam;
    auto reply = waitFor(nam.get(requestTo(backend, "/drop")));
    QVERIFY(reply->isFinished());
    QCOMPARE(reply->error(), QNetworkReply::RemoteHostClosedError);
    QVERIFY(backend.requestCount("/drop") >= 1);
}

void tst_FakeBackend::hangNeverAnswers()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", "/hang", FakeResponse::hang());
    backend.route("GET", "/after", FakeResponse::text(200, "after"));

    QNetworkAccessManager nam;
    QNetworkRequest request = requestTo(backend, "/hang");
    request.setTransferTimeout(300);
    auto reply = waitFor(nam.get(request));
    QVERIFY(reply->isFinished());
    QVERIFY(reply->error() == QNetworkReply::OperationCanceledError || reply->error() == QNetworkReply::TimeoutError);
    QCOMPARE(backend.requestCount("/hang"), 1);

    // On a raw connection: nothing comes back, not even for a later request, and the server
    // keeps the connection open.
    RawClient raw(backend.port());
    QVERIFY(raw.waitConnected());
    raw.send("GET /hang HTTP/1.1\r\nHost: x\r\n\r\nGET /after HTTP/1.1\r\nHost: x\r\n\r\n", 4096);
    QVERIFY(FakeBackend::waitUntil([&] { return backend.requestCount("/after") == 1; }));
    QTest::qWait(200);
    QVERIFY(raw.buffer().isEmpty());
    QCOMPARE(raw.socket().state(), QAbstractSocket::ConnectedState);
}

void tst_FakeBackend::httpAndWebSocketShareThePort()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", "/health", FakeResponse::text(200, "ok"));
    QSignalSpy connectedSpy(&backend, &FakeBackend::webSocketConnected);
    FakeWebSocketRoute route;
    route.onOpen = [](FakeWebSocketSession *session) { session->sendJson(QJsonObject{{"type", "hello"}}); };
    backend.webSocketRoute("/ws", route);

    QNetworkAccessManager nam;
    QCOMPARE(waitFor(nam.get(requestTo(backend, "/health")))->readAll(), "ok");

    QWebSocket client;
    QList<QString> clientTexts;
    QList<QByteArray> clientBinaries;
    connect(&client, &QWebSocket::textMessageReceived, this, [&](const QString &text) { clientTexts.append(text); });
    connect(&client, &QWebSocket::binaryMessageReceived, this, [&](const QByteArray &data) { clientBinaries.append(data); });
    client.open(upgradeTo(backend, "/ws?session=7"));
    QVERIFY(FakeBackend::waitUntil([&] { return client.state() == QAbstractSocket::ConnectedState; }));
    QVERIFY(FakeBackend::waitUntil([&] { return !backend.webSocketSessions("/ws").isEmpty(); }));
    FakeWebSocketSession *session = backend.webSocketSessions("/ws").first();
    QCOMPARE(connectedSpy.size(), 1);
    QVERIFY(session->isConnected());
    QVERIFY(FakeBackend::waitUntil([&] { return clientTexts.size() == 1; }));
    QCOMPARE(clientTexts.first(), R"({"type":"hello"})");

    QCOMPARE(backend.upgradeRequests("/ws").size(), 1);
    QCOMPARE(backend.requests("/ws").size(), 1);
    const RecordedRequest upgrade = session->upgradeRequest();
    QCOMPARE(upgrade.rawQuery, "session=7");
    for (const QByteArray name : {"Authorization", "Cookie", "Origin"})
        QVERIFY2(upgrade.headerCount(name) == 1, name.constData());
    QCOMPARE(upgrade.header("Authorization"), "Bearer token-1");
    QCOMPARE(upgrade.header("Cookie"), "session=abc");
    QCOMPARE(upgrade.header("Origin"), "https://kavrel.test");

    QSignalSpy textSpy(session, &FakeWebSocketSession::textReceived);
    client.sendTextMessage("first");
    client.sendBinaryMessage(QByteArray("\x00\x01\x02", 3));
    client.sendTextMessage(QStringLiteral("dritte \u00e9"));
    QVERIFY(FakeBackend::waitUntil([&] { return session->frames().size() == 3; }));
    QCOMPARE(session->frames().at(0).binary, false);
    QCOMPARE(session->frames().at(0).data, "first");
    QCOMPARE(session->frames().at(1).binary, true);
    QCOMPARE(session->frames().at(1).data, QByteArray("\x00\x01\x02", 3));
    QCOMPARE(session->textFrames(), (QList<QByteArray>{"first", QStringLiteral("dritte \u00e9").toUtf8()}));
    QCOMPARE(session->binaryFrames().size(), 1);
    QCOMPARE(textSpy.size(), 2);

    session->sendBinary("\xff\xfe");
    session->sendText("plain");
    QVERIFY(FakeBackend::waitUntil([&] { return clientBinaries.size() == 1 && clientTexts.size() == 2; }));
    QCOMPARE(clientBinaries.first(), "\xff\xfe");
    QCOMPARE(clientTexts.last(), "plain");

    // HTTP still works next to the open websocket.
    QCOMPARE(waitFor(nam.get(requestTo(backend, "/health")))->readAll(), "ok");

}

void tst_FakeBackend::webSocketEnds_data()
{
    QTest::addColumn<bool>("byServer");
    QTest::addColumn<bool>("abort");
    QTest::addColumn<int>("expectedClientCloseCode");
    QTest::newRow("server closes") << true << false << -1;
    QTest::newRow("server aborts") << true << true << -1;
    QTest::newRow("client closes") << false << false << 4002;
    QTest::newRow("client drops TCP") << false << true << -1;
}

void tst_FakeBackend::webSocketEnds()
{
    QFETCH(bool, byServer);
    QFETCH(bool, abort);
    QFETCH(int, expectedClientCloseCode);
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.webSocketRoute("/ws", {});

    QWebSocket client;
    QSignalSpy clientGone(&client, &QWebSocket::disconnected);
    client.open(upgradeTo(backend, "/ws"));
    QVERIFY(FakeBackend::waitUntil([&] { return !backend.webSocketSessions("/ws").isEmpty(); }));
    QVERIFY(FakeBackend::waitUntil([&] { return client.state() == QAbstractSocket::ConnectedState; }));
    FakeWebSocketSession *session = backend.webSocketSessions("/ws").first();
    QSignalSpy sessionGone(session, &FakeWebSocketSession::disconnected);

    if (byServer && abort)
        session->abort();
    else if (byServer)
        session->close(4001, "x");
    else if (abort)
        client.abort();
    else
        client.close(static_cast<QWebSocketProtocol::CloseCode>(4002), "bye");
    QVERIFY(FakeBackend::waitUntil([&] { return !clientGone.isEmpty() && !sessionGone.isEmpty(); }));
    QVERIFY(!session->isConnected());
    QCOMPARE(session->clientCloseCode(), expectedClientCloseCode);
    if (expectedClientCloseCode > 0)
        QCOMPARE(session->clientCloseReason(), "bye");
    if (byServer && !abort) {
        QCOMPARE(int(client.closeCode()), 4001);
        QCOMPARE(client.closeReason(), "x");
    } else if (byServer) {
        QVERIFY(client.closeCode() != 4001);
    }
}

void tst_FakeBackend::rejectedUpgrade_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::newRow("rejected with 401") << QStringLiteral("/ws") << 401;
    QTest::newRow("no such websocket") << QStringLiteral("/other") << 404;
}

void tst_FakeBackend::rejectedUpgrade()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    FakeBackend backend;
    QVERIFY(backend.start());
    FakeWebSocketRoute route;
    route.rejectStatus = 401;
    route.rejectBody = R"({"error":"unauthorized"})";
    backend.webSocketRoute("/ws", route);

    QWebSocket client;
    QSignalSpy errors(&client, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error));
    QSignalSpy connected(&client, &QWebSocket::connected);
    client.open(upgradeTo(backend, path));
    QVERIFY(FakeBackend::waitUntil([&] { return !errors.isEmpty(); }));
    QVERIFY(FakeBackend::waitUntil([&] { return client.state() == QAbstractSocket::UnconnectedState; }));
    QVERIFY(connected.isEmpty());
    QCOMPARE(backend.upgradeRequests(path).size(), 1);
    QCOMPARE(backend.upgradeRequests(path).first().header("Authorization"), "Bearer token-1");
    QVERIFY(backend.webSocketSessions(path).isEmpty());

    RawClient raw(backend.port());
    QVERIFY(raw.waitConnected());
    QByteArray handshake = rawHandshake;
    handshake.replace("GET /ws ", "GET " + path.toUtf8() + ' ');
    raw.send(handshake, 4096);
    const QList<RawResponse> responses = raw.waitForResponses(1);
    QCOMPARE(responses.size(), 1);
    QCOMPARE(responses.first().status, status);
    if (status == 401)
        QCOMPARE(responses.first().body, route.rejectBody);
    QVERIFY(FakeBackend::waitUntil([&] { return raw.socket().state() == QAbstractSocket::UnconnectedState; }));
}

void tst_FakeBackend::unansweredUpgradeStaysPending()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    FakeWebSocketRoute route;
    route.neverAnswer = true;
    backend.webSocketRoute("/ws", route);

    QWebSocket client;
    QSignalSpy connected(&client, &QWebSocket::connected);
    QSignalSpy gone(&client, &QWebSocket::disconnected);
    client.open(upgradeTo(backend, "/ws"));
    QVERIFY(FakeBackend::waitUntil([&] { return backend.upgradeRequests("/ws").size() == 1; }));
    QTest::qWait(300); // the client's own handshake time-out would be far longer
    QVERIFY(connected.isEmpty());
    QVERIFY(gone.isEmpty());
    QVERIFY(backend.webSocketSessions("/ws").isEmpty());
    client.abort();
}

void tst_FakeBackend::upgradeHandshakeReachesWebSocketServer_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<qsizetype>("pieceSize");
    QTest::newRow("split across reads") << QByteArray() << qsizetype(9);
    // The upgrade waits until the earlier (delayed) answer on the connection is out.
    QTest::newRow("pipelined after a delayed request") << QByteArray("GET /slow HTTP/1.1\r\nHost: x\r\n\r\n")
                                                       << qsizetype(4096);
}

void tst_FakeBackend::upgradeHandshakeReachesWebSocketServer()
{
    QFETCH(QByteArray, before);
    QFETCH(qsizetype, pieceSize);
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", "/slow", FakeResponse::text(200, "slow").withDelay(100));
    backend.webSocketRoute("/ws", {});
    RawClient raw(backend.port());
    QVERIFY(raw.waitConnected());
    raw.send(before + rawHandshake, pieceSize);
    const int expected = before.isEmpty() ? 1 : 2;
    const QList<RawResponse> responses = raw.waitForResponses(expected);
    QCOMPARE(responses.size(), expected);
    if (!before.isEmpty())
        QCOMPARE(responses.first().body, "slow");
    QCOMPARE(responses.last().status, 101);
    // The accept key for the sample nonce of the websocket handshake.
    QCOMPARE(responses.last().headerCount("Sec-WebSocket-Accept"), 1);
    QVERIFY(responses.last().statusLine.startsWith("HTTP/1.1 101"));
    QVERIFY(std::any_of(responses.last().headers.cbegin(), responses.last().headers.cend(), [](const auto &header) {
        return header.second == "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";
    }));
    QVERIFY(FakeBackend::waitUntil([&] { return backend.webSocketSessions("/ws").size() == 1; }));
    QCOMPARE(backend.upgradeRequests("/ws").size(), 1);
    QCOMPARE(backend.requests().size(), before.isEmpty() ? 1 : 2);
    QCOMPARE(backend.requests().last().path, "/ws");
}

QTEST_GUILESS_MAIN(tst_FakeBackend)
#include "tst_FakeBackend.moc"
