// The receive loop both live translation clients run on their relay sockets, against a real
// websocket: what reaches the handler, in which order, and how the loop ends.

#include "base/Async.h"
#include "base/TaskOutcome.h"
#include "platform/WebSocketError.h"
#include "platform/WebSocketTask.h"
#include "speech/DeepSeekTranslationError.h"
#include "speech/TranslationSocketFrames.h"
#include "support/FakeBackend.h"

#include <QObject>
#include <QStringList>
#include <QTest>

#include <memory>

namespace {

const QString path = QStringLiteral("/frames");

// Records each text; "boom" fails the way a relay's error message does.
QCoro::Task<void> record(QStringList *texts, QString text)
{
    texts->append(text);
    if (text == QLatin1String("boom"))
        throw DeepSeekTranslationError::serverError(text);
    co_return;
}

// A receive loop on a fresh socket to the fake backend, with what it handed over.
struct RunningLoop
{
    explicit RunningLoop(qint64 maximumMessageSize = WebSocketTask::defaultMaximumIncomingMessageSize)
    {
        if (!backend.start())
            qFatal("the fake backend did not start");
        backend.webSocketRoute(path, FakeWebSocketRoute());
        QUrl url = backend.webSocketBaseUrl();
        url.setPath(path);
        socket = WebSocketTask::create(QNetworkRequest(url), maximumMessageSize);
        socket->resume();
        const auto onText = [this](QString text) { return record(&texts, std::move(text)); };
        const auto onFailure = [this](std::exception_ptr error) { failures.append(error); };
        handle = TranslationSocketFrames::startReceiveLoop(owner.get(), socket, onText, onFailure);
    }
    ~RunningLoop()
    {
        handle.cancel();
        socket->cancel(1000);
        QTest::qWait(10);
    }

    // The server's side, once the socket is open.
    FakeWebSocketSession *server()
    {
        if (!FakeBackend::waitUntil([this] { return !backend.webSocketSessions(path).isEmpty(); }))
            qFatal("the socket did not open");
        return backend.webSocketSessions(path).first();
    }

    FakeBackend backend;
    std::unique_ptr<QObject> owner = std::make_unique<QObject>();
    WebSocketTask::Pointer socket;
    TaskHandle<void> handle;
    QStringList texts;
    QList<std::exception_ptr> failures;
};

} // namespace

class tst_TranslationSocketFrames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Text messages, and binary ones that hold UTF-8, reach the handler in arrival order;
    // binary messages that are not UTF-8 are dropped and the loop goes on.
    void handsOverTextInArrivalOrder()
    {
        RunningLoop loop;
        FakeWebSocketSession *server = loop.server();
        server->sendText(QStringLiteral("первый").toUtf8());
        server->sendBinary(QByteArrayLiteral(R"({"type":"ping"})"));
        server->sendBinary(QByteArrayLiteral("\xff\xfe broken"));
        server->sendBinary(QStringLiteral("ü").toUtf8());
        server->sendText("last");
        const QStringList expected{QStringLiteral("первый"), QStringLiteral(R"({"type":"ping"})"), QStringLiteral("ü"),
                                   QStringLiteral("last")};
        QTRY_COMPARE(loop.texts, expected);
        QVERIFY(loop.failures.isEmpty());
        QVERIFY(!loop.handle.isFinished());
    }

    void endings_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("reported");
        QTest::newRow("the handler throws") << QStringLiteral("handler") << true;
        QTest::newRow("a message over the size limit") << QStringLiteral("oversized") << true;
        QTest::newRow("the server closes") << QStringLiteral("closed") << true;
        QTest::newRow("cancelled") << QStringLiteral("cancelled") << false;
        QTest::newRow("the owner is gone") << QStringLiteral("owner") << false;
    }

    // The first error ends the loop and is reported once, unless the loop was cancelled or its
    // owner is gone; nothing is handed over after the end.
    void endings()
    {
        QFETCH(QString, ending);
        QFETCH(bool, reported);
        RunningLoop loop(1024);
        FakeWebSocketSession *server = loop.server();
        server->sendText("first");
        QTRY_COMPARE(loop.texts, QStringList{QStringLiteral("first")});

        QStringList handled{QStringLiteral("first")};
        if (ending == QLatin1String("handler")) {
            server->sendText("boom");
            handled.append(QStringLiteral("boom"));
        } else if (ending == QLatin1String("oversized")) {
            server->sendText(QByteArray(4096, 'x'));
        } else if (ending == QLatin1String("closed")) {
            server->close(4000, QStringLiteral("bye"));
        } else if (ending == QLatin1String("cancelled")) {
            loop.handle.cancel();
        } else {
            loop.owner.reset();
        }
        server->sendText("after");
        QTRY_VERIFY(loop.handle.isFinished());
        QCOMPARE(loop.texts, handled);
        QCOMPARE(loop.failures.size(), reported ? 1 : 0);
        if (!reported)
            return;

        const std::exception_ptr failure = loop.failures.first();
        if (ending == QLatin1String("handler")) {
            const auto error = errorAs<DeepSeekTranslationError>(failure);
            QVERIFY(error);
            QCOMPARE(error->message(), DeepSeekTranslationError::serverError(QStringLiteral("boom")).message());
            return;
        }
        const auto error = errorAs<WebSocketError>(failure);
        QVERIFY2(error, qPrintable(errorMessage(failure)));
        if (ending == QLatin1String("oversized")) {
            QCOMPARE(error->kind(), WebSocketError::Kind::messageTooLarge);
        } else {
            QCOMPARE(error->kind(), WebSocketError::Kind::closed);
            QCOMPARE(error->closeCode(), 4000);
        }
    }
};

QTEST_GUILESS_MAIN(tst_TranslationSocketFrames)
#include "tst_TranslationSocketFrames.moc"
