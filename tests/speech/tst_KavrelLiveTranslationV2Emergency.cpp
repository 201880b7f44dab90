// The version-2 client's fallback over chat completions while no socket is ready, against the
// fake backend's chat proxy: the preview lane's pause and follow-up runs, the final lane's order
// and its two runs per final, which results are still delivered, the two completed events of
// one turn, and the exact request of translateStableBlock.

#include "TranslationTestSupport.h"

#include <QJsonArray>
#include <QTest>

using namespace TranslationTest;

namespace {

// A client that never gets a ready socket: the relay refuses every upgrade.
struct Offline : Fixture
{
    explicit Offline(std::chrono::milliseconds previewPause = 80ms)
    {
        relay->setV2UpgradeStatus(503);
        auto timings = fastTimings();
        timings.emergencyPreviewDelay = previewPause;
        service->setTimings(timings);
    }

    QStringList chatTexts() const
    {
        QStringList texts;
        for (const QJsonObject &request : relay->chatRequests())
            texts.append(request.value(QStringLiteral("messages")).toArray().last().toObject().value(QStringLiteral("content")).toString());
        return texts;
    }
};

QList<DeepSeekTranslationHistoryTurn> sixTurns()
{
    return {
        {QStringLiteral("s1"), QStringLiteral("t1")}, {QStringLiteral("s2"), QStringLiteral("t2")},
        {QStringLiteral(" s3 "), QStringLiteral("\tt3\n")}, {QStringLiteral("s4"), QStringLiteral("  ")},
        {QStringLiteral("s5"), QStringLiteral("t5")}, {QStringLiteral("s6"), QStringLiteral("t6")},
    };
}

} // namespace

class tst_KavrelLiveTranslationV2Emergency : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void previewPauseGathersTexts()
    {
        Offline f;
        f.start();
        f.enqueueInterim(1, QStringLiteral("a"));
        f.enqueueInterim(1, QStringLiteral("ab"));
        f.enqueueInterim(1, QStringLiteral("abc"));
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::preview(turn(1), QStringLiteral("chat: abc")));
        QCOMPARE(f.chatTexts(), QStringList{QStringLiteral("abc")});
    }

    void textDuringARequestGivesOneMoreRun()
    {
        Offline f;
        f.relay->setChatDelayMs(200);
        f.start();
        f.enqueueInterim(1, QStringLiteral("a"));
        QTRY_COMPARE(f.relay->chatRequests().size(), 1);
        f.enqueueInterim(1, QStringLiteral("b"));
        f.enqueueInterim(1, QStringLiteral("bc"));
        QTRY_COMPARE(f.events.size(), 2);
        const QList<DeepSeekTranslationEvent> expected = {
            DeepSeekTranslationEvent::preview(turn(1), QStringLiteral("chat: a")),
            DeepSeekTranslationEvent::preview(turn(1), QStringLiteral("chat: bc")),
        };
        QCOMPARE(f.events, expected);
        QCOMPARE(f.chatTexts(), (QStringList{QStringLiteral("a"), QStringLiteral("bc")}));
    }

    void anotherTurnMakesTheRunningPreviewStale()
    {
        LogCapture log;
        Offline f;
        f.relay->setChatDelayMs(200);
        f.start();
        f.enqueueInterim(1, QStringLiteral("first turn"));
        QTRY_COMPARE(f.relay->chatRequests().size(), 1);
        f.enqueueInterim(2, QStringLiteral("second turn"));
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::preview(turn(2), QStringLiteral("chat: second turn")));
        QVERIFY(log.contains(QStringLiteral("discarded stale emergency preview turn=") + key(1)));
    }

    void withoutHandlerOnlyFinalsAreTranslated()
    {
        Offline f;
        QCoro::waitFor(f.service->startSession(QStringLiteral("ru"), QStringLiteral("Russian"), QStringLiteral("en"),
                                               QStringLiteral("English"), nullptr));
        f.enqueueInterim(1, QStringLiteral("interim"));
        f.enqueueFinal(2, QStringLiteral("final"));
        QTRY_COMPARE(f.relay->chatRequests().size(), 1);
        QTest::qWait(200);
        QCOMPARE(f.chatTexts(), QStringList{QStringLiteral("final")});
    }

    void finalsOldestFirstAndTwiceAtMost()
    {
        Offline f;
        f.relay->failNextChatRequests(2);
        f.start();
        // Turn 2 sorts after turn 1 but is enqueued first.
        f.enqueueFinal(2, QStringLiteral("enqueued first"));
        f.enqueueFinal(1, QStringLiteral("enqueued second"));
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("chat: enqueued second")));

        // A final that failed twice is not tried a third time.
        f.enqueueFinal(3, QStringLiteral("third"));
        QTRY_COMPARE(f.events.size(), 2);
        QCOMPARE(f.events.last(), DeepSeekTranslationEvent::completed(turn(3), QStringLiteral("chat: third")));
        QTest::qWait(100);
        QCOMPARE(f.chatTexts(), (QStringList{QStringLiteral("enqueued first"), QStringLiteral("enqueued first"),
                                             QStringLiteral("enqueued second"), QStringLiteral("third")}));
        // Its failures reach the engine as nothing at all; it waits for the server.
        QCOMPARE(f.events.size(), 2);
    }

    void resultOfAReplacedFinalIsDropped()
    {
        Offline f;
        f.relay->setChatDelayMs(200);
        f.start();
        f.enqueueFinal(1, QStringLiteral("first words"));
        QTRY_COMPARE(f.relay->chatRequests().size(), 1);
        f.enqueueFinal(1, QStringLiteral("better words"));
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("chat: better words")));
        QCOMPARE(f.chatTexts(), (QStringList{QStringLiteral("first words"), QStringLiteral("better words")}));
    }

    void fallbackAndServerBothComplete()
    {
        Offline f;
        f.start();
        f.enqueueFinal(1, QStringLiteral("hello"));
        QTRY_COMPARE(f.events.size(), 1);
        // The fallback's translation does not settle the final: the server gets it once it is back.
        f.relay->setV2UpgradeStatus(0);
        QTRY_COMPARE(f.events.size(), 2);
        const QList<DeepSeekTranslationEvent> expected = {
            DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("chat: hello")),
            DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("en: hello")),
        };
        QCOMPARE(f.events, expected);
        QCOMPARE(f.relay->v2Received(0, QStringLiteral("translate_final")).size(), 1);
    }

    void readyStopsTheFallback()
    {
        Offline f;
        f.relay->setChatDelayMs(300);
        f.start();
        f.enqueueInterim(1, QStringLiteral("open turn"));
        f.enqueueFinal(2, QStringLiteral("closed turn"));
        QTRY_COMPARE(f.relay->chatRequests().size(), 2);
        f.relay->setV2UpgradeStatus(0);
        QTRY_VERIFY(f.service->isReady());
        QTRY_COMPARE(f.events.size(), 2);
        QTest::qWait(400);
        const QList<DeepSeekTranslationEvent> expected = {
            DeepSeekTranslationEvent::completed(turn(2), QStringLiteral("en: closed turn")),
            DeepSeekTranslationEvent::preview(turn(1), QStringLiteral("en~ open turn")),
        };
        QCOMPARE(f.events, expected);
    }

    void cancelledRunsLeaveNewerRunsAlone_data()
    {
        QTest::addColumn<bool>("previewLane");
        QTest::newRow("preview lane") << true;
        QTest::newRow("final lane") << false;
    }

    void cancelledRunsLeaveNewerRunsAlone()
    {
        // A run cancelled during its chat request ends after a newer run was stored. It must not
        // drop the newer run's handle, or the lane would start a second run beside it.
        QFETCH(bool, previewLane);
        Offline f;
        f.relay->setChatDelayMs(200);
        f.start();
        if (previewLane) {
            f.enqueueInterim(1, QStringLiteral("a"));
            QTRY_COMPARE(f.relay->chatRequests().size(), 1);
            // The final cancels turn 1's preview run; turn 2 wants one of its own.
            f.enqueueFinal(1, QStringLiteral("a, done"));
            f.enqueueInterim(2, QStringLiteral("b"));
        } else {
            f.enqueueFinal(1, QStringLiteral("a"));
            QTRY_COMPARE(f.relay->chatRequests().size(), 1);
            f.reset();
            f.start();
            f.enqueueFinal(2, QStringLiteral("b"));
        }
        QTRY_VERIFY(!f.eventsOf(DeepSeekTranslationEvent::Kind::preview).isEmpty()
                    || !f.eventsOf(DeepSeekTranslationEvent::Kind::completed).isEmpty());
        QTest::qWait(500);
        QCOMPARE(f.chatTexts().count(QStringLiteral("b")), 1);
        int eventsForTurn2 = 0;
        for (const DeepSeekTranslationEvent &event : f.events)
            eventsForTurn2 += event.turnID == turn(2) ? 1 : 0;
        QCOMPARE(eventsForTurn2, 1);
    }

    void stableBlockRequestIsExact()
    {
        Fixture f;
        f.start();
        const QString block = QStringLiteral("  00:01 [Speaker 1] Привет\n00:02 [Speaker 2] Да\t\n");
        const QString translation = QCoro::waitFor(f.service->translateStableBlock(block, sixTurns()));
        QCOMPARE(translation, QStringLiteral("chat: 00:01 [Speaker 1] Привет\n00:02 [Speaker 2] Да"));

        const QList<RecordedRequest> requests = f.backend.requests(QString::fromLatin1(FakeTranslationRelay::chatPath));
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().method, QByteArray("POST"));
        QCOMPARE(requests.first().header("Authorization"), QByteArray("Bearer test-access-token"));
        // The last four turns of context, without the one lacking a translation (and nothing
        // older in its place), between the fixed instruction and the block.
        const QByteArray expected = QStringLiteral(
            "{\"max_tokens\":768,\"messages\":["
            "{\"content\":\"Translate from Russian to English. Preserve timestamps, speaker labels, and line order. "
            "Return only the translation.\",\"role\":\"system\"},"
            "{\"content\":\"s3\",\"role\":\"user\"},{\"content\":\"t3\",\"role\":\"assistant\"},"
            "{\"content\":\"s5\",\"role\":\"user\"},{\"content\":\"t5\",\"role\":\"assistant\"},"
            "{\"content\":\"s6\",\"role\":\"user\"},{\"content\":\"t6\",\"role\":\"assistant\"},"
            "{\"content\":\"00:01 [Speaker 1] Привет\\n00:02 [Speaker 2] Да\",\"role\":\"user\"}],"
            "\"model\":\"deepseek-chat\",\"stream\":false,\"temperature\":0}").toUtf8();
        QCOMPARE(requests.first().body, expected);
    }

    void stableBlockFailures_data()
    {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("reply"); // "null", "blank" or "error"
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("requests");
        const QString empty = QStringLiteral("The AI backend returned an empty translation response.");
        QTest::newRow("blank block") << QStringLiteral(" \n\t ") << QString() << empty << 0;
        QTest::newRow("null content") << QStringLiteral("text") << QStringLiteral("null") << empty << 1;
        QTest::newRow("blank reply") << QStringLiteral("text") << QStringLiteral("blank") << empty << 1;
        QTest::newRow("proxy error") << QStringLiteral("text") << QStringLiteral("error") << QStringLiteral("upstream unavailable") << 1;
    }

    void stableBlockFailures()
    {
        QFETCH(QString, block);
        QFETCH(QString, reply);
        QFETCH(QString, message);
        QFETCH(int, requests);
        Fixture f;
        f.start();
        if (reply == QLatin1String("null"))
            f.relay->setChatReplyContent(std::optional<QString>());
        else if (reply == QLatin1String("blank"))
            f.relay->setChatReplyContent(std::optional<QString>(QStringLiteral(" \n ")));
        else if (reply == QLatin1String("error"))
            f.relay->failNextChatRequests(1, 500);
        const std::exception_ptr failure = failureOf(f.service->translateStableBlock(block, {}));
        QVERIFY(failure);
        QCOMPARE(errorMessage(failure), message);
        QCOMPARE(f.relay->chatRequests().size(), requests);
    }
};

QTEST_GUILESS_MAIN(tst_KavrelLiveTranslationV2Emergency)
#include "tst_KavrelLiveTranslationV2Emergency.moc"
