// The version-2 translation messages on their own: what goes out byte for byte, what comes in
// and what fails to read, and the fixed texts of the translation errors.

#include "platform/WebSocketError.h"
#include "speech/DeepSeekTranslationError.h"
#include "speech/TranslationV2WebSocketOpenError.h"
#include "speech/TranslationV2Messages.h"

#include <QTest>

#include <functional>

class tst_KavrelLiveTranslationV2Messages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void outgoingBytes_data()
    {
        QTest::addColumn<QByteArray>("actual");
        QTest::addColumn<QByteArray>("expected");

        V2ConfigureMessage configure;
        configure.sessionId = QStringLiteral("S");
        configure.sourceLanguage = QStringLiteral("ru");
        configure.targetLanguage = QStringLiteral("en");
        QTest::newRow("configure")
            << configure.toJson()
            << QByteArray(R"({"type":"configure","protocolVersion":2,"sessionId":"S","sourceLanguage":"ru","targetLanguage":"en"})");

        V2ResumeMessage resume;
        resume.sessionId = QStringLiteral("S");
        resume.sourceLanguage = QStringLiteral("de");
        resume.targetLanguage = QStringLiteral("fr");
        QTest::newRow("resume without finals")
            << resume.toJson()
            << QByteArray(R"({"type":"resume","protocolVersion":2,"sessionId":"S","sourceLanguage":"de","targetLanguage":"fr","pendingFinals":[]})");
        resume.pendingFinals = {V2PendingFinalReference{QStringLiteral("A"), 3}, V2PendingFinalReference{QStringLiteral("B"), 1}};
        QTest::newRow("resume with finals")
            << resume.toJson()
            << QByteArray(R"({"type":"resume","protocolVersion":2,"sessionId":"S","sourceLanguage":"de","targetLanguage":"fr",)"
                          R"("pendingFinals":[{"turnId":"A","clientRevision":3},{"turnId":"B","clientRevision":1}]})");

        // Source texts go out as they are, quotes, newlines and all.
        V2PreviewMessage preview{QStringLiteral("S"), QStringLiteral("T"), 7, QStringLiteral("Привет \"мир\"\n")};
        QTest::newRow("preview")
            << preview.toJson()
            << QByteArray("{\"type\":\"translate_preview\",\"sessionId\":\"S\",\"turnId\":\"T\",\"clientRevision\":7,"
                          "\"sourceText\":\"Привет \\\"мир\\\"\\n\"}");
        V2FinalMessage final{QStringLiteral("S"), QStringLiteral("T"), 9007199254740993LL, QStringLiteral("done")};
        QTest::newRow("final with a 64-bit revision")
            << final.toJson()
            << QByteArray(R"({"type":"translate_final","sessionId":"S","turnId":"T","clientRevision":9007199254740993,"sourceText":"done"})");
        QTest::newRow("complete_session") << V2CompleteSessionMessage{QStringLiteral("S")}.toJson()
                                          << QByteArray(R"({"type":"complete_session","sessionId":"S"})");
        QTest::newRow("ping") << V2PingMessage{QStringLiteral("2024-05-01T10:20:30Z")}.toJson()
                              << QByteArray(R"({"type":"ping","clientTime":"2024-05-01T10:20:30Z"})");
    }

    void outgoingBytes()
    {
        QFETCH(QByteArray, actual);
        QFETCH(QByteArray, expected);
        QCOMPARE(actual, expected);
    }

    void incomingDecoding_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<bool>("hasTiming");

        QTest::newRow("final with timing and extra keys")
            << QByteArray(R"({"type":"translation_final","sessionId":"S","connectionId":"C","turnId":"T","clientRevision":2,)"
                          R"("serverRevision":5,"text":"x","isFinal":true,"extra":[1],)"
                          R"("timing":{"queueMs":1,"providerFirstTokenMs":2,"providerTotalMs":3,"totalMs":4}})")
            << true << true;
        QTest::newRow("timing null")
            << QByteArray(R"({"type":"translation_final","sessionId":"S","connectionId":"C","turnId":"T","clientRevision":2,)"
                          R"("serverRevision":5,"text":"x","isFinal":true,"timing":null})")
            << true << false;
        QTest::newRow("timing absent")
            << QByteArray(R"({"type":"translation_preview","sessionId":"S","connectionId":"C","turnId":"T","clientRevision":2,)"
                          R"("serverRevision":5,"text":"","isFinal":false})")
            << true << false;
        QTest::newRow("timing without providerTotalMs")
            << QByteArray(R"({"type":"translation_final","sessionId":"S","connectionId":"C","turnId":"T","clientRevision":2,)"
                          R"("serverRevision":5,"text":"x","isFinal":true,"timing":{"queueMs":1,"providerFirstTokenMs":2,"totalMs":4}})")
            << false << false;
        QTest::newRow("revision as a string")
            << QByteArray(R"({"type":"translation_final","sessionId":"S","connectionId":"C","turnId":"T","clientRevision":"2",)"
                          R"("serverRevision":5,"text":"x","isFinal":true})")
            << false << false;
        QTest::newRow("revision with a fraction")
            << QByteArray(R"({"type":"translation_final","sessionId":"S","connectionId":"C","turnId":"T","clientRevision":2.5,)"
                          R"("serverRevision":5,"text":"x","isFinal":true})")
            << false << false;
        QTest::newRow("text missing")
            << QByteArray(R"({"type":"translation_final","sessionId":"S","connectionId":"C","turnId":"T","clientRevision":2,)"
                          R"("serverRevision":5,"isFinal":true})")
            << false << false;
    }

    void incomingDecoding()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, decodes);
        QFETCH(bool, hasTiming);
        try {
            const V2TranslationResult result = V2TranslationResult::decode(frame);
            QVERIFY(decodes);
            QCOMPARE(result.clientRevision, 2);
            QCOMPARE(result.timing.has_value(), hasTiming);
            if (hasTiming) {
                QCOMPARE(result.timing->providerTotalMs, 3);
                QCOMPARE(result.timing->totalMs, 4);
            }
        } catch (const JsonDecodeError &) {
            QVERIFY(!decodes);
        }
    }

    void errorAndTurnMessages()
    {
        const V2ErrorMessage bare = V2ErrorMessage::decode(
            R"({"type":"error","code":"E","message":"m","recoverable":false,"scope":"preview"})");
        QVERIFY(!bare.turnId && !bare.clientRevision);
        const V2ErrorMessage nulls = V2ErrorMessage::decode(
            R"({"type":"error","code":"E","message":"m","recoverable":true,"scope":"final","turnId":null,"clientRevision":null})");
        QVERIFY(!nulls.turnId && !nulls.clientRevision);
        QVERIFY(nulls.recoverable);
        const V2ErrorMessage full = V2ErrorMessage::decode(
            R"({"type":"error","code":"E","message":"m","recoverable":true,"scope":"final","turnId":"T","clientRevision":4})");
        QCOMPARE(*full.turnId, QStringLiteral("T"));
        QCOMPARE(*full.clientRevision, 4);
        QVERIFY_THROWS_EXCEPTION(JsonDecodeError, V2ErrorMessage::decode(R"({"type":"error","code":"E","message":"m","scope":"final"})"));

        QCOMPARE(V2TurnMessage::decode(R"({"type":"final_missing","turnId":"T","clientRevision":3})").clientRevision, 3);
        QCOMPARE(V2Envelope::decode(R"({"type":"Hello","x":1})").type, QStringLiteral("Hello"));
        QVERIFY_THROWS_EXCEPTION(JsonDecodeError, V2Envelope::decode(R"({"kind":"hello"})"));
        QVERIFY_THROWS_EXCEPTION(JsonDecodeError, V2Envelope::decode(R"([{"type":"hello"}])"));
        QVERIFY_THROWS_EXCEPTION(JsonDecodeError, V2Envelope::decode("not json"));
    }

    void errorTexts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("requestFailed")
            << DeepSeekTranslationError::connectionLost().message()
            << QStringLiteral("The app could not translate the final transcript: The network connection was lost.");
        QTest::newRow("serverError") << DeepSeekTranslationError::serverError(QStringLiteral("busy")).message()
                                     << QStringLiteral("The AI backend returned an error: busy");
        QTest::newRow("authenticationRequired") << DeepSeekTranslationError::authenticationRequired().message()
                                                << QStringLiteral("Sign in to use live translation.");
        QTest::newRow("invalidRequest") << DeepSeekTranslationError::invalidRequest().message()
                                        << QStringLiteral("The app could not create the translation request.");
        QTest::newRow("invalidResponse") << DeepSeekTranslationError::invalidResponse().message()
                                         << QStringLiteral("The AI backend returned an empty translation response.");
        QTest::newRow("alreadyConnected") << DeepSeekTranslationError::alreadyConnected().message()
                                          << QStringLiteral("Live translation is already connected.");
        QTest::newRow("timedOut") << DeepSeekTranslationError::timedOut().message()
                                  << QStringLiteral("Live translation did not respond in time.");
        QTest::newRow("open closed with reason") << TranslationV2WebSocketOpenError::closed(4001, QStringLiteral("gone")).message()
                                                 << QStringLiteral("The v2 translation WebSocket closed during setup (code 4001): gone");
        QTest::newRow("open closed, empty reason") << TranslationV2WebSocketOpenError::closed(1006, QString()).message()
                                                   << QStringLiteral("The v2 translation WebSocket closed during setup (code 1006).");
        QTest::newRow("open closed, no reason") << TranslationV2WebSocketOpenError::closed(1011, std::nullopt).message()
                                                << QStringLiteral("The v2 translation WebSocket closed during setup (code 1011).");
        QTest::newRow("open transport")
            << TranslationV2WebSocketOpenError::transport(std::make_exception_ptr(WebSocketError::upgradeRejected(401, QString())))
                   .message()
            << WebSocketError::upgradeRejected(401, QString()).message();
        QTest::newRow("open timed out") << TranslationV2WebSocketOpenError::timedOut().message()
                                        << QStringLiteral("The v2 translation WebSocket upgrade did not complete in time.");
    }

    void errorTexts()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(tst_KavrelLiveTranslationV2Messages)
#include "tst_KavrelLiveTranslationV2Messages.moc"
