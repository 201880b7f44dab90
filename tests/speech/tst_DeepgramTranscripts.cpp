// The wire protocol of the speech-to-text relay, end to end: the upgrade request, and what
// the client makes of each kind of frame the service sends.

#include "SpeechTestHarness.h"

#include "speech/DeepgramLiveTranscriptionError.h"

#include <QTest>

using namespace SpeechTest;

namespace {

const QByteArray sentinel = FakeSpeechRelay::results(QStringLiteral("sentinel"), true, false);

} // namespace

class tst_DeepgramTranscripts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void upgradeRequest_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("diarize");
        QTest::addColumn<bool>("utterances");
        QTest::newRow("engine's choice") << QStringLiteral("ru") << false << true;
        QTest::newRow("other flags") << QStringLiteral("de") << true << false;
    }

    void upgradeRequest()
    {
        QFETCH(QString, language);
        QFETCH(bool, diarize);
        QFETCH(bool, utterances);
        Harness h;
        h.relay->expect(language, diarize, utterances, "test-access-token", "test-refresh-token",
                        h.backend.baseUrl().toString(QUrl::RemovePath).toUtf8());
        QVERIFY(!h.connect(language, diarize, utterances));

        const auto upgrades = h.backend.upgradeRequests(QString::fromLatin1(FakeSpeechRelay::path));
        QCOMPARE(upgrades.size(), 1);
        QCOMPARE(upgrades.first().rawQuery.toUtf8(), FakeSpeechRelay::expectedQuery(language, diarize, utterances));
        QCOMPARE(h.relay->problems(), QStringList());
        h.stop();
    }

    void frames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("expectEvent");
        QTest::addColumn<bool>("isFinal");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("speechFinal");

        const QString pair = QStringLiteral("  hello world \n");
        QTest::newRow("interim, trimmed") << FakeSpeechRelay::results(pair, false, false) << false << true << false
                                          << QStringLiteral("hello world") << false;
        QTest::newRow("final, speech-final") << FakeSpeechRelay::results(pair, true, true) << false << true << true
                                             << QStringLiteral("hello world") << true;
        QTest::newRow("interim, speech-final") << FakeSpeechRelay::results(pair, false, true) << false << true << false
                                               << QStringLiteral("hello world") << true;
        QTest::newRow("second alternative never read")
            << FakeSpeechRelay::resultsWith({QString(), QStringLiteral("other")}, std::nullopt, true, false) << false
            << false << false << QString() << false;
        QTest::newRow("utterances joined")
            << FakeSpeechRelay::resultsWith({QStringLiteral(" ")},
                                            QList<std::optional<QString>>{QStringLiteral(" a "), std::nullopt, QStringLiteral("b")},
                                            true, false)
            << false << true << true << QStringLiteral("a b") << false;
        QTest::newRow("absent transcript, no utterances")
            << FakeSpeechRelay::resultsWith({std::nullopt}, std::nullopt, false, false) << false << false << false
            << QString() << false;
        QTest::newRow("no alternatives") << FakeSpeechRelay::resultsWith({}, std::nullopt, true, true) << false << false
                                         << false << QString() << false;
        QTest::newRow("Metadata") << FakeSpeechRelay::metadata() << false << false << false << QString() << false;
        QTest::newRow("UtteranceEnd") << FakeSpeechRelay::utteranceEnd() << false << false << false << QString() << false;
        QTest::newRow("SpeechStarted") << FakeSpeechRelay::speechStarted() << false << false << false << QString() << false;
        QTest::newRow("lower-case results")
            << FakeSpeechRelay::results(QStringLiteral("x"), true, false).replace("\"Results\"", "\"results\"") << false
            << false << false << QString() << false;
        QTest::newRow("unknown type") << QByteArray(R"({"type":"Warning","message":"slow"})") << false << false << false
                                      << QString() << false;
        QTest::newRow("binary Results") << FakeSpeechRelay::results(QStringLiteral("über"), true, false) << true << true
                                        << true << QStringLiteral("über") << false;
        QTest::newRow("binary, not UTF-8") << QByteArray("\xff\xfe\xfd", 3) << true << false << false << QString() << false;
    }

    // Each frame is followed by a final "sentinel" result: whatever the frame produced comes
    // before it, and the connection must still be the first one.
    void frames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, binary);
        QFETCH(bool, expectEvent);
        QFETCH(bool, isFinal);
        QFETCH(QString, text);
        QFETCH(bool, speechFinal);

        Harness h;
        h.relay->onOpen = [frame, binary](FakeWebSocketSession *session) {
            if (binary)
                session->sendBinary(frame);
            else
                session->sendText(frame);
            session->sendText(sentinel);
        };
        QVERIFY(!h.connect());
        QTRY_VERIFY(!h.events.isEmpty() && h.events.last().text == QLatin1String("sentinel"));

        QCOMPARE(h.events.size(), expectEvent ? 2 : 1);
        if (expectEvent) {
            QCOMPARE(h.events.first().isFinal, isFinal);
            QCOMPARE(h.events.first().text, text);
            QCOMPARE(h.events.first().speechFinal, speechFinal);
        }
        QCOMPARE(h.relay->upgradeCount(), 1);
        QVERIFY(h.errors.isEmpty());
        h.stop();
    }

    void failingFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("expectedError");

        const QString receivePrefix = QStringLiteral("The app could not receive a transcription update: ");
        const QString serverPrefix = QStringLiteral("The transcription service returned an error: ");
        QTest::newRow("Error with description and message")
            << FakeSpeechRelay::error(QStringLiteral("msg"), QStringLiteral("desc")) << receivePrefix + serverPrefix + QStringLiteral("desc");
        QTest::newRow("Error with message") << FakeSpeechRelay::error(QStringLiteral("msg"), std::nullopt)
                                            << receivePrefix + serverPrefix + QStringLiteral("msg");
        QTest::newRow("Error with empty description") << FakeSpeechRelay::error(QStringLiteral("msg"), QString(""))
                                                      << receivePrefix + serverPrefix;
        QTest::newRow("Error without texts") << FakeSpeechRelay::error(std::nullopt, std::nullopt)
                                             << receivePrefix + serverPrefix + QStringLiteral("Unknown transcription service error.");
        QTest::newRow("malformed JSON") << FakeSpeechRelay::malformed() << receivePrefix;
        QTest::newRow("Results without speech_final")
            << QByteArray(R"({"type":"Results","is_final":true,"channel":{"alternatives":[{"transcript":"x"}]}})")
            << receivePrefix;
        QTest::newRow("no type") << QByteArray(R"({"channel":{}})") << receivePrefix;
    }

    // A frame that cannot be handled counts as a failed receive: the client reopens (four
    // times, all refused here) and then reports the frame's failure once.
    void failingFrames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, expectedError);

        Harness h;
        h.relay->setUpgrades({FakeSpeechRelay::Upgrade::accept, FakeSpeechRelay::Upgrade::reject401});
        h.relay->onOpen = [frame](FakeWebSocketSession *session) { session->sendText(frame); };
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.errors.size(), 1);
        QCOMPARE(h.relay->upgradeCount(), 5);
        if (frame.contains("\"Error\""))
            QCOMPARE(h.errors.first(), expectedError);
        else
            QVERIFY2(h.errors.first().startsWith(expectedError) && h.errors.first().size() > expectedError.size(),
                     qPrintable(h.errors.first()));
        QVERIFY(h.events.isEmpty());
        QVERIFY(!h.client->isConnected());
    }
};

QTEST_GUILESS_MAIN(tst_DeepgramTranscripts)
#include "tst_DeepgramTranscripts.moc"
