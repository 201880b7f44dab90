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
};

QTEST_GUILESS_MAIN(tst_HttpTransport)
#include "tst_HttpTransport.moc"
