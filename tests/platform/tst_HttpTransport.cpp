#include "base/Async.h"
#include "platform/HttpTransport.h"
#include "platform/NetworkError.h"
#include "support/FakeBackend.h"
#include "support/RawReplyServer.h"
#include "support/TaskResult.h"

#include <QNetworkAccessManager>
#include <QTest>

namespace {

TaskResult<HttpReply> resultOf(TaskHandle<HttpReply> handle)
{
    return runTask([](TaskHandle<HttpReply> h) -> QCoro::Task<HttpReply> {
        HttpReply reply = co_await h.result();
        co_return reply;
    }(handle));
}

} // namespace

class tst_HttpTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void destroyedManagerEndsTheExchangeWithCancellation()
    {
        FakeBackend backend;
        QVERIFY(backend.start());
        backend.route("GET", QStringLiteral("/slow"), FakeResponse::hang());
        auto *manager = new QNetworkAccessManager();
        auto transport = std::make_shared<HttpTransport>(manager);
        QUrl url = backend.baseUrl();
        url.setPath(QStringLiteral("/slow"));
        auto exchange = spawnTask([transport, url](CancellationToken) {
            return transport->send(QNetworkRequest(url), "GET", std::nullopt);
        });
        QVERIFY(FakeBackend::waitUntil([&] { return backend.requestCount(QStringLiteral("/slow")) == 1; }));

        delete manager;
        QVERIFY(FakeBackend::waitUntil([&] { return exchange.isFinished(); }));
        QVERIFY(resultOf(exchange).isCancellation());
        // A request on the gone manager ends the same way.
        QVERIFY(runTask(transport->send(QNetworkRequest(url), "GET", std::nullopt)).isCancellation());
    }

    void bodiesAreCapped_data()
    {
        QTest::addColumn<bool>("announced"); // Content-Length sent, or the body ends with the connection
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("taken");
        const qint64 cap = 64 * 1024;
        QTest::newRow("at the cap") << true << cap << true;
        QTest::newRow("announced over the cap") << true << cap + 1 << false;
        QTest::newRow("unannounced at the cap") << false << cap << true;
        QTest::newRow("unannounced far over the cap") << false << 40 * cap << false;
    }

    void bodiesAreCapped()
    {
        QFETCH(bool, announced);
        QFETCH(qint64, size);
        QFETCH(bool, taken);
        const QByteArray body(size, 'x');
        QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n";
        if (announced)
            reply += "Content-Length: " + QByteArray::number(size) + "\r\n";
        RawReplyServer server(reply + "\r\n" + body);
        QVERIFY(server.start());

        QNetworkAccessManager manager;
        HttpTransport transport(&manager);
        QCOMPARE(transport.maximumBodySize(), HttpTransport::defaultMaximumBodySize);
        transport.setMaximumBodySize(64 * 1024);
        const auto result = runTask(transport.send(QNetworkRequest(server.baseUrl()), "GET", std::nullopt));
        if (taken) {
            QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
            QCOMPARE(result.value->status, 200);
            QCOMPARE(result.value->body, body);
            return;
        }
        const auto error = result.errorAs<NetworkError>();
        QVERIFY(error);
        QCOMPARE(error->kind(), NetworkError::Kind::responseTooLarge);
        QCOMPARE(error->message(), QStringLiteral("The server's reply is too large."));
    }

    void brokenBodiesAreNetworkFailures_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status"); // 0: a NetworkError is expected
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
        QTest::newRow("connection drops inside the body")
            << head + "Content-Length: 100\r\n\r\n{\"data\":{\"meetingSession\":" << 0;
        QTest::newRow("compressed body that does not decompress")
            << head + "Content-Encoding: gzip\r\nContent-Length: 24\r\n\r\n"
                   + QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03not-deflate-data", 24) << 0;
        // A status with its whole body is an answer, whatever the status says.
        QTest::newRow("complete error answer")
            << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone") << 404;
        QTest::newRow("complete bad request")
            << QByteArray("HTTP/1.1 400 Bad Request\r\nContent-Length: 3\r\n\r\nbad") << 400;
        QTest::newRow("error answer cut short")
            << QByteArray("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 40\r\n\r\ndown") << 0;
        QTest::newRow("refusal cut short") << QByteArray("HTTP/1.1 400 Bad Request\r\nContent-Length: 40\r\n\r\nbad") << 0;
        // The length a compressed body comes with counts its compressed bytes, here more than
        // the text they hold; and an answer that has no body promises none.
        QTest::newRow("complete compressed answer")
            << head + "Content-Encoding: gzip\r\nContent-Length: 31\r\n\r\n"
                   + QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xab\x56\xca\xcf\x56\xb2\x2a\x29\x2a\x4d\xad"
                                "\x05\x00\x90\x5f\xd4\xa7\x0b\x00\x00\x00", 31)
            << 200;
        QTest::newRow("unchanged answer without a body")
            << QByteArray("HTTP/1.1 304 Not Modified\r\nContent-Length: 40\r\n\r\n") << 304;
        QTest::newRow("complete answer") << head + "Content-Length: 2\r\n\r\n{}" << 200;
    }

    void brokenBodiesAreNetworkFailures()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        RawReplyServer server(reply);
        QVERIFY(server.start());
        QNetworkAccessManager manager;
        HttpTransport transport(&manager);
        const auto result = runTask(transport.send(QNetworkRequest(server.baseUrl()), "GET", std::nullopt));
        if (status != 0) {
            QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
            QCOMPARE(result.value->status, status);
            return;
        }
        const auto error = result.errorAs<NetworkError>();
        QVERIFY2(error, qPrintable(result.errorText()));
        QVERIFY(error->kind() != NetworkError::Kind::responseTooLarge);
    }
};

QTEST_GUILESS_MAIN(tst_HttpTransport)
#include "tst_HttpTransport.moc"
