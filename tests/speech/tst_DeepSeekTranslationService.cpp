// The legacy version-1 translation client against the fake legacy relay over real sockets:
// its queue (merging, alternation, newest first), the immediate interim path, the revision
// rules, time-outs and retries, the keep-alive ping and the reset.

#include "TranslationTestSupport.h"


#include <QTest>

using namespace TranslationTest;
using Kind = DeepSeekTranslationEvent::Kind;

namespace {

class LegacyFixture
{
public:
    explicit LegacyFixture(Account account = Account::signedIn)
    {
        if (!backend.start())
            qFatal("the fake backend did not start");
        relay = std::make_unique<FakeTranslationRelay>(&backend);
        auth = TestAuth::signedInService(backend.baseUrl(), account == Account::signedOut
                                                                ? std::nullopt
                                                                : std::optional<AuthSession>(TestAuth::defaultSession()));
        proxy = std::make_unique<KavrelBackendProxyService>(auth.get());
        service = std::make_unique<DeepSeekTranslationService>(proxy.get());
        DeepSeekTranslationService::Timings timings;
        timings.readyTimeout = 3000ms;
        timings.requestTimeout = 3000ms;
        timings.reconnectDelay = 10ms;
        timings.diagnosticsInterval = std::chrono::hours(1);
        service->setTimings(timings);
        QCoro::waitFor(service->startSession(QStringLiteral("ru"), QStringLiteral("Russian"), QStringLiteral("en"),
                                             QStringLiteral("English"),
                                             [this](const DeepSeekTranslationEvent &event) { events.append(event); }));
    }

    ~LegacyFixture()
    {
        service.reset();
        QTest::qWait(20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void setTimeouts(std::chrono::milliseconds ready, std::chrono::milliseconds request)
    {
        auto timings = service->timings();
        timings.readyTimeout = ready;
        timings.requestTimeout = request;
        service->setTimings(timings);
    }

    // Turns of the translate_turn frames over all connections, in order, with their kind.
    QStringList turnsSent() const
    {
        QStringList result;
        for (const QJsonObject &message : relay->allV1Received(QStringLiteral("translate_turn"))) {
            const QString turnId = text(message, "turnId");
            result.append(QStringLiteral("%1%2").arg(message.value(QStringLiteral("isFinal")).toBool() ? "F" : "I").arg(turnId.left(8).toInt()));
        }
        return result;
    }

    FakeBackend backend;
    std::unique_ptr<FakeTranslationRelay> relay;
    std::unique_ptr<AuthService> auth;
    std::unique_ptr<KavrelBackendProxyService> proxy;
    std::unique_ptr<DeepSeekTranslationService> service;
    QList<DeepSeekTranslationEvent> events;
};

FakeTranslationRelay::V1Script manualAnswers()
{
    FakeTranslationRelay::V1Script script;
    script.answerInterims = false;
    script.answerFinals = false;
    return script;
}

} // namespace

class tst_DeepSeekTranslationService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void queueMergesByTurn()
    {
        LegacyFixture f;
        f.service->enqueueChunk(QStringLiteral("one"), turn(1), false);
        f.service->enqueueChunk(QStringLiteral("two"), turn(2), false);
        f.service->enqueueChunk(QStringLiteral("one more"), turn(1), false);
        f.service->enqueueChunk(QStringLiteral("  \n"), turn(3), false);
        f.service->enqueueFinalChunk(QStringLiteral(" one, done "), turn(1));
        // A later interim text does not take the final flag away.
        f.service->enqueueChunk(QStringLiteral("one, again"), turn(1), false);
        const QList<PendingTranslationChunk> expected = {
            {turn(1), QStringLiteral("one, again"), true},
            {turn(2), QStringLiteral("two"), false},
        };
        QCOMPARE(f.service->pendingTranscriptChunks(), expected);
        QCOMPARE(f.service->diagnostics().enqueuedChunkCount, 5);
        QCOMPARE(f.service->diagnostics().maxPendingChunkCount, 2);
    }

    void queueOrder_data()
    {
        QTest::addColumn<bool>("afterAnInterim");
        QTest::addColumn<QStringList>("order");
        // [interim 1, final 2, interim 3]: interim and final chunks take turns, newest first.
        QTest::newRow("interim goes first") << false << QStringList{"I3", "F2", "I1"};
        QTest::newRow("after an interim, a final goes first") << true << QStringList{"I9", "F2", "I3", "I1"};
    }

    void queueOrder()
    {
        QFETCH(bool, afterAnInterim);
        QFETCH(QStringList, order);
        LegacyFixture f;
        f.relay->setV1Script(manualAnswers());
        if (afterAnInterim) {
            f.service->enqueueChunk(QStringLiteral("nine"), turn(9), false);
            QTRY_COMPARE(f.turnsSent().size(), 1);
        }
        f.service->enqueueChunk(QStringLiteral("one"), turn(1), false);
        f.service->enqueueChunk(QStringLiteral("two"), turn(2), true);
        f.service->enqueueChunk(QStringLiteral("three"), turn(3), false);

        // Answer each request as it comes; the next one follows the answer.
        for (int i = 0; i < order.size(); ++i) {
            QTRY_COMPARE(f.turnsSent().size(), i + 1);
            const QJsonObject request = f.relay->allV1Received(QStringLiteral("translate_turn")).at(i);
            const bool isFinal = request.value(QStringLiteral("isFinal")).toBool();
            f.relay->sendV1(f.relay->v1Revision(text(request, "turnId"), QStringLiteral("t ") + text(request, "transcript"), isFinal));
        }
        // An interim answer shows as a preview when it arrives and once more when the worker
        // gets it; a final answer as one completed event.
        const QHash<int, QString> texts = {{1, QStringLiteral("one")}, {2, QStringLiteral("two")},
                                           {3, QStringLiteral("three")}, {9, QStringLiteral("nine")}};
        QList<DeepSeekTranslationEvent> expected;
        for (const QString &entry : order) {
            const int number = entry.mid(1).toInt();
            const QString translated = QStringLiteral("t ") + texts.value(number);
            if (entry.startsWith(QLatin1Char('F'))) {
                expected.append(DeepSeekTranslationEvent::completed(turn(number), translated));
            } else {
                expected.append(DeepSeekTranslationEvent::preview(turn(number), translated));
                expected.append(DeepSeekTranslationEvent::preview(turn(number), translated));
            }
        }
        QTRY_VERIFY(!f.service->isProcessingQueue());
        QCOMPARE(f.events, expected);
        QCOMPARE(f.turnsSent(), order);
        QCOMPARE(f.relay->v1ConnectionCount(), 1);
        QCOMPARE(f.service->recentHistoryTurns(),
                 (QList<DeepSeekTranslationHistoryTurn>{{QStringLiteral("two"), QStringLiteral("t two")}}));
    }

    void wireMessagesAndTheImmediateInterim()
    {
        LegacyFixture f;
        f.service->enqueueFinalChunk(QStringLiteral("hello"), turn(1));
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("v1 en: hello")));
        const QList<QByteArray> frames = f.relay->v1Session()->textFrames();
        QCOMPARE(frames.at(0), QByteArray(R"({"type":"configure","sessionId":")") + f.service->liveSessionID().toUtf8()
                                   + QByteArray(R"(","sourceLanguage":"ru","targetLanguage":"en"})"));
        QCOMPARE(frames.at(1), QByteArray(R"({"type":"translate_turn","turnId":")") + key(1).toUtf8()
                                   + QByteArray(R"(","transcript":"hello","isFinal":true,"sourceLanguage":"ru"})"));

        // While ready, an interim text goes out at once and never waits in the queue; its
        // translation arrives as an ordinary revision.
        QVERIFY(f.service->isSocketReady());
        f.service->enqueueInterimChunk(QStringLiteral("live"), turn(2));
        QVERIFY(f.service->pendingTranscriptChunks().isEmpty());
        QTRY_COMPARE(f.events.size(), 2);
        QCOMPARE(f.events.last(), DeepSeekTranslationEvent::preview(turn(2), QStringLiteral("v1 en~ live")));
        QCOMPARE(f.relay->v1ConnectionCount(), 1);
    }

    void revisionRules()
    {
        LogCapture log;
        LegacyFixture f;
        f.service->enqueueFinalChunk(QStringLiteral("open the socket"), turn(1));
        QTRY_COMPARE(f.events.size(), 1);
        f.events.clear();

        const QString turn5 = key(5);
        f.relay->sendV1(f.relay->v1Revision(turn5, QStringLiteral("zero"), false, 0));
        f.relay->sendV1(f.relay->v1Revision(turn5, QStringLiteral("first"), false, 1));
        f.relay->sendV1(f.relay->v1Revision(turn5, QStringLiteral("first again"), false, 1));
        f.relay->sendV1(f.relay->v1Revision(turn5, QStringLiteral("   "), false, 3));
        f.relay->sendV1(f.relay->v1Revision(QStringLiteral("not-a-turn"), QStringLiteral("x"), false, 1));
        f.relay->sendV1(f.relay->v1Revision(turn5, QStringLiteral(" second "), false, 2));
        f.relay->sendV1(f.relay->v1Revision(turn5, QStringLiteral("final"), true, 4));
        f.relay->sendV1(f.relay->v1Revision(turn5, QStringLiteral("after the final"), false, 5));
        f.relay->sendV1(FakeTranslationRelay::envelope(QStringLiteral("something_else")));
        f.service->enqueueFinalChunk(QStringLiteral("sentinel"), turn(6));
        QTRY_COMPARE(f.events.size(), 3);
        const QList<DeepSeekTranslationEvent> expected = {
            DeepSeekTranslationEvent::preview(turn(5), QStringLiteral("first")),
            DeepSeekTranslationEvent::preview(turn(5), QStringLiteral("second")),
            DeepSeekTranslationEvent::completed(turn(6), QStringLiteral("v1 en: sentinel")),
        };
        QCOMPARE(f.events, expected);
        QCOMPARE(f.relay->v1ConnectionCount(), 1);
        QVERIFY(log.contains(QStringLiteral("ignored stale/finalized revision turn=%1 revision=5 previous=4 finalized=true").arg(turn5)));
        QVERIFY(log.contains(QStringLiteral("ignored empty translation revision turn=%1 revision=3").arg(turn5)));
        QVERIFY(log.contains(QStringLiteral("ignored revision with invalid turnId=not-a-turn")));

        // A frame that does not read, or an error frame, ends the socket.
        QJsonObject broken = f.relay->v1Revision(turn5, QStringLiteral("x"), false, 9);
        broken.insert(QStringLiteral("revision"), QStringLiteral("9"));
        f.relay->sendV1(broken);
        QTRY_COMPARE(f.relay->v1Session(0)->clientCloseCode(), 1001);
        f.service->enqueueFinalChunk(QStringLiteral("reopen"), turn(7));
        QTRY_COMPARE(f.relay->v1ConnectionCount(), 2);
        QTRY_COMPARE(f.events.size(), 4);
        f.relay->sendV1(FakeTranslationRelay::envelope(QStringLiteral("error")));
        QTRY_COMPARE(f.relay->v1Session(1)->clientCloseCode(), 1001);
        QVERIFY(log.contains(QStringLiteral("backend error message=Unknown translation service error.")));
    }

    void readyTimeoutRetriesThenRequeues()
    {
        LogCapture log;
        LegacyFixture f;
        f.setTimeouts(100ms, 3000ms);
        FakeTranslationRelay::V1Script silent;
        silent.sendReady = false;
        f.relay->queueV1Script(silent);
        f.relay->queueV1Script(silent);
        f.service->enqueueFinalChunk(QStringLiteral("patience"), turn(1));
        QTRY_COMPARE_WITH_TIMEOUT(f.events.size(), 1, 10000);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("v1 en: patience")));
        QCOMPARE(f.relay->v1ConnectionCount(), 3);
        QCOMPARE(f.relay->v1Session(0)->clientCloseCode(), 1001);
        QCOMPARE(f.relay->v1Session(1)->clientCloseCode(), 1001);
        // The request's one retry failed as well, so the chunk went back into the queue.
        QVERIFY(log.contains(QStringLiteral(
            "Retrying live translation after recoverable error=The AI backend returned an empty translation response.")));
    }

    void stalledInterimIsDroppedAndTheQueueGoesOn()
    {
        LogCapture log;
        LegacyFixture f;
        f.setTimeouts(3000ms, 100ms);
        FakeTranslationRelay::V1Script script;
        script.answerInterims = false;
        f.relay->setV1Script(script);
        f.service->enqueueChunk(QStringLiteral("slow"), turn(1), false);
        f.service->enqueueChunk(QStringLiteral("fast"), turn(2), true);
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::completed(turn(2), QStringLiteral("v1 en: fast")));
        QCOMPARE(f.turnsSent(), (QStringList{QStringLiteral("I1"), QStringLiteral("F2")}));
        QCOMPARE(f.relay->v1Session(0)->clientCloseCode(), 1001);
        QCOMPARE(f.service->diagnostics().droppedChunkCount, 1);
        QVERIFY(log.contains(QStringLiteral("Dropped stalled interim translation turnId=") + key(1)));
    }

    void stalledFinalIsRetried()
    {
        LegacyFixture f;
        f.setTimeouts(3000ms, 100ms);
        FakeTranslationRelay::V1Script script;
        script.answerFinals = false;
        f.relay->queueV1Script(script);
        f.relay->queueV1Script(script);
        f.service->enqueueFinalChunk(QStringLiteral("important"), turn(1));
        QTRY_COMPARE_WITH_TIMEOUT(f.events.size(), 1, 10000);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("v1 en: important")));
        QCOMPARE(f.turnsSent(), (QStringList{QStringLiteral("F1"), QStringLiteral("F1"), QStringLiteral("F1")}));
        QCOMPARE(f.relay->v1ConnectionCount(), 3);
        QCOMPARE(f.service->diagnostics().droppedChunkCount, 0);
    }

    void socketLostBeforeConfigureIsRetried()
    {
        // Ready and a broken frame arrive together: the socket is gone by the time the client
        // sends its configure. That is a lost connection to retry, not a missing sign-in.
        LegacyFixture f;
        FakeTranslationRelay::V1Script silent;
        silent.sendReady = false;
        f.relay->queueV1Script(silent);
        f.service->enqueueFinalChunk(QStringLiteral("hello"), turn(1));
        QTRY_COMPARE(f.relay->v1ConnectionCount(), 1);
        f.relay->sendV1(FakeTranslationRelay::envelope(QStringLiteral("ready")));
        f.relay->v1Session()->sendText("{\"type\":");
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("v1 en: hello")));
        QCOMPARE(f.relay->v1ConnectionCount(), 2);
    }

    void signedOutEmptiesTheQueue()
    {
        LegacyFixture f(Account::signedOut);
        f.service->enqueueChunk(QStringLiteral("one"), turn(1), true);
        f.service->enqueueChunk(QStringLiteral("two"), turn(2), false);
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::failed(QStringLiteral("Sign in to use live translation.")));
        QTRY_VERIFY(!f.service->isProcessingQueue());
        QVERIFY(f.service->pendingTranscriptChunks().isEmpty());
        QCOMPARE(f.relay->v1ConnectionCount(), 0);
    }

    void resetDuringARequest()
    {
        LegacyFixture f;
        f.relay->queueV1Script(manualAnswers());
        f.service->enqueueFinalChunk(QStringLiteral("waiting"), turn(1));
        f.service->enqueueChunk(QStringLiteral("queued"), turn(2), false);
        QTRY_COMPARE(f.turnsSent().size(), 1);
        const QString session = f.service->liveSessionID();

        QCoro::waitFor(f.service->resetSession());
        QVERIFY(f.service->liveSessionID() != session);
        QVERIFY(f.service->pendingTranscriptChunks().isEmpty());
        QVERIFY(!f.service->isProcessingQueue());
        QVERIFY(!f.service->isSocketReady());
        QTRY_COMPARE(f.relay->v1Session(0)->clientCloseCode(), 1000);
        // The answer to the abandoned request finds no one.
        f.relay->sendV1(f.relay->v1Revision(key(1), QStringLiteral("too late"), true));
        QTest::qWait(100);
        QVERIFY(f.events.isEmpty());
        QCOMPARE(f.turnsSent().size(), 1);

        // A new session starts from scratch on a new socket.
        QCoro::waitFor(f.service->startSession(QStringLiteral("de"), QStringLiteral("German"), QStringLiteral("fr"),
                                               QStringLiteral("French"),
                                               [&f](const DeepSeekTranslationEvent &event) { f.events.append(event); }));
        f.service->enqueueFinalChunk(QStringLiteral("neu"), turn(1));
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("v1 fr: neu")));
        QCOMPARE(text(f.relay->v1Received(1).first(), "sessionId"), f.service->liveSessionID());
    }

    void resetOfAnIdleClient()
    {
        LegacyFixture f;
        const QString session = f.service->liveSessionID();
        QCoro::waitFor(f.service->resetSession());
        QVERIFY(f.service->liveSessionID() != session);
        QCOMPARE(f.relay->v1ConnectionCount(), 0);
        // The handler is gone with the reset.
        f.service->enqueueFinalChunk(QStringLiteral("unheard"), turn(1));
        QTRY_COMPARE(f.relay->allV1Received(QStringLiteral("translate_turn")).size(), 1);
        QTRY_VERIFY(!f.service->isProcessingQueue());
        QVERIFY(f.events.isEmpty());
    }

    // Pings are answered, so the socket lives through many intervals; one due while the socket
    // still opens (a busy machine, a slow network) waits for it rather than tearing it down.
    void keepAlivePing_data()
    {
        QTest::addColumn<int>("intervalMilliseconds");
        QTest::newRow("20 ms") << 20;
        QTest::newRow("shorter than the opening") << 1;
    }

    void keepAlivePing()
    {
        QFETCH(int, intervalMilliseconds);
        LegacyFixture f;
        auto timings = f.service->timings();
        timings.keepAliveInterval = std::chrono::milliseconds(intervalMilliseconds);
        f.service->setTimings(timings);
        f.service->enqueueFinalChunk(QStringLiteral("hello"), turn(1));
        QTRY_COMPARE(f.events.size(), 1);
        QTest::qWait(200);
        QVERIFY(f.service->isSocketReady());
        QCOMPARE(f.relay->v1ConnectionCount(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_DeepSeekTranslationService)
#include "tst_DeepSeekTranslationService.moc"
