// The websocket layer against a real server on loopback: a QTcpServer that records the raw
// upgrade request and then accepts it (QWebSocketServer), refuses it, ignores it, drops it,
// or accepts it by hand and stops reading so that writes back up.

#include "platform/WebSocketTask.h"

#include "base/Async.h"
#include "support/RefusedPort.h"
#include "support/TaskResult.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <optional>

using namespace std::chrono_literals;

namespace {

enum class UpgradeMode {
    accept,      // QWebSocketServer completes the upgrade
    reject401,   // HTTP 401 and close
    neverAnswer, // keep the connection, never answer
    drop,        // close the TCP connection without an answer
    acceptStalled, // answer 101 by hand, then read nothing
};

class TestServer : public QObject
{
public:
    UpgradeMode mode = UpgradeMode::accept;
    QList<QByteArray> rawUpgrades;
    QList<QPointer<QWebSocket>> sessions;
    QList<QPointer<QTcpSocket>> rawSockets;
    QList<QPair<bool, QByteArray>> received; // binary?, data
    QList<QPair<int, QString>> clientCloses;

    TestServer()
        : m_webSockets(QStringLiteral("test"), QWebSocketServer::NonSecureMode)
    {
        QObject::connect(&m_tcp, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_tcp.nextPendingConnection()) {
                rawSockets.append(socket);
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            }
        });
        QObject::connect(&m_webSockets, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = m_webSockets.nextPendingConnection()) {
                socket->setParent(this);
                sessions.append(socket);
                QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                                 [this](const QString &text) { received.append({false, text.toUtf8()}); });
                QObject::connect(socket, &QWebSocket::binaryMessageReceived, this,
                                 [this](const QByteArray &data) { received.append({true, data}); });
                QObject::connect(socket, &QWebSocket::aboutToClose, this, [this, socket] {
                    // Announced again when the TCP connection closes; the first one is the frame.
                    if (!m_closingHere.contains(socket) && !m_closeSeen.contains(socket)) {
                        m_closeSeen.append(socket);
                        clientCloses.append({int(socket->closeCode()), socket->closeReason()});
                    }
                });
            }
        });
        QVERIFY(m_tcp.listen(QHostAddress::LocalHost));
    }

    ~TestServer() override
    {
        // The sessions announce their close while they are deleted; the lists they write to
        // must still exist then.
        for (const auto &session : std::as_const(sessions)) {
            if (session) {
                session->disconnect(this);
                delete session.data();
            }
        }
    }

    QUrl url(const QString &pathAndQuery = QStringLiteral("/live?a=1&b=2")) const
    {
        return QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(m_tcp.serverPort()).arg(pathAndQuery));
    }

    void closeSession(int index, int code, const QString &reason)
    {
        m_closingHere.append(sessions.at(index).data());
        sessions.at(index)->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
    }
    void abortSession(int index)
    {
        m_closingHere.append(sessions.at(index).data());
        sessions.at(index)->abort();
    }

    // Header lines of the n-th upgrade with this name (case-insensitive).
    QList<QByteArray> headerValues(int index, const QByteArray &name) const
    {
        QList<QByteArray> values;
        const QList<QByteArray> lines = rawUpgrades.at(index).split('\n');
        for (QByteArray line : lines) {
            line = line.trimmed();
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                values.append(line.mid(colon + 1).trimmed());
        }
        return values;
    }

private:
    void onReadyRead(QTcpSocket *socket)
    {
        const QByteArray peeked = socket->peek(socket->bytesAvailable());
        const int end = peeked.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        socket->disconnect(this);
        rawUpgrades.append(peeked.left(end + 4));
        switch (mode) {
        case UpgradeMode::accept:
            m_webSockets.handleConnection(socket);
            break;
        case UpgradeMode::reject401:
            socket->read(end + 4);
            socket->write("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            break;
        case UpgradeMode::neverAnswer:
            socket->read(end + 4);
            break;
        case UpgradeMode::drop:
            socket->abort();
            break;
        case UpgradeMode::acceptStalled: {
            socket->read(end + 4);
            QByteArray key;
            for (const QByteArray &line : peeked.left(end).split('\n')) {
                if (line.toLower().startsWith("sec-websocket-key:"))
                    key = line.mid(line.indexOf(':') + 1).trimmed();
            }
            const QByteArray accept =
                QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1).toBase64();
            // A tiny read buffer and no reader: the kernel buffers fill and the peer's writes back up.
            socket->setReadBufferSize(1024);
            socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Accept: " + accept + "\r\n\r\n");
            break;
        }
        }
    }

    QTcpServer m_tcp;
    QWebSocketServer m_webSockets;
    QList<QWebSocket *> m_closingHere;
    QList<QWebSocket *> m_closeSeen;
};

QNetworkRequest requestFor(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer token-1");
    request.setRawHeader("Cookie", "norvantis_refresh_token=refresh-1");
    request.setRawHeader("Origin", "https://app.example.test");
    return request;
}

} // namespace

class tst_WebSocketTask : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void upgradeCarriesEachHeaderOnce()
    {
        TestServer server;
        auto task = WebSocketTask::create(requestFor(server.url()));
        task->resume();
        auto open = startTask([task] { return task->waitForOpen(5s); });
        QTRY_VERIFY(open->finished);
        QVERIFY(!open->error);
        QCOMPARE(task->state(), WebSocketTask::State::open);

        QCOMPARE(server.rawUpgrades.size(), 1);
        QVERIFY(server.rawUpgrades.first().startsWith("GET /live?a=1&b=2 HTTP/1.1\r\n"));
        QCOMPARE(server.headerValues(0, "Authorization"), QList<QByteArray>{"Bearer token-1"});
        QCOMPARE(server.headerValues(0, "Cookie"), QList<QByteArray>{"norvantis_refresh_token=refresh-1"});
        QCOMPARE(server.headerValues(0, "Origin"), QList<QByteArray>{"https://app.example.test"});
    }

    void openOutcome_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("expectedKind");   // WebSocketOpenError::Kind, -1 for opened
        QTest::addColumn<int>("transportKind");  // WebSocketError::Kind when transport
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<bool>("signalFailed");

        QTest::newRow("opened") << int(UpgradeMode::accept) << -1 << -1 << 0 << false;
        QTest::newRow("401 at upgrade") << int(UpgradeMode::reject401) << int(WebSocketOpenError::Kind::transport)
                                        << int(WebSocketError::Kind::upgradeRejected) << 401 << true;
        QTest::newRow("dropped during upgrade") << int(UpgradeMode::drop) << int(WebSocketOpenError::Kind::transport)
                                                << int(WebSocketError::Kind::connectionLost) << 0 << true;
        QTest::newRow("never answered") << int(UpgradeMode::neverAnswer) << int(WebSocketOpenError::Kind::timedOut)
                                        << -1 << 0 << false;
    }

    void openOutcome()
    {
        QFETCH(int, mode);
        QFETCH(int, expectedKind);
        QFETCH(int, transportKind);
        QFETCH(int, httpStatus);
        QFETCH(bool, signalFailed);

        TestServer server;
        server.mode = UpgradeMode(mode);
        auto task = WebSocketTask::create(requestFor(server.url()));
        QSignalSpy opened(task.get(), &WebSocketTask::opened);
        QSignalSpy failed(task.get(), &WebSocketTask::failed);
        task->resume();
        auto open = startTask([task] { return task->waitForOpen(300ms); });
        QTRY_VERIFY(open->finished);

        if (expectedKind < 0) {
            QVERIFY(!open->error);
            QCOMPARE(opened.size(), 1);
            return;
        }
        const auto error = errorAs<WebSocketOpenError>(open->error);
        QVERIFY(error);
        QCOMPARE(int(error->kind()), expectedKind);
        if (transportKind >= 0) {
            QVERIFY(error->transportError());
            QCOMPARE(int(error->transportError()->kind()), transportKind);
            QCOMPARE(error->transportError()->httpStatus(), httpStatus);
            QCOMPARE(error->message(), error->transportError()->message());
        }
        QCOMPARE(task->state(), WebSocketTask::State::closed);
        QCOMPARE(opened.size(), 0);
        QCOMPARE(failed.size(), signalFailed ? 1 : 0);

        // The outcome is kept: a later wait gets the same failure at once, and a send is refused.
        auto again = startTask([task] { return task->waitForOpen(0ms); });
        QTRY_VERIFY(again->finished);
        QCOMPARE(int(errorAs<WebSocketOpenError>(again->error)->kind()), expectedKind);
    }

    void refusedConnectionCannotConnect()
    {
        const RefusedPort refusing;
        auto task = WebSocketTask::create(QNetworkRequest(QUrl(QStringLiteral("ws://127.0.0.1:%1/x").arg(refusing.port()))));
        task->resume();
        auto open = startTask([task] { return task->waitForOpen(5s); });
        QTRY_VERIFY(open->finished);
        const auto error = errorAs<WebSocketOpenError>(open->error);
        QVERIFY(error);
        QCOMPARE(error->kind(), WebSocketOpenError::Kind::transport);
        QCOMPARE(error->transportError()->kind(), WebSocketError::Kind::cannotConnect);
    }

    void outcomeBeforeWaitIsKept()
    {
        TestServer server;
        auto task = WebSocketTask::create(requestFor(server.url()));
        task->resume();
        QTRY_COMPARE(task->state(), WebSocketTask::State::open);
        auto open = startTask([task] { return task->waitForOpen(1ms); });
        QTRY_VERIFY(open->finished);
        QVERIFY(!open->error);
    }

    void nothingIsSentBeforeOpen()
    {
        TestServer server;
        server.mode = UpgradeMode::neverAnswer;
        auto task = WebSocketTask::create(requestFor(server.url()));
        task->resume();
        auto send = startTask([task] { return task->send(WebSocketMessage::fromText(QStringLiteral("early"))); });
        QTRY_VERIFY(send->finished);
        const auto error = errorAs<WebSocketError>(send->error);
        QVERIFY(error);
        QCOMPARE(error->kind(), WebSocketError::Kind::notConnected);
        QTRY_COMPARE(server.rawUpgrades.size(), 1);
        QVERIFY(!server.rawUpgrades.first().contains("early"));
    }

    void messagesFlowBothWaysInOrder()
    {
        TestServer server;
        auto task = WebSocketTask::create(requestFor(server.url()));
        task->resume();
        QTRY_COMPARE(server.sessions.size(), 1);
        QTRY_COMPARE(task->state(), WebSocketTask::State::open);

        auto sends = startTask([task]() -> QCoro::Task<void> {
            co_await task->send(WebSocketMessage::fromText(QStringLiteral("{\"type\":\"KeepAlive\"}")));
            co_await task->send(WebSocketMessage::fromBinary(QByteArray("\x01\x02\x03", 3)));
        });
        QTRY_VERIFY(sends->finished);
        QVERIFY(!sends->error);
        QTRY_COMPARE(server.received.size(), 2);
        QCOMPARE(server.received.at(0), qMakePair(false, QByteArray("{\"type\":\"KeepAlive\"}")));
        QCOMPARE(server.received.at(1), qMakePair(true, QByteArray("\x01\x02\x03", 3)));

        // Messages that arrive before anyone receives are kept in order.
        server.sessions.first()->sendTextMessage(QStringLiteral("one"));
        server.sessions.first()->sendBinaryMessage(QByteArray("two"));
        QTest::qWait(50);
        auto first = startTask([task] { return task->receive(); });
        QTRY_VERIFY(first->finished);
        QVERIFY(first->value && first->value->isText());
        QCOMPARE(first->value->text, QStringLiteral("one"));
        auto second = startTask([task] { return task->receive(); });
        QTRY_VERIFY(second->finished);
        QVERIFY(second->value && second->value->isBinary());
        QCOMPARE(second->value->data, QByteArray("two"));
    }

    void serverCloseEndsReceiveAfterKeptMessages()
    {
        TestServer server;
        auto task = WebSocketTask::create(requestFor(server.url()));
        QSignalSpy closed(task.get(), &WebSocketTask::closed);
        QSignalSpy failed(task.get(), &WebSocketTask::failed);
        task->resume();
        QTRY_COMPARE(server.sessions.size(), 1);
        QTRY_COMPARE(task->state(), WebSocketTask::State::open);

        server.sessions.first()->sendTextMessage(QStringLiteral("last words"));
        server.closeSession(0, 4001, QStringLiteral("bye"));
        QTRY_COMPARE(task->state(), WebSocketTask::State::closed);
        QCOMPARE(closed.size(), 1);
        QCOMPARE(closed.first().at(0).toInt(), 4001);
        QCOMPARE(closed.first().at(1).toString(), QStringLiteral("bye"));
        QCOMPARE(failed.size(), 0);

        auto kept = startTask([task] { return task->receive(); });
        QTRY_VERIFY(kept->finished);
        QVERIFY(kept->value);
        QCOMPARE(kept->value->text, QStringLiteral("last words"));
        auto end = startTask([task] { return task->receive(); });
        QTRY_VERIFY(end->finished);
        const auto error = errorAs<WebSocketError>(end->error);
        QVERIFY(error);
        QCOMPARE(error->kind(), WebSocketError::Kind::closed);
        QCOMPARE(error->closeCode(), 4001);
        QCOMPARE(error->closeReason(), QStringLiteral("bye"));

        auto send = startTask([task] { return task->send(WebSocketMessage::fromText(QStringLiteral("late"))); });
        QTRY_VERIFY(send->finished);
        QCOMPARE(errorAs<WebSocketError>(send->error)->kind(), WebSocketError::Kind::closed);
    }

    // An incoming message over the task's limit ends the connection cleanly, whether it comes
    // as one frame or as several, after the messages kept before it; nothing that size is
    // buffered. Tasks made without a limit get a few megabytes, not Qt's 2 GB.
    void oversizedMessageEndsTheConnection_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<qint64>("serverFrameSize");
        QTest::addColumn<qint64>("oversize");
        QTest::newRow("one frame") << qint64(64 * 1024) << qint64(1024 * 1024) << qint64(64 * 1024 + 1);
        QTest::newRow("many frames") << qint64(64 * 1024) << qint64(16 * 1024) << qint64(200 * 1024);
        QTest::newRow("default limit") << qint64(0) << qint64(8 * 1024 * 1024)
                                       << WebSocketTask::defaultMaximumIncomingMessageSize + 1;
    }

    void oversizedMessageEndsTheConnection()
    {
        QFETCH(qint64, limit);
        QFETCH(qint64, serverFrameSize);
        QFETCH(qint64, oversize);
        TestServer server;
        auto task = limit > 0 ? WebSocketTask::create(requestFor(server.url()), limit)
                              : WebSocketTask::create(requestFor(server.url()));
        const qint64 effectiveLimit = task->maximumIncomingMessageSize();
        QSignalSpy closed(task.get(), &WebSocketTask::closed);
        QSignalSpy failed(task.get(), &WebSocketTask::failed);
        task->resume();
        QTRY_COMPARE(server.sessions.size(), 1);
        QTRY_COMPARE(task->state(), WebSocketTask::State::open);

        QWebSocket *session = server.sessions.first();
        session->setOutgoingFrameSize(quint64(serverFrameSize));
        session->sendBinaryMessage(QByteArray(effectiveLimit, 'a'));
        session->sendBinaryMessage(QByteArray(oversize, 'b'));
        QTRY_COMPARE_WITH_TIMEOUT(task->state(), WebSocketTask::State::closed, 10000);
        QCOMPARE(closed.size(), 0);
        QCOMPARE(failed.size(), 1);

        auto kept = startTask([task] { return task->receive(); });
        QTRY_VERIFY(kept->finished);
        QVERIFY(kept->value);
        QCOMPARE(kept->value->data.size(), effectiveLimit);
        auto end = startTask([task] { return task->receive(); });
        QTRY_VERIFY(end->finished);
        const auto error = errorAs<WebSocketError>(end->error);
        QVERIFY2(error, "the oversized message was delivered");
        QCOMPARE(error->kind(), WebSocketError::Kind::messageTooLarge);
        QCOMPARE(error->sizeLimit(), effectiveLimit);
    }

    void droppedConnectionFailsPendingReceive()
    {
        TestServer server;
        auto task = WebSocketTask::create(requestFor(server.url()));
        QSignalSpy failed(task.get(), &WebSocketTask::failed);
        task->resume();
        QTRY_COMPARE(server.sessions.size(), 1);
        QTRY_COMPARE(task->state(), WebSocketTask::State::open);

        auto receive = startTask([task] { return task->receive(); });
        QTest::qWait(20);
        QVERIFY(!receive->finished);
        server.abortSession(0);
        QTRY_VERIFY(receive->finished);
        const auto error = errorAs<WebSocketError>(receive->error);
        QVERIFY(error);
        QCOMPARE(error->kind(), WebSocketError::Kind::connectionLost);
        QCOMPARE(failed.size(), 1);
    }

    void cancelSendsCloseFrameAndEndsWaits()
    {
        TestServer server;
        auto task = WebSocketTask::create(requestFor(server.url()));
        QSignalSpy closed(task.get(), &WebSocketTask::closed);
        QSignalSpy failed(task.get(), &WebSocketTask::failed);
        task->resume();
        QTRY_COMPARE(server.sessions.size(), 1);
        QTRY_COMPARE(task->state(), WebSocketTask::State::open);

        auto receive = startTask([task] { return task->receive(); });
        QTest::qWait(20);
        task->cancel(1001);
        QTRY_VERIFY(receive->finished);
        QVERIFY(errorAs<CancellationError>(receive->error));
        QTRY_COMPARE(server.clientCloses.size(), 1);
        QCOMPARE(server.clientCloses.first().first, 1001);
        QTest::qWait(50);
        QCOMPARE(closed.size(), 0);
        QCOMPARE(failed.size(), 0);

        auto send = startTask([task] { return task->send(WebSocketMessage::fromText(QStringLiteral("x"))); });
        QTRY_VERIFY(send->finished);
        QVERIFY(errorAs<CancellationError>(send->error));
    }

    void cancelWhileConnectingEndsOpenWait()
    {
        TestServer server;
        server.mode = UpgradeMode::neverAnswer;
        auto task = WebSocketTask::create(requestFor(server.url()));
        task->resume();
        auto open = startTask([task] { return task->waitForOpen(0ms); });
        QTRY_COMPARE(server.rawUpgrades.size(), 1);
        task->cancel(1001);
        QTRY_VERIFY(open->finished);
        QVERIFY(errorAs<CancellationError>(open->error));
    }

    void tokenCancelsOneReceiveOnly()
    {
        TestServer server;
        auto task = WebSocketTask::create(requestFor(server.url()));
        task->resume();
        QTRY_COMPARE(server.sessions.size(), 1);
        QTRY_COMPARE(task->state(), WebSocketTask::State::open);

        CancellationToken token;
        auto cancelled = startTask([task, token] { return task->receive(token); });
        QTest::qWait(10);
        token.cancel();
        QTRY_VERIFY(cancelled->finished);
        QVERIFY(errorAs<CancellationError>(cancelled->error));

        // The message goes to the next receiver, not to the cancelled one.
        server.sessions.first()->sendTextMessage(QStringLiteral("kept"));
        auto next = startTask([task] { return task->receive(); });
        QTRY_VERIFY(next->finished);
        QVERIFY(next->value);
        QCOMPARE(next->value->text, QStringLiteral("kept"));
    }

    // A ping waits for the pong to it, and ends with the connection: with the server's close,
    // or with our own cancel(), which emits no signal a waiter could have listened for.
    void pingWaitsForItsPong()
    {
        TestServer server;
        auto task = WebSocketTask::create(requestFor(server.url()));
        auto early = startTask([task] { return task->sendPing(); });
        QTRY_VERIFY(early->finished);
        QCOMPARE(errorAs<WebSocketError>(early->error)->kind(), WebSocketError::Kind::notConnected);

        task->resume();
        QTRY_COMPARE(server.sessions.size(), 1);
        QTRY_COMPARE(task->state(), WebSocketTask::State::open);
        auto answered = startTask([task] { return task->sendPing(); });
        QTRY_VERIFY(answered->finished);
        QVERIFY(!answered->error);

        // A peer that does not answer (its event loop is not reading) keeps the ping waiting.
        QCOMPARE(server.rawSockets.size(), 1);
        QPointer<QTcpSocket> tcp = server.rawSockets.first();
        QVERIFY(tcp);
        tcp->blockSignals(true);
        auto unanswered = startTask([task] { return task->sendPing(); });
        QTest::qWait(100);
        QVERIFY(!unanswered->finished);
        task->cancel(1000);
        QTRY_VERIFY(unanswered->finished);
        QVERIFY(errorAs<CancellationError>(unanswered->error));
        if (tcp)
            tcp->blockSignals(false);

        TestServer other;
        auto second = WebSocketTask::create(requestFor(other.url()));
        second->resume();
        QTRY_COMPARE(other.sessions.size(), 1);
        QTRY_COMPARE(second->state(), WebSocketTask::State::open);
        other.closeSession(0, 4000, QStringLiteral("bye"));
        QTRY_COMPARE(second->state(), WebSocketTask::State::closed);
        auto afterClose = startTask([second] { return second->sendPing(); });
        QTRY_VERIFY(afterClose->finished);
        const auto closed = errorAs<WebSocketError>(afterClose->error);
        QVERIFY(closed);
        QCOMPARE(closed->kind(), WebSocketError::Kind::closed);
        QCOMPARE(closed->closeCode(), 4000);
    }

    void sendReturnsOnlyOnceWritten()
    {
        TestServer server;
        server.mode = UpgradeMode::acceptStalled;
        auto task = WebSocketTask::create(requestFor(server.url()));
        task->resume();
        QTRY_COMPARE(task->state(), WebSocketTask::State::open);
        QCOMPARE(server.rawSockets.size(), 1);
        QPointer<QTcpSocket> peer = server.rawSockets.first();

        // Far more than loopback's socket buffers hold, so the bytes stay with us while the
        // peer does not read.
        const QByteArray big(16 * 1024 * 1024, 'a');
        auto first = startTask([task, big] { return task->send(WebSocketMessage::fromBinary(big)); });
        auto second = startTask([task] { return task->send(WebSocketMessage::fromText(QStringLiteral("small"))); });
        QTest::qWait(300);
        QVERIFY(!first->finished);
        QVERIFY(!second->finished);
        QVERIFY(task->bytesToWrite() > 0);

        // The peer reads again: both complete, the first no later than the second.
        peer->setReadBufferSize(0);
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer] { peer->readAll(); });
        peer->readAll();
        QTRY_VERIFY_WITH_TIMEOUT(second->finished, 20000);
        QVERIFY(first->finished);
        QVERIFY(!first->error);
        QVERIFY(!second->error);
    }
};

QTEST_GUILESS_MAIN(tst_WebSocketTask)
#include "tst_WebSocketTask.moc"
