// The version-2 translation client against the fake relay over real sockets: the handshake
// and its time-outs, configure against resume, the flush after ready, previews and finals and
// what the client accepts of the server's answers, protocol errors by scope, pings, and the
// session rules of start and reset.

#include "TranslationTestSupport.h"

#include <QRegularExpression>
#include <QTest>

using namespace TranslationTest;
using Kind = DeepSeekTranslationEvent::Kind;

namespace {

FakeTranslationRelay::V2Script manualAnswers()
{
    FakeTranslationRelay::V2Script script;
    script.translatePreviews = false;
    script.translateFinals = false;
    return script;
}

} // namespace

class tst_KavrelLiveTranslationV2Service : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void handshakeTimeouts_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("error");
        QTest::newRow("open") << QStringLiteral("open") << QStringLiteral("The v2 translation WebSocket upgrade did not complete in time.");
        QTest::newRow("hello") << QStringLiteral("hello") << QStringLiteral("Live translation did not respond in time.");
        QTest::newRow("ready") << QStringLiteral("ready") << QStringLiteral("Live translation did not respond in time.");
    }

    void handshakeTimeouts()
    {
        QFETCH(QString, stage);
        QFETCH(QString, error);
        LogCapture log;
        Fixture f;
        auto timings = fastTimings();
        timings.openTimeout = 150ms;
        timings.helloTimeout = 150ms;
        timings.readyTimeout = 150ms;
        f.service->setTimings(timings);
        FakeTranslationRelay::V2Script script;
        if (stage == QLatin1String("open"))
            f.relay->setV2UpgradeNeverAnswered(true);
        else if (stage == QLatin1String("hello"))
            script.sendHello = false;
        else
            script.sendReady = false;
        f.relay->setV2Script(script);

        f.start();
        QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral("v2 websocket setup failed")) >= 2, 10000);
        QVERIFY(log.contains(QStringLiteral("error=") + error));
        QVERIFY(log.contains(QStringLiteral("v2 reconnect failed attempt=1 error=") + error));
        QVERIFY(!f.service->isReady());
        QVERIFY(f.service->isReconnecting());
        // A time-out is not the end: no failure reaches the engine.
        QVERIFY(f.events.isEmpty());

        if (stage != QLatin1String("open")) {
            QTRY_COMPARE(f.relay->v2Session(0)->clientCloseCode(), 1001);
            QTRY_VERIFY(f.relay->v2ConnectionCount() >= 2);
        }
        if (stage == QLatin1String("ready")) {
            // Never ready, so every attempt configures afresh.
            QTRY_COMPARE(f.relay->v2Received(1, QStringLiteral("configure")).size(), 1);
            QCOMPARE(f.relay->allV2Received(QStringLiteral("resume")).size(), 0);
        }
    }

    void configureThenResumeWithPendingFinals()
    {
        Fixture f;
        FakeTranslationRelay::V2Script script;
        script.translateFinals = false;
        f.relay->setV2Script(script);
        QVERIFY(f.startReady());

        const QString sessionId = f.service->logicalSessionID();
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")).match(sessionId).hasMatch());
        QCOMPARE(f.relay->v2Session(0)->textFrames().first(),
                 QByteArray(R"({"type":"configure","protocolVersion":2,"sessionId":")") + sessionId.toUtf8()
                     + QByteArray(R"(","sourceLanguage":"ru","targetLanguage":"en"})"));
        QCOMPARE(f.service->connectionID(), std::optional<QString>(QStringLiteral("conn-1")));

        f.enqueueFinal(2, QStringLiteral("second turn"));
        f.enqueueFinal(1, QStringLiteral("first turn"));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("final_ack")).size() + f.relay->v2Received(0, QStringLiteral("translate_final")).size(), 2);

        // The server drops the socket: the same logical session is resumed on the next one.
        f.relay->v2Session(0)->abort();
        QTRY_COMPARE(f.relay->v2ConnectionCount(), 2);
        QTRY_VERIFY(f.service->isReady());
        QTRY_COMPARE(f.relay->v2Received(1, QStringLiteral("translate_final")).size(), 2);
        const QList<QJsonObject> second = f.relay->v2Received(1);
        QCOMPARE(text(second.at(0), "type"), QStringLiteral("resume"));
        QCOMPARE(f.relay->v2Session(1)->textFrames().first(),
                 QByteArray(R"({"type":"resume","protocolVersion":2,"sessionId":")") + sessionId.toUtf8()
                     + QByteArray(R"(","sourceLanguage":"ru","targetLanguage":"en","pendingFinals":[{"turnId":")") + key(2).toUtf8()
                     + QByteArray(R"(","clientRevision":1},{"turnId":")") + key(1).toUtf8() + QByteArray(R"(","clientRevision":1}]})"));
        // The flush sends the finals again, in enqueue order and with their own revisions.
        QCOMPARE(text(second.at(1), "turnId"), key(2));
        QCOMPARE(text(second.at(1), "sourceText"), QStringLiteral("second turn"));
        QCOMPARE(text(second.at(2), "turnId"), key(1));
        QCOMPARE(integer(second.at(2), "clientRevision"), 1);
        QCOMPARE(f.service->connectionID(), std::optional<QString>(QStringLiteral("conn-2")));

        // A reset completes the session and closes normally; the next start configures anew.
        const QString legacySession = f.service->legacyFallbackService()->liveSessionID();
        f.reset();
        QTRY_COMPARE(f.relay->v2Session(1)->clientCloseCode(), 1000);
        QCOMPARE(text(f.relay->v2Received(1).last(), "type"), QStringLiteral("complete_session"));
        QCOMPARE(text(f.relay->v2Received(1).last(), "sessionId"), sessionId);
        QVERIFY(f.service->legacyFallbackService()->liveSessionID() != legacySession);
        QVERIFY(f.startReady());
        QCOMPARE(f.relay->v2ConnectionCount(), 3);
        QCOMPARE(text(f.relay->v2Received(2).first(), "type"), QStringLiteral("configure"));
        QVERIFY(text(f.relay->v2Received(2).first(), "sessionId") != sessionId);
    }

    void flushAfterReady()
    {
        Fixture f;
        FakeTranslationRelay::V2Script script = manualAnswers();
        script.sendReady = false;
        f.relay->setV2Script(script);
        f.start();
        QTRY_COMPARE(f.relay->v2ConnectionCount(), 1);
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("configure")).size(), 1);

        // While not ready everything is stored; interim texts take no revision yet.
        f.enqueueInterim(3, QStringLiteral("three"));
        f.enqueueInterim(1, QStringLiteral("one, early"));
        f.enqueueInterim(1, QStringLiteral("one, newest"));
        f.enqueueFinal(4, QStringLiteral("four"));
        f.enqueueInterim(2, QStringLiteral("two"));
        f.enqueueFinal(2, QStringLiteral("two, done"));
        f.enqueueFinal(5, QStringLiteral("five"));
        QCOMPARE(f.relay->v2Received(0).size(), 1);

        f.relay->sendV2(FakeTranslationRelay::ready(f.service->logicalSessionID(), QStringLiteral("conn-1"), false), 0);
        QTRY_COMPARE(f.relay->v2Received(0).size(), 6);
        const QList<QJsonObject> sent = f.relay->v2Received(0).mid(1);
        const QList<QPair<QString, QString>> expected = {
            {QStringLiteral("translate_final"), key(4)},   {QStringLiteral("translate_final"), key(2)},
            {QStringLiteral("translate_final"), key(5)},   {QStringLiteral("translate_preview"), key(1)},
            {QStringLiteral("translate_preview"), key(3)},
        };
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(text(sent.at(i), "type"), expected.at(i).first);
            QCOMPARE(text(sent.at(i), "turnId"), expected.at(i).second);
            QCOMPARE(integer(sent.at(i), "clientRevision"), 1);
        }
        QCOMPARE(text(sent.at(3), "sourceText"), QStringLiteral("one, newest"));
        QCOMPARE(text(sent.at(1), "sourceText"), QStringLiteral("two, done"));
    }

    void previewAcceptance_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("answer to the revision in flight") << QStringLiteral("match") << true;
        QTest::newRow("empty text is still an answer") << QStringLiteral("empty") << true;
        QTest::newRow("other session") << QStringLiteral("session") << false;
        QTest::newRow("other connection") << QStringLiteral("connection") << false;
        QTest::newRow("older revision") << QStringLiteral("older") << false;
        QTest::newRow("newer revision") << QStringLiteral("newer") << false;
        QTest::newRow("final pending") << QStringLiteral("final") << false;
        QTest::newRow("turn id in other letter case") << QStringLiteral("case") << false;
    }

    void previewAcceptance()
    {
        QFETCH(QString, variant);
        QFETCH(bool, accepted);
        Fixture f;
        f.relay->setV2Script(manualAnswers());
        QVERIFY(f.startReady());
        f.enqueueInterim(1, QStringLiteral("hello"));
        f.enqueueInterim(2, QStringLiteral("sentinel"));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("translate_preview")).size(), 2);
        const QString session = f.service->logicalSessionID();

        QString sessionId = session;
        QString connectionId = QStringLiteral("conn-1");
        QString turnId = key(1);
        qint64 revision = 1;
        QString translated = QStringLiteral("hallo");
        if (variant == QLatin1String("empty"))
            translated.clear();
        else if (variant == QLatin1String("session"))
            sessionId = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        else if (variant == QLatin1String("connection"))
            connectionId = QStringLiteral("conn-9");
        else if (variant == QLatin1String("older"))
            revision = 0;
        else if (variant == QLatin1String("newer"))
            revision = 2;
        else if (variant == QLatin1String("case"))
            turnId = key(1).toLower();
        else if (variant == QLatin1String("final"))
            f.enqueueFinal(1, QStringLiteral("hello there"));

        f.relay->sendV2(FakeTranslationRelay::translation(QStringLiteral("translation_preview"), sessionId, connectionId, turnId,
                                                          revision, translated));
        // The sentinel's answer comes after it on the same socket.
        f.relay->sendV2(FakeTranslationRelay::translation(QStringLiteral("translation_preview"), session, QStringLiteral("conn-1"),
                                                          key(2), 1, QStringLiteral("wächter")));
        QTRY_VERIFY(!f.events.isEmpty() && f.events.last().turnID == turn(2));

        QList<DeepSeekTranslationEvent> expected;
        if (accepted)
            expected.append(DeepSeekTranslationEvent::preview(turn(1), translated));
        expected.append(DeepSeekTranslationEvent::preview(turn(2), QStringLiteral("wächter")));
        QCOMPARE(f.events, expected);
    }

    void onlyTheNewestPreviewTextIsSent()
    {
        Fixture f;
        f.relay->setV2Script(manualAnswers());
        QVERIFY(f.startReady());
        const QString session = f.service->logicalSessionID();
        const auto previewsOfTurn1 = [&f] {
            QList<QPair<QString, qint64>> result;
            for (const QJsonObject &message : f.relay->v2Received(0, QStringLiteral("translate_preview"))) {
                if (text(message, "turnId") == key(1))
                    result.append({text(message, "sourceText"), integer(message, "clientRevision")});
            }
            return result;
        };
        const auto answer = [&](qint64 revision) {
            f.relay->sendV2(FakeTranslationRelay::translation(QStringLiteral("translation_preview"), session, QStringLiteral("conn-1"),
                                                              key(1), revision, QStringLiteral("t%1").arg(revision)));
        };

        f.enqueueInterim(1, QStringLiteral("a"));
        QTRY_COMPARE(previewsOfTurn1().size(), 1);
        // One revision is in flight: these only replace the newest text.
        f.enqueueInterim(1, QStringLiteral("b"));
        f.enqueueInterim(1, QStringLiteral("c"));
        f.enqueueInterim(1, QStringLiteral("  d  "));
        answer(1);
        QTRY_COMPARE(previewsOfTurn1().size(), 2);
        answer(2);
        QTRY_COMPARE(f.eventsOf(Kind::preview).size(), 2);

        // The same text (also in another Unicode composition) is not sent again.
        f.enqueueInterim(1, QStringLiteral("d"));
        f.enqueueInterim(1, QStringLiteral("caf\u00e9"));
        QTRY_COMPARE(previewsOfTurn1().size(), 3);
        answer(3);
        QTRY_COMPARE(f.eventsOf(Kind::preview).size(), 3);
        f.enqueueInterim(1, QStringLiteral("cafe\u0301"));
        f.enqueueInterim(1, QStringLiteral("   "));
        // The final takes the next revision of the turn's one counter.
        f.enqueueFinal(1, QStringLiteral("café, final"));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("translate_final")).size(), 1);

        const QList<QPair<QString, qint64>> expected = {
            {QStringLiteral("a"), 1}, {QStringLiteral("d"), 2}, {QStringLiteral("caf\u00e9"), 3}};
        QCOMPARE(previewsOfTurn1(), expected);
        QCOMPARE(integer(f.relay->v2Received(0, QStringLiteral("translate_final")).first(), "clientRevision"), 4);
    }

    void finalAcceptanceAndResend()
    {
        Fixture f;
        f.relay->setV2Script(manualAnswers());
        QVERIFY(f.startReady());
        const QString session = f.service->logicalSessionID();
        const auto finalAnswer = [&](int number, qint64 revision, const QString &value) {
            return FakeTranslationRelay::translation(QStringLiteral("translation_final"), session, QStringLiteral("conn-1"), key(number),
                                                     revision, value);
        };
        const auto finalFrames = [&f] {
            QList<QByteArray> frames;
            for (const QByteArray &frame : f.relay->v2Session(0)->textFrames()) {
                if (frame.contains("\"translate_final\""))
                    frames.append(frame);
            }
            return frames;
        };

        f.enqueueFinal(1, QStringLiteral("first"));
        QTRY_COMPARE(finalFrames().size(), 1);
        f.relay->sendV2(finalAnswer(1, 2, QStringLiteral("wrong revision")));
        f.relay->sendV2(FakeTranslationRelay::turnMessage(QStringLiteral("final_missing"), key(1), 2));
        f.relay->sendV2(FakeTranslationRelay::turnMessage(QStringLiteral("final_missing"), key(1), 1));
        QTRY_COMPARE(finalFrames().size(), 2);
        QCOMPARE(finalFrames().at(1), finalFrames().at(0));

        f.relay->sendV2(finalAnswer(1, 1, QStringLiteral("erste")));
        f.relay->sendV2(finalAnswer(1, 1, QStringLiteral("second answer")));
        f.relay->sendV2(FakeTranslationRelay::turnMessage(QStringLiteral("final_missing"), key(1), 1));
        QTRY_COMPARE(f.events.size(), 1);
        // A settled turn takes no further texts.
        f.enqueueFinal(1, QStringLiteral("again"));
        f.enqueueInterim(1, QStringLiteral("more"));

        f.enqueueFinal(2, QStringLiteral("second"));
        QTRY_COMPARE(finalFrames().size(), 3);
        f.relay->sendV2(FakeTranslationRelay::turnMessage(QStringLiteral("final_failed"), key(2), 99));
        f.relay->sendV2(finalAnswer(2, 1, QStringLiteral("too late")));

        f.enqueueFinal(3, QStringLiteral("third"));
        QTRY_COMPARE(finalFrames().size(), 4);
        f.relay->sendV2(finalAnswer(3, 1, QStringLiteral("dritte")));
        QTRY_COMPARE(f.events.size(), 3);

        const QList<DeepSeekTranslationEvent> expected = {
            DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("erste")),
            DeepSeekTranslationEvent::failed(QStringLiteral("Final translation failed for turn ") + key(2) + QStringLiteral(".")),
            DeepSeekTranslationEvent::completed(turn(3), QStringLiteral("dritte")),
        };
        QCOMPARE(f.events, expected);
        QCOMPARE(f.relay->v2Received(0, QStringLiteral("translate_preview")).size(), 0);
        QCOMPARE(finalFrames().size(), 4);
    }

    // A settled turn keeps no record in the client: whatever still comes for it, from the server
    // or from the engine, changes nothing, and the turns after it go on as before.
    void lateMessagesForASettledTurn_data()
    {
        QTest::addColumn<QString>("late");
        QTest::newRow("the final's answer again") << QStringLiteral("final answer, same revision");
        QTest::newRow("an answer for a newer revision") << QStringLiteral("final answer, next revision");
        QTest::newRow("final_missing") << QStringLiteral("final missing");
        QTest::newRow("final_ack") << QStringLiteral("final ack");
        QTest::newRow("a preview answer") << QStringLiteral("preview answer");
        QTest::newRow("a preview error without revision") << QStringLiteral("preview error");
        QTest::newRow("a recoverable final error") << QStringLiteral("final error");
        QTest::newRow("an interim text from the engine") << QStringLiteral("interim");
        QTest::newRow("a final text from the engine") << QStringLiteral("final");
    }

    void lateMessagesForASettledTurn()
    {
        QFETCH(QString, late);
        Fixture f;
        f.relay->setV2Script(manualAnswers());
        QVERIFY(f.startReady());
        const QString session = f.service->logicalSessionID();
        const auto answer = [&](const QString &type, int number, qint64 revision, const QString &value) {
            f.relay->sendV2(FakeTranslationRelay::translation(type, session, QStringLiteral("conn-1"), key(number), revision, value));
        };
        // What the client sent besides pings (its heartbeat may send some of its own).
        const auto sentFrames = [&f] {
            qsizetype count = 0;
            for (const QJsonObject &frame : f.relay->v2Received(0))
                count += text(frame, "type") == QLatin1String("ping") ? 0 : 1;
            return count;
        };

        f.enqueueInterim(1, QStringLiteral("one"));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("translate_preview")).size(), 1);
        f.enqueueFinal(1, QStringLiteral("one two"));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("translate_final")).size(), 1);
        answer(QStringLiteral("translation_final"), 1, 2, QStringLiteral("eins zwei"));
        QTRY_COMPARE(f.events.size(), 1);
        const qsizetype framesBefore = sentFrames();

        if (late == QLatin1String("final answer, same revision"))
            answer(QStringLiteral("translation_final"), 1, 2, QStringLiteral("again"));
        else if (late == QLatin1String("final answer, next revision"))
            answer(QStringLiteral("translation_final"), 1, 3, QStringLiteral("newer"));
        else if (late == QLatin1String("final missing"))
            f.relay->sendV2(FakeTranslationRelay::turnMessage(QStringLiteral("final_missing"), key(1), 2));
        else if (late == QLatin1String("final ack"))
            f.relay->sendV2(FakeTranslationRelay::ack(QStringLiteral("final_ack"), key(1), 2));
        else if (late == QLatin1String("preview answer"))
            answer(QStringLiteral("translation_preview"), 1, 1, QStringLiteral("eins"));
        else if (late == QLatin1String("preview error"))
            f.relay->sendV2(FakeTranslationRelay::error(QStringLiteral("preview_failed"), QStringLiteral("try later"), true,
                                                        QStringLiteral("preview"), key(1)));
        else if (late == QLatin1String("final error"))
            f.relay->sendV2(FakeTranslationRelay::error(QStringLiteral("final_error"), QStringLiteral("later"), true,
                                                        QStringLiteral("final"), key(1), 2));
        else if (late == QLatin1String("interim"))
            f.enqueueInterim(1, QStringLiteral("one two three"));
        else
            f.enqueueFinal(1, QStringLiteral("one two three"));
        // A ping after it marks when it has been handled; the preview retry pause is 30 ms.
        f.relay->sendV2(FakeTranslationRelay::envelope(QStringLiteral("ping")));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("ping")).size(), 1);
        QTest::qWait(100);
        QCOMPARE(sentFrames(), framesBefore);

        // The next turn starts at its own first revision and settles as usual.
        f.enqueueFinal(2, QStringLiteral("three"));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("translate_final")).size(), 2);
        QCOMPARE(integer(f.relay->v2Received(0, QStringLiteral("translate_final")).last(), "clientRevision"), 1);
        answer(QStringLiteral("translation_final"), 2, 1, QStringLiteral("drei"));
        QTRY_COMPARE(f.events.size(), 2);
        const QList<DeepSeekTranslationEvent> expected = {
            DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("eins zwei")),
            DeepSeekTranslationEvent::completed(turn(2), QStringLiteral("drei")),
        };
        QCOMPARE(f.events, expected);
        QCOMPARE(f.relay->v2ConnectionCount(), 1);
    }

    void previewScopeErrors_data()
    {
        QTest::addColumn<QString>("turnId");
        QTest::addColumn<qint64>("revision"); // -1: absent
        QTest::addColumn<bool>("retried");
        QTest::newRow("the preview in flight") << key(1) << qint64(1) << true;
        QTest::newRow("another revision") << key(1) << qint64(7) << false;
        QTest::newRow("no revision, turn in flight") << key(1) << qint64(-1) << false;
        QTest::newRow("no revision, turn not in flight") << key(3) << qint64(-1) << true;
        QTest::newRow("no turn") << QString() << qint64(1) << false;
    }

    void previewScopeErrors()
    {
        QFETCH(QString, turnId);
        QFETCH(qint64, revision);
        QFETCH(bool, retried);
        Fixture f;
        f.relay->setV2Script(manualAnswers());
        QVERIFY(f.startReady());
        f.enqueueInterim(1, QStringLiteral("one"));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("translate_preview")).size(), 1);
        if (turnId == key(3)) {
            // A turn that waits for no answer: its last-sent text is forgotten, so it goes again.
            f.relay->sendV2(FakeTranslationRelay::translation(QStringLiteral("translation_preview"), f.service->logicalSessionID(),
                                                              QStringLiteral("conn-1"), key(1), 1, QStringLiteral("eins")));
            QTRY_COMPARE(f.events.size(), 1);
            f.enqueueInterim(3, QStringLiteral("three"));
            QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("translate_preview")).size(), 2);
            f.relay->sendV2(FakeTranslationRelay::translation(QStringLiteral("translation_preview"), f.service->logicalSessionID(),
                                                              QStringLiteral("conn-1"), key(3), 1, QStringLiteral("drei")));
            QTRY_COMPARE(f.events.size(), 2);
        }
        const int before = int(f.relay->v2Received(0, QStringLiteral("translate_preview")).size());
        f.relay->sendV2(FakeTranslationRelay::error(QStringLiteral("preview_failed"), QStringLiteral("try later"), true,
                                                    QStringLiteral("preview"),
                                                    turnId.isEmpty() ? std::nullopt : std::optional<QString>(turnId),
                                                    revision < 0 ? std::nullopt : std::optional<qint64>(revision)));
        // A ping after the error marks when it has been handled.
        f.relay->sendV2(FakeTranslationRelay::envelope(QStringLiteral("ping")));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("ping")).size(), 1);
        QTest::qWait(100); // the retry pause is 30 ms
        const QList<QJsonObject> previews = f.relay->v2Received(0, QStringLiteral("translate_preview"));
        QCOMPARE(previews.size(), before + (retried ? 1 : 0));
        if (retried) {
            QCOMPARE(text(previews.last(), "turnId"), turnId);
            QCOMPARE(integer(previews.last(), "clientRevision"), 2);
        }
        QCOMPARE(f.relay->v2ConnectionCount(), 1);
    }

    void finalScopeErrors_data()
    {
        QTest::addColumn<bool>("recoverable");
        QTest::addColumn<bool>("withTurn");
        QTest::addColumn<bool>("givenUp");
        QTest::newRow("recoverable") << true << true << false;
        QTest::newRow("not recoverable") << false << true << true;
        QTest::newRow("not recoverable, no turn") << false << false << false;
    }

    void finalScopeErrors()
    {
        QFETCH(bool, recoverable);
        QFETCH(bool, withTurn);
        QFETCH(bool, givenUp);
        Fixture f;
        f.relay->setV2Script(manualAnswers());
        QVERIFY(f.startReady());
        f.enqueueFinal(1, QStringLiteral("one"));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("translate_final")).size(), 1);
        f.relay->sendV2(FakeTranslationRelay::error(QStringLiteral("final_error"), QStringLiteral("the final failed"), recoverable,
                                                    QStringLiteral("final"),
                                                    withTurn ? std::optional<QString>(key(1)) : std::nullopt, 1));
        f.relay->sendV2(FakeTranslationRelay::translation(QStringLiteral("translation_final"), f.service->logicalSessionID(),
                                                          QStringLiteral("conn-1"), key(1), 1, QStringLiteral("eins")));
        f.relay->sendV2(FakeTranslationRelay::envelope(QStringLiteral("ping")));
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("ping")).size(), 1);

        const QList<DeepSeekTranslationEvent> expected = givenUp
            ? QList<DeepSeekTranslationEvent>{DeepSeekTranslationEvent::failed(QStringLiteral("the final failed"))}
            : QList<DeepSeekTranslationEvent>{DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("eins"))};
        // The client's own heartbeat can answer the wait above before the relay's messages are
        // read on a loaded machine: wait for the outcome itself.
        QTRY_COMPARE(f.events, expected);
    }

    void connectionScopeErrors_data()
    {
        QTest::addColumn<QString>("scope");
        QTest::addColumn<bool>("beforeReady");
        QTest::addColumn<bool>("recoverable");
        QTest::newRow("connection, during the handshake") << QStringLiteral("connection") << true << false;
        QTest::newRow("session, during the handshake") << QStringLiteral("session") << true << true;
        QTest::newRow("connection, ready, recoverable") << QStringLiteral("connection") << false << true;
        QTest::newRow("session, ready, not recoverable") << QStringLiteral("session") << false << false;
        QTest::newRow("unknown scope") << QStringLiteral("galaxy") << false << false;
    }

    void connectionScopeErrors()
    {
        QFETCH(QString, scope);
        QFETCH(bool, beforeReady);
        QFETCH(bool, recoverable);
        LogCapture log;
        Fixture f;
        FakeTranslationRelay::V2Script first;
        first.sendReady = !beforeReady;
        f.relay->queueV2Script(first);
        f.start();
        QTRY_COMPARE(f.relay->v2ConnectionCount(), 1);
        if (beforeReady)
            QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("configure")).size(), 1);
        else
            QTRY_VERIFY(f.service->isReady());

        f.relay->sendV2(FakeTranslationRelay::error(QStringLiteral("E1"), QStringLiteral("relay trouble"), recoverable, scope), 0);
        f.relay->sendV2(FakeTranslationRelay::envelope(QStringLiteral("ping")), 0);

        const bool reconnects = beforeReady || recoverable;
        if (reconnects) {
            QTRY_COMPARE(f.relay->v2Session(0)->clientCloseCode(), 1001);
            QTRY_COMPARE(f.relay->v2ConnectionCount(), 2);
            QTRY_VERIFY(f.service->isReady());
            // Configured only once the server said ready.
            QCOMPARE(text(f.relay->v2Received(1).first(), "type"),
                     beforeReady ? QStringLiteral("configure") : QStringLiteral("resume"));
            QVERIFY(f.events.isEmpty());
            if (beforeReady)
                QVERIFY(log.contains(QStringLiteral("error=The AI backend returned an error: relay trouble")));
        } else {
            QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("ping")).size(), 1);
            QCOMPARE(f.relay->v2ConnectionCount(), 1);
            QVERIFY(f.service->isReady());
            const QList<DeepSeekTranslationEvent> expected = scope == QLatin1String("galaxy")
                ? QList<DeepSeekTranslationEvent>()
                : QList<DeepSeekTranslationEvent>{DeepSeekTranslationEvent::failed(QStringLiteral("relay trouble"))};
            QCOMPARE(f.events, expected);
        }
        QVERIFY(log.contains(QStringLiteral("v2 protocol error code=E1 scope=") + scope));
    }

    void pingsAndUnknownMessages()
    {
        Fixture f;
        QVERIFY(f.startReady());
        QJsonObject ping = FakeTranslationRelay::envelope(QStringLiteral("ping"));
        ping.insert(QStringLiteral("nonce"), 5);
        f.relay->sendV2(ping);
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("ping")).size(), 1);
        const QJsonObject answer = f.relay->v2Received(0, QStringLiteral("ping")).first();
        QCOMPARE(answer.keys(), (QStringList{QStringLiteral("clientTime"), QStringLiteral("type")}));
        const QString clientTime = text(answer, "clientTime");
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$")).match(clientTime).hasMatch(),
                 qPrintable(clientTime));
        QVERIFY(qAbs(QDateTime::fromString(clientTime, Qt::ISODate).secsTo(QDateTime::currentDateTimeUtc())) < 60);

        // Types the client does not know, in any letter case, leave the socket alone.
        for (const char *type : {"pong", "session_completed", "Hello", "READY", "something_new"})
            f.relay->sendV2(FakeTranslationRelay::envelope(QString::fromLatin1(type)));
        // A binary frame holding UTF-8 JSON counts like a text frame.
        f.relay->v2Session()->sendBinary(R"({"type":"ping"})");
        QTRY_COMPARE(f.relay->v2Received(0, QStringLiteral("ping")).size(), 2);
        QCOMPARE(f.relay->v2ConnectionCount(), 1);

        // A frame that does not read is a broken socket: closed, and the session resumed.
        f.relay->sendV2(QJsonObject{{QStringLiteral("type"), QStringLiteral("final_missing")},
                                    {QStringLiteral("turnId"), key(1)},
                                    {QStringLiteral("clientRevision"), QStringLiteral("1")}});
        QTRY_COMPARE(f.relay->v2Session(0)->clientCloseCode(), 1001);
        QTRY_COMPARE(f.relay->v2ConnectionCount(), 2);
        QTRY_COMPARE(f.relay->v2Received(1, QStringLiteral("resume")).size(), 1);
        QVERIFY(f.events.isEmpty());
    }

    void startSessionRules()
    {
        Fixture f;
        QVERIFY(f.startReady());
        const QString session = f.service->logicalSessionID();

        // Same codes (up to white space): only the handler changes.
        QList<DeepSeekTranslationEvent> second;
        QCoro::waitFor(f.service->startSession(QStringLiteral(" ru\n"), QStringLiteral("Russian"), QStringLiteral("en "),
                                               QStringLiteral("English"),
                                               [&second](const DeepSeekTranslationEvent &event) { second.append(event); }));
        QCOMPARE(f.service->logicalSessionID(), session);
        f.enqueueFinal(1, QStringLiteral("hello"));
        QTRY_COMPARE(second.size(), 1);
        QCOMPARE(second.first(), DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("en: hello")));
        QVERIFY(f.events.isEmpty());

        // Other codes while a socket exists: refused, nothing changes.
        const auto refused = errorAs<DeepSeekTranslationError>(failureOf(f.service->startSession(
            QStringLiteral("de"), QStringLiteral("German"), QStringLiteral("en"), QStringLiteral("English"), f.handler())));
        QVERIFY(refused);
        QCOMPARE(refused->message(), QStringLiteral("Live translation is already connected."));
        QCOMPARE(f.service->logicalSessionID(), session);
        QVERIFY(f.service->isReady());

        f.reset();
        QVERIFY(!f.service->isReady());
        QVERIFY(f.startReady(QStringLiteral("de"), QStringLiteral("fr")));
        QVERIFY(f.service->logicalSessionID() != session);
        QCOMPARE(text(f.relay->v2Received(1).first(), "sourceLanguage"), QStringLiteral("de"));
        // Revisions start again at 1 after a reset.
        f.enqueueInterim(1, QStringLiteral("hallo"));
        QTRY_COMPARE(f.relay->v2Received(1, QStringLiteral("translate_preview")).size(), 1);
        QCOMPARE(integer(f.relay->v2Received(1, QStringLiteral("translate_preview")).first(), "clientRevision"), 1);
    }

    // A start made while a reset still waits for its last frame to leave (a stalled network)
    // takes effect after the reset instead of being undone by it, for the same languages and
    // for new ones.
    void startWaitsForAResetUnderWay_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::newRow("same languages") << QStringLiteral("ru") << QStringLiteral("en");
        QTest::newRow("other languages") << QStringLiteral("de") << QStringLiteral("fr");
    }

    void startWaitsForAResetUnderWay()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        Fixture f;
        QVERIFY(f.startReady());
        QVERIFY(f.backend.stallReading(f.relay->v2Session(0)));
        // A final big enough to fill the buffers on the way, so the reset's frame waits behind it.
        spawnTask([&f](CancellationToken) -> QCoro::Task<void> {
            co_await f.service->enqueueFinalChunk(QString(16 * 1024 * 1024, QLatin1Char('x')), turn(1));
        });
        bool resetDone = false;
        spawnTask([&f, &resetDone](CancellationToken) -> QCoro::Task<void> {
            co_await f.service->resetSession();
            resetDone = true;
        });
        QTest::qWait(50);
        QVERIFY(!resetDone);

        QList<DeepSeekTranslationEvent> fresh;
        KavrelLiveTranslationV2Service::EventHandler handler = [&fresh](const DeepSeekTranslationEvent &event) {
            fresh.append(event);
        };
        const auto started = startTask([&f, source, target, handler] {
            return f.service->startSession(source, QStringLiteral("Source"), target, QStringLiteral("Target"), handler);
        });
        f.backend.resumeReading(f.relay->v2Session(0));
        QTRY_VERIFY_WITH_TIMEOUT(resetDone && started->finished, 20000);
        QVERIFY2(!started->error, qPrintable(errorMessage(started->error)));

        QTRY_VERIFY_WITH_TIMEOUT(f.service->isReady(), 10000);
        QCOMPARE(f.relay->v2ConnectionCount(), 2);
        QCOMPARE(text(f.relay->v2Received(1).first(), "sourceLanguage"), source);
        f.enqueueFinal(2, QStringLiteral("hello"));
        QTRY_COMPARE(fresh.size(), 1);
        QCOMPARE(fresh.first(), DeepSeekTranslationEvent::completed(turn(2), target + QStringLiteral(": hello")));
    }

    void resetWithoutSocketSilencesTheSession()
    {
        // The loop gave up (signed out meanwhile) while an emergency final was still asking the
        // chat proxy: the reset must still stop it, so nothing reaches the stopped session.
        Fixture f;
        f.relay->setV2UpgradeStatus(503);
        f.relay->setChatDelayMs(400);
        f.start();
        f.enqueueFinal(1, QStringLiteral("late"));
        QTRY_COMPARE(f.relay->chatRequests().size(), 1);
        QCoro::waitFor(f.auth->deleteSavedSession());
        QTRY_VERIFY(!f.service->isReconnecting());
        QCOMPARE(f.events, QList<DeepSeekTranslationEvent>{DeepSeekTranslationEvent::failed(QStringLiteral("Sign in to use live translation."))});

        f.reset();
        f.events.clear();
        // Longer than the chat proxy's delay: the abandoned request would have answered by now.
        QTest::qWait(600);
        QVERIFY(f.events.isEmpty());

        TestAuth::secretStoreOf(f.auth.get())
            ->setValue(QString::fromLatin1(AuthService::sessionAccount), TestAuth::defaultSession().toJsonBytes());
        f.start();
        f.enqueueFinal(2, QStringLiteral("fresh"));
        QTRY_VERIFY_WITH_TIMEOUT(!f.events.isEmpty(), 5000);
        QCOMPARE(f.events, QList<DeepSeekTranslationEvent>{DeepSeekTranslationEvent::completed(turn(2), QStringLiteral("chat: fresh"))});
    }

    void resetOnIdleClient()
    {
        Fixture f;
        const QString session = f.service->logicalSessionID();
        f.reset();
        QCOMPARE(f.service->logicalSessionID(), session);
        QVERIFY(!f.service->isReconnecting());
        QCOMPARE(f.backend.upgradeRequests(QString::fromLatin1(FakeTranslationRelay::v2Path)).size(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_KavrelLiveTranslationV2Service)
#include "tst_KavrelLiveTranslationV2Service.moc"
