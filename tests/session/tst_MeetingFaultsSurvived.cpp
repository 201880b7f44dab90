// A whole meeting against the fake backend, with the faults a real one meets: the speech relay
// drops twice, the translation socket drops with finals pending and then stays away, the
// history endpoint is unreachable for a while, and the access token expires mid-session.
// Nothing above the sockets is faked; only the audio sources are (the relay's results are
// scripted).

#include "SessionTestFakes.h"

#include "accounts/AuthService.h"
#include "accounts/KavrelBackendProxyService.h"
#include "platform/PulseAudioContext.h"
#include "session/AIResultPanelSet.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/RealSessionPorts.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraft.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "session/StableReconstructionScheduler.h"
#include "speech/DeepgramLiveTranscriptionService.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/KavrelLiveTranslationV2Service.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/FakeSpeechRelay.h"
#include "support/FakeTranslationRelay.h"
#include "support/TestAuth.h"

#include <QJsonArray>
#include <QSet>
#include <QTimeZone>
#include <QTest>

using namespace SessionTest;
using Script = FakeHistoryBackend::ScriptedReply;

class tst_MeetingFaultsSurvived : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scriptedMeetingLosesNothing();
};

void tst_MeetingFaultsSurvived::scriptedMeetingLosesNothing()
{
    const QDateTime realNow = QDateTime::currentDateTimeUtc();
    FakeBackend backend;
    QVERIFY(backend.start());
    FakeAuthBackend authBackend(&backend);
    authBackend.setSessionLifetimeSeconds(4 * 3600);
    FakeSpeechRelay speech(&backend);
    FakeTranslationRelay translation(&backend);
    translation.routeChatCompletions();
    FakeHistoryBackend history(&backend);
    FakeBillingBackend billing(&backend);

    AuthSession session = TestAuth::defaultSession();
    session.expiresAt = realNow.addSecs(3600);
    authBackend.registerSession(session);
    auto auth = TestAuth::signedInService(backend.baseUrl(), session);
    qint64 authClockOffset = 0;
    auth->setClock([&authClockOffset] { return QDateTime::currentDateTimeUtc().addSecs(authClockOffset); });

    // The real clients, fast; the audio sources are the recording fakes.
    Trace trace;
    SessionServices services = SessionServices::makeDefault(auth.get(), PulseAudioContext::shared());
    services.systemAudio = std::make_unique<FakeSystemAudio>(&trace);
    services.microphones = std::make_unique<FakeMicrophones>(&trace);
    services.recorder = std::make_unique<FakeRecorder>(&trace);
    auto *speechClient = static_cast<RealSpeechToTextStream *>(services.speechToText.get())->service();
    DeepgramLiveTranscriptionService::Timings speechTimings = speechClient->timings();
    speechTimings.reconnectDelays = {std::chrono::milliseconds(5), std::chrono::milliseconds(10),
                                     std::chrono::milliseconds(20), std::chrono::milliseconds(40)};
    speechTimings.finalizePause = std::chrono::milliseconds(20);
    speechClient->setTimings(speechTimings);
    KavrelLiveTranslationV2Service::Timings translationTimings = services.liveTranslation->timings();
    translationTimings.reconnectDelays = {std::chrono::milliseconds(5), std::chrono::milliseconds(10),
                                          std::chrono::milliseconds(20), std::chrono::milliseconds(30)};
    translationTimings.previewRetryDelay = std::chrono::milliseconds(20);
    translationTimings.emergencyPreviewDelay = std::chrono::milliseconds(20);
    services.liveTranslation->setTimings(translationTimings);

    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    KavrelLocalizationStore localization(defaults);
    SubtitleViewModel model(defaults, std::move(services), localization);
    SubtitleViewModel::Timings timings;
    timings.draftAutosaveDelay = std::chrono::milliseconds(20);
    timings.stopDrainPause = std::chrono::milliseconds(1);
    model.setTimings(timings);
    SessionCompanionSet *companions = model.companionSet();
    SessionCompanionSet::Timings companionTimings;
    companionTimings.stableRewriteDebounce = std::chrono::milliseconds(30);
    companionTimings.history.retryDelays = {std::chrono::milliseconds(1), std::chrono::milliseconds(3),
                                            std::chrono::milliseconds(8)};
    companionTimings.history.deferredRetryDelay = std::chrono::milliseconds(30);
    companions->setTimings(companionTimings);
    QDateTime meetingClock(QDate(2026, 5, 4), QTime(9, 0, 0, 400), QTimeZone::utc());
    companions->setClock([&meetingClock] { return meetingClock; });

    // The first translation socket leaves every final unanswered.
    FakeTranslationRelay::V2Script silent;
    silent.translateFinals = false;
    translation.queueV2Script(silent);

    model.startListening(ListeningSessionStartMode::newSession, false);
    QVERIFY(QTest::qWaitFor([&] { return !model.isBusy(); }, 10000));
    QCOMPARE(model.status(), SubtitleStatus::listening);
    QVERIFY(QTest::qWaitFor([&] { return model.turnStore()->isTranslationAvailable(); }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return history.meetingCount() == 1; }, 10000));

    const int turnCount = 34;
    int speechConnection = 0;
    for (int i = 0; i < turnCount; ++i) {
        meetingClock = meetingClock.addSecs(2);
        switch (i) {
        case 6: // the speech relay drops: the client reconnects
        case 15:
            speech.session(speechConnection)->abort();
            ++speechConnection;
            QVERIFY(QTest::qWaitFor([&] { return speech.upgradeCount() == speechConnection + 1; }, 10000));
            QVERIFY(QTest::qWaitFor([&] { return speech.session(speechConnection) && speech.session(speechConnection)->isConnected(); }, 10000));
            break;
        case 9: // the translation socket drops with finals pending; the next one resumes
            translation.v2Session()->abort();
            break;
        case 11: // an AI summary, saved while the history endpoint is unreachable
            history.script(QStringLiteral("UpdateMeetingSession"), Script::dropConnection(false));
            model.summarizeSourceText();
            break;
        case 14:
            history.clearScripts();
            break;
        case 18: // the translation relay goes away: finals take the emergency path
            QVERIFY(QTest::qWaitFor([&] { return translation.v2ConnectionCount() >= 2; }, 10000));
            translation.setV2UpgradeStatus(503);
            translation.v2Session()->abort();
            break;
        case 24: // ... and comes back
            translation.setV2UpgradeStatus(0);
            break;
        case 21: // the access token expires: every caller waits for one refresh
            QVERIFY(QTest::qWaitFor([&] { return !model.isTranscriptSummaryLoading(); }, 10000));
            authClockOffset = 2 * 3600;
            history.setAccessToken(QStringLiteral("access-user-1-1"));
            billing.setAccessToken(QStringLiteral("access-user-1-1"));
            speech.session(speechConnection)->abort();
            ++speechConnection;
            model.generateSourceProtocol();
            QVERIFY(QTest::qWaitFor([&] { return speech.upgradeCount() == speechConnection + 1; }, 10000));
            QVERIFY(QTest::qWaitFor([&] { return speech.session(speechConnection) && speech.session(speechConnection)->isConnected(); }, 10000));
            break;
        default:
            break;
        }
        speech.session(speechConnection)->sendText(FakeSpeechRelay::results(QStringLiteral("Sentence number %1").arg(i), false, false));
        speech.session(speechConnection)->sendText(FakeSpeechRelay::results(QStringLiteral("Sentence number %1.").arg(i), true, true));
        QVERIFY2(QTest::qWaitFor([&] { return model.turnStore()->closedTurnCount() == i + 1; }, 10000), qPrintable(QString::number(i)));
    }
    // Every turn has its translation before the meeting ends.
    QVERIFY(QTest::qWaitFor([&] {
        for (const SessionTurn &turn : model.turnStore()->turns()) {
            if (turn.translationText.isEmpty())
                return false;
        }
        return true;
    }, 20000));
    QVERIFY(QTest::qWaitFor([&] { return !model.isTranscriptProtocolLoading(); }, 10000));
    // The stable rewrite has worked off every window (a rewrite after the stop would reach the
    // server only with the next save).
    StableReconstructionScheduler *rewrite = companions->stableRewrite();
    QVERIFY(QTest::qWaitFor([&] {
        return rewrite->nextStableTurnIndex() == turnCount && !rewrite->isRunning() && !rewrite->isWaiting();
    }, 20000));

    meetingClock = meetingClock.addMSecs(1300);
    model.stopActiveSession();
    QVERIFY(QTest::qWaitFor([&] { return !model.isBusy() && model.status() == SubtitleStatus::stopped; }, 15000));
    QVERIFY(QTest::qWaitFor([&] {
        return companions->history()->saveTask().isFinished() && companions->billing()->syncTask().isFinished()
               && !model.draftStore()->hasPendingAutosave();
    }, 15000));

    // The view model: every turn once, each with its translation.
    const std::vector<SessionTurn> turns = model.turnStore()->turns();
    QCOMPARE(int(turns.size()), turnCount);
    QCOMPARE(model.transcriptEntries().size(), turnCount);
    QCOMPARE(model.translationEntries().size(), turnCount);
    QSet<QString> texts;
    for (const SessionTurn &turn : turns) {
        QVERIFY(turn.isClosed);
        texts.insert(turn.text);
    }
    QCOMPARE(texts.size(), turnCount);

    // The last record the history server received.
    QList<FakeHistoryBackend::Call> updates;
    for (const FakeHistoryBackend::Call &call : history.calls()) {
        if (call.operationName == QLatin1String("UpdateMeetingSession"))
            updates.append(call);
    }
    QVERIFY(!updates.isEmpty());
    const QJsonObject last = updates.last().variables.value("input").toObject();
    QCOMPARE(last.value("status").toString(), QStringLiteral("completed"));
    const QJsonArray blocks = last.value("transcriptJson").toArray();
    const QJsonArray translations = last.value("translationJson").toArray();
    QCOMPARE(blocks.size(), turnCount);
    QCOMPARE(translations.size(), turnCount);
    for (int i = 0; i < turnCount; ++i) {
        const QString id = QStringLiteral("turn-") + turns[std::size_t(i)].id.toString(QUuid::WithoutBraces).toLower();
        QCOMPARE(blocks[i].toObject().value("id").toString(), id);
        QCOMPARE(blocks[i].toObject().value("text").toString(), turns[std::size_t(i)].text);
        QCOMPARE(translations[i].toObject().value("transcriptBlockId").toString(), id);
        QCOMPARE(translations[i].toObject().value("text").toString(), turns[std::size_t(i)].translationText);
    }
    QCOMPARE(history.meetingCount(), 1);
    QVERIFY(!model.errorMessage());

    // The draft.
    const SessionDraft draft = SessionDraft::fromJson(*defaults.dataValue(QString::fromLatin1(SessionDraftStore::defaultsKey)));
    QCOMPARE(draft.turns.size(), turns.size());
    for (std::size_t i = 0; i < turns.size(); ++i) {
        QCOMPARE(draft.turns[i].id, turns[i].id);
        QCOMPARE(draft.turns[i].text, turns[i].text);
        QCOMPARE(draft.turns[i].translationText, turns[i].translationText);
        QCOMPARE(draft.turns[i].timestamp.toSecsSinceEpoch(), turns[i].timestamp.toSecsSinceEpoch()); // stored to the second
        QCOMPARE(draft.turns[i].speakerLabel, turns[i].speakerLabel);
        QCOMPARE(draft.turns[i].translationSpeakerLabel, turns[i].translationSpeakerLabel);
    }

    // One usage event for the whole listening stretch: 09:00:00 (rounded down) to the stop.
    QCOMPARE(billing.events().size(), 1);
    const QJsonObject event = billing.events().begin().value();
    QCOMPARE(event.value("durationSeconds").toInt(), turnCount * 2 + 1);
    QCOMPARE(event.value("startedAt").toString(), QStringLiteral("2026-05-04T09:00:00Z"));
    QCOMPARE(event.value("meetingSessionId").toString(), *companions->history()->sessionID());

    // One refresh served every caller that met the expired token.
    QCOMPARE(backend.requestCount(QString::fromLatin1(FakeAuthBackend::refreshPath)), 1);
}

QTEST_MAIN(tst_MeetingFaultsSurvived)
#include "tst_MeetingFaultsSurvived.moc"
