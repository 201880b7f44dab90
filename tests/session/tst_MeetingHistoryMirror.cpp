// The meeting history mirror during a conversation: when its record is made and saved, in what
// order, how failures are retried and shown, and what a reset or a stop leaves; and a finished
// meeting handed over while the next one goes on, retried until it lands or the server refuses it.

#include "MeetingHistoryMirrorFixture.h"

#include "platform/UserDefaults.h"
#include "session/HandedOverMeetingStore.h"
#include "speech/TranslationTestSupport.h"
#include "support/TaskResult.h"
#include "support/Umask.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using Script = FakeHistoryBackend::ScriptedReply;
using namespace std::chrono_literals;

namespace {

const QString transientMessage = QStringLiteral(
    "Не удалось синхронизировать историю встречи. Проверьте интернет-соединение — повторим попытку автоматически.");

} // namespace

class tst_MeetingHistoryMirror : public QObject, protected MeetingHistoryMirrorFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { initFixture(); }
    void cleanup() { cleanupFixture(); }

    void listeningCreatesTheRecordAtOnce();
    void nothingToSaveSendsNothing();
    void unchangedContentIsSkippedPerStatus();
    void savesRunInCallOrder();
    void retriesThenWaitsThenRecovers();
    void aStartWhoseAnswerIsLostMakesOneRecord();
    void otherFailuresShowTheirDescriptionWithoutRetry();
    void missingSignInIsSilent();
    void aSuccessClearsOnlyItsOwnMessage();
    void aResetDropsQueuedWorkAndRetries();
    void aLateReplyNeverReachesTheNewConversation();
    void aStoppedMeetingKeepsItsEndAndStatus();
    void aFinishedMeetingKeepsRetryingBesideTheNextOne();
    void aFinishedMeetingOutlastsAnythingButARefusal_data();
    void aFinishedMeetingOutlastsAnythingButARefusal();
    void aFinishedMeetingRefusedByTheServerIsLetGo_data();
    void aFinishedMeetingRefusedByTheServerIsLetGo();
};

void tst_MeetingHistoryMirror::listeningCreatesTheRecordAtOnce()
{
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    m_mirror->scheduleSessionStartIfNeeded();
    QVERIFY(waitIdle());
    QCOMPARE(m_history->operationNames(), QStringList{"StartMeetingSession"});
    QVERIFY(m_mirror->sessionID());
    const QJsonObject input = m_history->calls().first().variables.value("input").toObject();
    QCOMPARE(input.value("startedAt").toString(), QStringLiteral("2026-05-04T10:00:00Z"));
    QCOMPARE(input.value("sessionParams").toObject().value("clientSessionId").toString(), m_mirror->clientSessionID());
    QVERIFY(m_mirror->clientSessionID().startsWith(QStringLiteral("kavrel-macos-history-")));

    // A record exists: no second start.
    m_mirror->scheduleSessionStartIfNeeded();
    QVERIFY(waitIdle());
    QCOMPARE(callCount("StartMeetingSession"), 1);
}

void tst_MeetingHistoryMirror::nothingToSaveSendsNothing()
{
    QVERIFY(runTask(m_mirror->persistMeetingHistorySnapshot(MeetingSessionHistoryStatus::completed)).succeeded());
    QVERIFY(m_history->calls().isEmpty());
}

void tst_MeetingHistoryMirror::unchangedContentIsSkippedPerStatus()
{
    addTurn(QStringLiteral("Hallo"));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
    QVERIFY(waitIdle());
    QCOMPARE(m_history->operationNames(),
             (QStringList{"StartMeetingSession", "UpdateMeetingSession", "UpdateMeetingSession"}));
    addTurn(QStringLiteral("Neu"));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
    QVERIFY(waitIdle());
    QCOMPARE(callCount("UpdateMeetingSession"), 3);
    QCOMPARE(m_history->revisionOf(*m_mirror->sessionID()), *m_mirror->sessionRevision());
}

void tst_MeetingHistoryMirror::savesRunInCallOrder()
{
    addTurn(QStringLiteral("eins"));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    addTurn(QStringLiteral("zwei")); // the snapshot is taken when the save runs
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
    QVERIFY(runTask(m_mirror->persistMeetingHistorySnapshot(MeetingSessionHistoryStatus::active)).succeeded());
    // The direct save ran behind the queued ones.
    const QList<FakeHistoryBackend::Call> calls = m_history->calls();
    // The direct save ran behind the queued ones; the completed save had ended the meeting,
    // so it had nothing new to send.
    QCOMPARE(calls.size(), 3);
    QCOMPARE(calls[1].variables.value("input").toObject().value("status").toString(), QStringLiteral("active"));
    QCOMPARE(calls[2].variables.value("input").toObject().value("status").toString(), QStringLiteral("completed"));
    QVERIFY(!m_mirror->hasUnsavedMeeting());
}

void tst_MeetingHistoryMirror::retriesThenWaitsThenRecovers()
{
    TranslationTest::LogCapture log;
    addTurn(QStringLiteral("Hallo"));
    m_history->script(QStringLiteral("StartMeetingSession"), Script::dropConnection(false));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    QVERIFY(waitIdle());
    QCOMPARE(m_errorMessage, std::optional<QString>(transientMessage));
    QCOMPARE(m_mirror->syncErrorMessage(), std::optional<QString>(transientMessage));
    QVERIFY(m_mirror->hasDeferredRetry());
    QCOMPARE(log.count(QStringLiteral("Meeting history sync interrupted; retry")), 3);
    QVERIFY(log.contains(QStringLiteral("retry 1/3 in 0.005000s")));
    QVERIFY(log.contains(QStringLiteral("retry 2/3 in 0.010000s")));
    QVERIFY(log.contains(QStringLiteral("retry 3/3 in 0.020000s")));
    QCOMPARE(log.count(QStringLiteral("Meeting history sync failed:")), 1);

    // The server is back; the 30-second retry (60 ms here) saves and clears the notice.
    m_history->clearScripts();
    QVERIFY(FakeBackend::waitUntil([&] { return m_mirror->sessionID().has_value() && !m_errorMessage; }));
    QVERIFY(waitIdle());
    QVERIFY(!m_mirror->hasDeferredRetry());
    QCOMPARE(callCount("UpdateMeetingSession"), 1);
    QCOMPARE(m_history->meetingCount(), 1);
}

void tst_MeetingHistoryMirror::aStartWhoseAnswerIsLostMakesOneRecord()
{
    // Behind a gateway that passes every start on and loses its answer, the server makes the
    // record each time a start reaches it.
    Script lostAnswer = Script::dropConnection(true);
    lostAnswer.commitEvery = true;
    m_history->script(QStringLiteral("StartMeetingSession"), lostAnswer);
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    m_mirror->scheduleSessionStartIfNeeded();
    addTurn(QStringLiteral("Guten Morgen."));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    addTurn(QStringLiteral("Bis morgen."));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
    QVERIFY(waitIdle());

    // The start went out once; the retry found its record and completed it with every turn.
    QCOMPARE(callCount("StartMeetingSession"), 1);
    QCOMPARE(callCount("RecoverMeetingSession"), 1);
    QCOMPARE(m_history->meetingCount(), 1);
    const std::optional<QJsonObject> record = m_history->meeting(m_history->meetingIds().first());
    QVERIFY(record);
    QCOMPARE(m_mirror->sessionID(), record->value("id").toString());
    QCOMPARE(record->value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(record->value("transcriptJson").toArray().size(), 2);
    QVERIFY(!m_mirror->hasUnsavedMeeting());
}

void tst_MeetingHistoryMirror::otherFailuresShowTheirDescriptionWithoutRetry()
{
    addTurn(QStringLiteral("Hallo"));
    m_history->script(QStringLiteral("StartMeetingSession"), Script::error(QStringLiteral("workspace is archived")));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    QVERIFY(waitIdle());
    QVERIFY(m_errorMessage);
    QVERIFY(m_errorMessage->startsWith(QStringLiteral("Не удалось синхронизировать историю встречи: ")));
    QVERIFY(m_errorMessage->contains(QStringLiteral("workspace is archived")));
    QVERIFY(!m_mirror->hasDeferredRetry());
    QCOMPARE(callCount("StartMeetingSession"), 1);
}

void tst_MeetingHistoryMirror::missingSignInIsSilent()
{
    auto signedOut = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
    makeMirror(signedOut.get());
    addTurn(QStringLiteral("Hallo"));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    QVERIFY(waitIdle());
    QCOMPARE(m_errorMessage, std::nullopt);
    QVERIFY(!m_mirror->hasDeferredRetry());
    m_mirror.reset();
}

void tst_MeetingHistoryMirror::aSuccessClearsOnlyItsOwnMessage()
{
    addTurn(QStringLiteral("Hallo"));
    m_history->script(QStringLiteral("StartMeetingSession"), Script::error(QStringLiteral("boom")));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    QVERIFY(waitIdle());
    QVERIFY(m_errorMessage);
    // Another part of the engine shows its own error meanwhile.
    m_errorMessage = QStringLiteral("Microphone permission was not granted.");
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    QVERIFY(waitIdle());
    QVERIFY(m_mirror->sessionID());
    QCOMPARE(m_errorMessage, std::optional<QString>(QStringLiteral("Microphone permission was not granted.")));
    QCOMPARE(m_mirror->syncErrorMessage(), std::nullopt);
}

void tst_MeetingHistoryMirror::aResetDropsQueuedWorkAndRetries()
{
    // A deferred retry of the old conversation never fires.
    addTurn(QStringLiteral("Hallo"));
    m_history->script(QStringLiteral("StartMeetingSession"), Script::dropConnection(false));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    QVERIFY(waitIdle());
    QVERIFY(m_mirror->hasDeferredRetry());
    m_history->clearScripts();
    m_history->clearCalls();
    const QString oldClientSession = m_mirror->clientSessionID();
    m_mirror->resetMeetingHistoryState();
    QVERIFY(m_mirror->clientSessionID() != oldClientSession);
    QVERIFY(!m_mirror->hasDeferredRetry());
    QTest::qWait(150); // longer than the deferred retry
    QVERIFY(m_history->calls().isEmpty());

    // Saves waiting behind a running one are dropped, and the running one's failure is not
    // retried for the new conversation.
    m_errorMessage.reset(); // a reset leaves the shown message alone
    m_service->setRequestTimeout(100ms);
    m_history->script(QStringLiteral("StartMeetingSession"), Script::hang(false));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
    QVERIFY(FakeBackend::waitUntil([&] { return m_history->calls().size() == 1; }));
    m_mirror->resetMeetingHistoryState();
    m_history->clearScripts();
    QTest::qWait(300);
    QCOMPARE(m_history->calls().size(), 1);
    QCOMPARE(m_errorMessage, std::nullopt);
    QVERIFY(!m_mirror->hasDeferredRetry());
}

void tst_MeetingHistoryMirror::aLateReplyNeverReachesTheNewConversation()
{
    // A slow server: the start of the old conversation is answered after the reset.
    int starts = 0;
    m_backend->route("POST", QStringLiteral("/graphql"), [&starts](const RecordedRequest &request) {
        const bool isStart = request.json().value("query").toString().contains(QStringLiteral("StartMeetingSession"));
        if (!isStart)
            return FakeResponse::json(500, QJsonObject{});
        ++starts;
        const QJsonObject state{{"id", QStringLiteral("meeting-%1").arg(starts)}, {"revision", 1}};
        return FakeResponse::json(200, QJsonObject{{"data", QJsonObject{{"startMeetingSession", state}}}}).withDelay(starts == 1 ? 150 : 0);
    });
    addTurn(QStringLiteral("alt"));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    QVERIFY(FakeBackend::waitUntil([&] { return starts == 1; }));
    m_errorMessage = QStringLiteral("unrelated");
    m_mirror->resetMeetingHistoryState();
    m_turns.clear();
    QVERIFY(FakeBackend::waitUntil([&] { return m_mirror->saveTask().isValid() == false; }));
    QTest::qWait(250);
    QCOMPARE(m_mirror->sessionID(), std::nullopt);
    QCOMPARE(m_errorMessage, std::optional<QString>(QStringLiteral("unrelated")));

    // The new conversation gets its own record.
    addTurn(QStringLiteral("neu"));
    m_mirror->scheduleSessionStartIfNeeded();
    QVERIFY(waitIdle());
    QCOMPARE(m_mirror->sessionID(), std::optional<QString>(QStringLiteral("meeting-2")));
}

void tst_MeetingHistoryMirror::aStoppedMeetingKeepsItsEndAndStatus()
{
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    addTurn(QStringLiteral("Hallo"));
    m_now = m_now.addSecs(300);
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed); // the stop
    QVERIFY(waitIdle());
    // Later saves: a summary half an hour after the stop, then Start New a day later.
    m_now = m_now.addSecs(1800);
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    QVERIFY(waitIdle());
    m_now = m_now.addDays(1);
    m_mirror->finishConversation();
    QVERIFY(FakeBackend::waitUntil([&] { return m_mirror->handedOverCount() == 0; }));
    QTest::qWait(50);
    int updates = 0;
    for (const FakeHistoryBackend::Call &call : m_history->calls()) {
        if (call.operationName != QLatin1String("UpdateMeetingSession"))
            continue;
        ++updates;
        const QJsonObject input = call.variables.value("input").toObject();
        QCOMPARE(input.value("status").toString(), QStringLiteral("completed"));
        QCOMPARE(input.value("endedAt").toString(), QStringLiteral("2026-05-04T10:05:00Z"));
        QCOMPARE(input.value("durationSeconds").toInteger(), qint64(300));
    }
    // The summary's save had nothing new; Start New had nothing new either.
    QCOMPARE(updates, 1);

    // Listening again in the same conversation reopens it until the next stop.
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    QCOMPARE(m_mirror->endedAt(), std::nullopt);
}

void tst_MeetingHistoryMirror::aFinishedMeetingKeepsRetryingBesideTheNextOne()
{
    const QString previousNotice = QStringLiteral(
        "Не удалось сохранить в истории предыдущую встречу. Проверьте интернет-соединение — повторим попытку автоматически.");
    addTurn(QStringLiteral("alt"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    m_mirror->scheduleSessionStartIfNeeded();
    QVERIFY(waitIdle());
    const QString oldID = *m_mirror->sessionID();

    // Offline for updates: the finished meeting's save fails, retries, and waits.
    m_history->script(QStringLiteral("UpdateMeetingSession"), Script::dropConnection(false));
    m_mirror->finishConversation();
    m_turns.clear();
    QCOMPARE(m_mirror->handedOverCount(), 1);
    QVERIFY(m_mirror->hasUnsavedMeeting());

    QVERIFY(FakeBackend::waitUntil([&] { return m_errorMessage == previousNotice; }));

    // The new meeting is not held up: its record is made while the old one waits, and its
    // success does not clear the old meeting's notice.
    addTurn(QStringLiteral("neu"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    m_mirror->scheduleSessionStartIfNeeded();
    QVERIFY(waitIdle());
    QVERIFY(m_mirror->sessionID() && *m_mirror->sessionID() != oldID);
    QCOMPARE(m_errorMessage, std::optional<QString>(previousNotice));
    QTest::qWait(150); // several 30-second retries (60 ms here) fail meanwhile
    QVERIFY(callCount("UpdateMeetingSession") > 4);
    QCOMPARE(m_mirror->handedOverCount(), 1);

    // Back online: the old record lands, completed, with its own turn only.
    m_history->clearScripts();
    QVERIFY(FakeBackend::waitUntil([&] { return m_mirror->handedOverCount() == 0; }));
    const std::optional<QJsonObject> old = m_history->meeting(oldID);
    QVERIFY(old);
    QCOMPARE(old->value("status").toString(), QStringLiteral("completed"));
    QVERIFY(QJsonDocument(*old).toJson().contains("alt"));
    QVERIFY(!QJsonDocument(*old).toJson().contains("neu"));
    QVERIFY2(!m_errorMessage, qPrintable(m_errorMessage.value_or(QString())));
}

void tst_MeetingHistoryMirror::aFinishedMeetingOutlastsAnythingButARefusal_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QList<Script>>("failures");

    auto times = [](Script script, int count) {
        script.times = count;
        return script;
    };
    // More failures than the quick retries: the record also waits through the longer ones.
    const QList<Script> gateway{times(Script::httpFailure(502, "<html>Bad Gateway</html>", "text/html"), 2),
                                times(Script::httpFailure(503, "Service Unavailable"), 2),
                                times(Script::httpFailure(504, "Gateway Time-out"), 2)};
    QTest::newRow("502, 503, 504 on the start") << QStringLiteral("StartMeetingSession") << gateway;
    QTest::newRow("502, 503, 504 on the update") << QStringLiteral("UpdateMeetingSession") << gateway;
    Script lostStart = Script::httpFailure(504, "Gateway Time-out");
    lostStart.commitFirst = true;
    QTest::newRow("504 after the start was made") << QStringLiteral("StartMeetingSession") << QList<Script>{lostStart};
    QTest::newRow("408 and 429") << QStringLiteral("UpdateMeetingSession")
                                 << QList<Script>{times(Script::httpFailure(408, "Request Timeout"), 3),
                                                  times(Script::httpFailure(429, "Too Many Requests"), 3)};
    QTest::newRow("a body that does not decompress") << QStringLiteral("UpdateMeetingSession")
                                                     << QList<Script>{times(Script::brokenCompression(), 5)};
    QTest::newRow("a body cut short") << QStringLiteral("StartMeetingSession")
                                      << QList<Script>{times(Script::httpFailure(200, R"({"data":{"startMeeting)",
                                                                                     "application/json"), 5)};
}

void tst_MeetingHistoryMirror::aFinishedMeetingOutlastsAnythingButARefusal()
{
    QFETCH(QString, operation);
    QFETCH(QList<Script>, failures);

    addTurn(QStringLiteral("alt"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    if (operation == QLatin1String("UpdateMeetingSession")) {
        m_mirror->scheduleSessionStartIfNeeded();
        QVERIFY(waitIdle());
    }
    int failureCount = 0;
    for (const Script &failure : failures) {
        m_history->script(operation, failure);
        failureCount += failure.times;
    }
    m_mirror->finishConversation();
    m_turns.clear();

    // Every scripted failure is answered and outlasted; then the record lands, once, whole.
    QVERIFY(FakeBackend::waitUntil([&] { return m_mirror->handedOverCount() == 0; }, 10000));
    QVERIFY(callCount(operation) >= failureCount);
    QCOMPARE(m_history->meetingCount(), 1);
    const QJsonObject record = *m_history->meeting(m_history->meetingIds().first());
    QCOMPARE(record.value("status").toString(), QStringLiteral("completed"));
    QVERIFY(QJsonDocument(record).toJson().contains("alt"));
    QVERIFY2(!m_errorMessage, qPrintable(m_errorMessage.value_or(QString())));
}

void tst_MeetingHistoryMirror::aFinishedMeetingRefusedByTheServerIsLetGo_data()
{
    QTest::addColumn<Script>("refusal");
    QTest::addColumn<bool>("textCanBeWritten");
    QTest::addColumn<int>("mask");
    QTest::newRow("GraphQL error") << Script::error(QStringLiteral("workspace is archived")) << true << 022;
    QTest::newRow("400, umask 002") << Script::httpFailure(400, "workspace is archived") << true << 002;
    QTest::newRow("422 with GraphQL error, umask 077")
        << Script::httpFailure(422, R"({"errors":[{"message":"workspace is archived"}]})", "application/json") << true << 077;
    QTest::newRow("400, its text file cannot be written") << Script::httpFailure(400, "workspace is archived") << false << 002;
}

void tst_MeetingHistoryMirror::aFinishedMeetingRefusedByTheServerIsLetGo()
{
    QFETCH(Script, refusal);
    QFETCH(bool, textCanBeWritten);
    QFETCH(int, mask);
    const Umask masked{mode_t(mask)};
    addTurn(QStringLiteral("alt"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    m_history->script(QStringLiteral("StartMeetingSession"), refusal);
    UserDefaults defaults(m_settings.filePath(QStringLiteral("refused-%1.ini").arg(QTest::currentDataTag())));
    HandedOverMeetingStore store(defaults, m_mirror.get(), nullptr);
    QString textFolder = m_settings.filePath(QStringLiteral("texts-%1").arg(QString::fromLatin1(QTest::currentDataTag())));
    if (!textCanBeWritten) {
        // A folder under a plain file cannot be made, not even by root.
        QFile blocker(textFolder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        textFolder += QStringLiteral("/texts");
    }
    store.setTextFolder(textFolder);
    m_mirror->finishConversation();
    QVERIFY(FakeBackend::waitUntil([&] { return m_errorMessage.has_value(); }));
    QVERIFY(m_errorMessage->startsWith(QStringLiteral("Не удалось сохранить в истории предыдущую встречу: ")));
    QVERIFY(m_errorMessage->contains(QStringLiteral("workspace is archived")));
    QTest::qWait(100);
    QCOMPARE(callCount("StartMeetingSession"), 1);
    if (!textCanBeWritten) {
        // Its only copy is the program's own: kept, on disk too, for the next run to try again.
        QCOMPARE(m_mirror->handedOverCount(), 1);
        QCOMPARE(store.meetings().size(), 1);
        QVERIFY2(m_errorMessage->contains(QStringLiteral("хранится на этом компьютере")), qPrintable(*m_errorMessage));
        QCOMPARE(QString::number(Umask::modeOf(defaults.filePath()), 8), QStringLiteral("600"));
        m_mirror.reset();
        return;
    }
    QCOMPARE(m_mirror->handedOverCount(), 0);
    // Its draft is gone: the text is kept in a file of its own, and the notice says where.
    QVERIFY(store.meetings().isEmpty());
    const QStringList files = QDir(textFolder).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString path = QDir(textFolder).filePath(files.first());
    QVERIFY2(m_errorMessage->contains(path), qPrintable(*m_errorMessage));
    QFile text(path);
    QVERIFY(text.open(QIODevice::ReadOnly));
    QVERIFY(text.readAll().contains("alt"));
    // The text is the user's document, kept where they were told: it takes their umask, while
    // the program's own copy of the meeting, in its settings, was the user's alone.
    QCOMPARE(QString::number(Umask::modeOf(path), 8), QString::number(0666 & ~mask, 8));
    QCOMPARE(QString::number(Umask::modeOf(textFolder), 8), QString::number(0777 & ~mask, 8));
    QCOMPARE(QString::number(Umask::modeOf(defaults.filePath()), 8), QStringLiteral("600"));
    m_mirror.reset();
}

QTEST_GUILESS_MAIN(tst_MeetingHistoryMirror)
#include "tst_MeetingHistoryMirror.moc"
