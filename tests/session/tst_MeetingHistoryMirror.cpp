#include "accounts/AuthService.h"
#include "services/MeetingSessionHistoryService.h"
#include "platform/UserDefaults.h"
#include "session/HandedOverMeetingStore.h"
#include "session/MeetingHistoryMirror.h"
#include "session/MeetingHistorySnapshotBuilder.h"
#include "speech/TranslationTestSupport.h"
#include "support/FakeBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include "accounts/AuthSession.h"
#include "platform/InMemorySecretStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <memory>

using Script = FakeHistoryBackend::ScriptedReply;
using namespace std::chrono_literals;

namespace {

const QString transientMessage = QStringLiteral(
    "Не удалось синхронизировать историю встречи. Проверьте интернет-соединение — повторим попытку автоматически.");

} // namespace

class tst_MeetingHistoryMirror : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

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
    void aKeptRecordCarriesOnInTheNextRun();
    void aHandedOverMeetingOutlivesTheProgram();
    void theQuitTriesEachSaveOnceWithoutPausing();
    void anUnansweredStartIsLookedUpByTheNextRun_data();
    void anUnansweredStartIsLookedUpByTheNextRun();
    void aHandedOverMeetingWaitsForItsOwnAccount_data();
    void aHandedOverMeetingWaitsForItsOwnAccount();
    void aMeetingIsSentOnlyWithItsOwnAccountsSession();

private:
    void makeMirror(AuthService *auth);
    // The mirror asks m_account who is signed in.
    void followTestAccount();
    void addTurn(const QString &text);
    bool waitIdle() { return FakeBackend::waitUntil([&] { return !m_mirror->saveTask().isValid() || m_mirror->saveTask().isFinished(); }); }
    int callCount(const QString &operation) const { return int(m_history->operationNames().count(operation)); }

    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeHistoryBackend> m_history;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<MeetingSessionHistoryService> m_service;
    std::unique_ptr<MeetingHistoryMirror> m_mirror;
    std::vector<SessionTurn> m_turns;
    std::optional<QString> m_errorMessage;
    QDateTime m_now;
    // Who is signed in, as the mirror asks it (only where a test sets the reader).
    std::optional<QString> m_account;
    QTemporaryDir m_settings;
};

void tst_MeetingHistoryMirror::init()
{
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_history = std::make_unique<FakeHistoryBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
    m_turns.clear();
    m_errorMessage.reset();
    makeMirror(m_auth.get());
}

void tst_MeetingHistoryMirror::makeMirror(AuthService *auth)
{
    m_mirror.reset();
    m_service = std::make_unique<MeetingSessionHistoryService>(auth);
    m_service->setRequestTimeout(2000ms);
    m_now = QDateTime(QDate(2026, 5, 4), QTime(10, 0), QTimeZone::utc());
    m_mirror = std::make_unique<MeetingHistoryMirror>(m_service.get(), [this] { return m_now; });
    MeetingHistoryMirror::Timings timings;
    timings.retryDelays = {5ms, 10ms, 20ms};
    timings.deferredRetryDelay = 60ms;
    m_mirror->setTimings(timings);
    m_mirror->setErrorMessageAccess([this] { return m_errorMessage; },
                                    [this](const std::optional<QString> &message) { m_errorMessage = message; });
    m_mirror->setSnapshotProvider([this](MeetingSessionHistoryStatus status, bool allowEmpty) {
        MeetingHistorySnapshotBuilder::Input input;
        input.turns = m_turns;
        input.startedAt = m_mirror->startedAt();
        input.endedAt = m_mirror->endedAt();
        input.source = m_mirror->source();
        input.clientSessionID = m_mirror->clientSessionID();
        input.now = m_now;
        return MeetingHistorySnapshotBuilder::snapshot(input, status, allowEmpty);
    });
}

void tst_MeetingHistoryMirror::followTestAccount()
{
    m_mirror->setAccountReader([this]() -> QCoro::Task<std::optional<QString>> {
        const std::optional<QString> account = m_account;
        co_return account;
    });
}

void tst_MeetingHistoryMirror::cleanup()
{
    m_mirror.reset();
    m_service.reset();
    m_auth.reset();
    m_history.reset();
    m_backend.reset();
}

void tst_MeetingHistoryMirror::addTurn(const QString &text)
{
    SessionTurn turn;
    turn.id = QUuid::createUuid();
    turn.text = text;
    turn.timestamp = QDateTime(QDate(2026, 5, 4), QTime(10, 0, int(m_turns.size())), QTimeZone::utc());
    turn.isClosed = true;
    m_turns.push_back(turn);
}

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
    QTest::newRow("GraphQL error") << Script::error(QStringLiteral("workspace is archived")) << true;
    QTest::newRow("400") << Script::httpFailure(400, "workspace is archived") << true;
    QTest::newRow("422 with GraphQL error")
        << Script::httpFailure(422, R"({"errors":[{"message":"workspace is archived"}]})", "application/json") << true;
    QTest::newRow("400, its text file cannot be written") << Script::httpFailure(400, "workspace is archived") << false;
}

void tst_MeetingHistoryMirror::aFinishedMeetingRefusedByTheServerIsLetGo()
{
    QFETCH(Script, refusal);
    QFETCH(bool, textCanBeWritten);
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
    m_mirror.reset();
}

void tst_MeetingHistoryMirror::aKeptRecordCarriesOnInTheNextRun()
{
    m_now = m_now.addMSecs(700);
    QSignalSpy changes(m_mirror.get(), &MeetingHistoryMirror::recordChanged);
    m_mirror->noteListeningStarted(QStringLiteral("system_audio+microphone"));
    addTurn(QStringLiteral("Kept across the restart."));
    m_now = m_now.addMSecs(61'500);
    QVERIFY(runTask(m_mirror->persistMeetingHistorySnapshot(MeetingSessionHistoryStatus::completed)).succeeded());
    QVERIFY(changes.count() >= 3);
    MeetingHistoryRecord kept = m_mirror->record();
    kept.nextUsageEventSequence = 3;
    QVERIFY(kept.sessionID && kept.sessionRevision && kept.lastCompletedSignature);
    // Read back exactly, milliseconds included: the duration is counted from them.
    QCOMPARE(MeetingHistoryRecord::fromJson(kept.toJson()), kept);
    const QString clientSessionID = m_mirror->clientSessionID();
    const int calls = int(m_history->calls().size());

    // The next run, on the same turns: the completed record is not sent again.
    makeMirror(m_auth.get());
    QVERIFY(m_mirror->adoptRecord(MeetingHistoryRecord::fromJson(kept.toJson())));
    QCOMPARE(m_mirror->clientSessionID(), clientSessionID);
    QCOMPARE(m_mirror->source(), QStringLiteral("system_audio+microphone"));
    m_now = m_now.addDays(1);
    QVERIFY(runTask(m_mirror->persistMeetingHistorySnapshot(MeetingSessionHistoryStatus::completed)).succeeded());
    QCOMPARE(int(m_history->calls().size()), calls);
    // Only a conversation that has done nothing yet takes one over.
    QVERIFY(!m_mirror->adoptRecord(kept));

    // A record kept before its start landed: the start carries the same client session id.
    makeMirror(m_auth.get());
    MeetingHistoryRecord unstarted;
    unstarted.conversationGeneration = QUuid::createUuid();
    unstarted.source = QStringLiteral("system_audio");
    QVERIFY(m_mirror->adoptRecord(unstarted));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
    QVERIFY(waitIdle());
    const QJsonObject input = m_history->calls().at(calls).variables.value("input").toObject();
    QCOMPARE(input.value("sessionParams").toObject().value("clientSessionId").toString(), m_mirror->clientSessionID());
    QVERIFY(m_mirror->clientSessionID().endsWith(unstarted.conversationGeneration.toString(QUuid::WithoutBraces)));
}

void tst_MeetingHistoryMirror::aHandedOverMeetingOutlivesTheProgram()
{
    const QString settingsPath = m_settings.filePath(QStringLiteral("outlives.ini"));
    auto defaults = std::make_unique<UserDefaults>(settingsPath);
    auto store = std::make_unique<HandedOverMeetingStore>(*defaults, m_mirror.get(), nullptr);
    addTurn(QStringLiteral("alt"));
    addTurn(QStringLiteral("noch alt"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    for (const char *operation : {"StartMeetingSession", "UpdateMeetingSession"})
        m_history->script(QString::fromLatin1(operation), Script::dropConnection(false));
    m_mirror->finishConversation();
    m_turns.clear();
    // On disk before the caller goes on to clear the draft: no turn of the event loop between.
    {
        QFile file(settingsPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains(HandedOverMeetingStore::defaultsKey));
    }
    QCOMPARE(store->meetings().size(), 1);
    QVERIFY(FakeBackend::waitUntil([&] { return callCount("StartMeetingSession") >= 2; }));

    // The program ends with the server still away; the next one finds the meeting and sends it.
    m_mirror.reset();
    store.reset();
    defaults.reset();
    m_history->clearScripts();
    QCOMPARE(m_history->meetingCount(), 0);
    makeMirror(m_auth.get());
    defaults = std::make_unique<UserDefaults>(settingsPath);
    store = std::make_unique<HandedOverMeetingStore>(*defaults, m_mirror.get(), nullptr);
    QCOMPARE(m_mirror->handedOverCount(), 1);
    QVERIFY(m_mirror->hasUnsavedMeeting());
    QVERIFY(FakeBackend::waitUntil([&] { return m_mirror->handedOverCount() == 0; }));
    QCOMPARE(m_history->meetingCount(), 1);
    const std::optional<QJsonObject> landed = m_history->meeting(m_history->meetingIds().first());
    QVERIFY(landed);
    QCOMPARE(landed->value("status").toString(), QStringLiteral("completed"));
    const QByteArray json = QJsonDocument(*landed).toJson();
    QVERIFY(json.contains("\"alt\"") && json.contains("noch alt"));
    // Landed: gone from disk, and not sent again by the run after.
    QVERIFY(!defaults->contains(QString::fromLatin1(HandedOverMeetingStore::defaultsKey)));
    m_mirror.reset();
    store.reset();
    makeMirror(m_auth.get());
    store = std::make_unique<HandedOverMeetingStore>(*defaults, m_mirror.get(), nullptr);
    QCOMPARE(m_mirror->handedOverCount(), 0);
    m_mirror.reset();
}

// The quit waits for every save. With the server away it tries each once more and ends there,
// the meetings kept for the next run, instead of pausing until the quit's time limit ends it.
void tst_MeetingHistoryMirror::theQuitTriesEachSaveOnceWithoutPausing()
{
    TranslationTest::LogCapture log;
    MeetingHistoryMirror::Timings timings = m_mirror->timings();
    timings.retryDelays = {1h, 1h, 1h};
    timings.deferredRetryDelay = 1h;
    m_mirror->setTimings(timings);
    for (const char *operation : {"StartMeetingSession", "UpdateMeetingSession"})
        m_history->script(QString::fromLatin1(operation), Script::dropConnection(false));
    // A finished meeting, in its pause after a failed attempt when the quit begins.
    addTurn(QStringLiteral("alt"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    m_mirror->finishConversation();
    m_turns.clear();
    QVERIFY(FakeBackend::waitUntil([&] { return log.count(QStringLiteral("retry 1/3")) == 1; }));
    // And the current meeting's last save, asked for by the quit's stop.
    addTurn(QStringLiteral("neu"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);

    const auto quit = startTask([this] { return m_mirror->waitForEverySave(); });
    QVERIFY(FakeBackend::waitUntil([&] { return quit->finished; }));
    QVERIFY(quit->succeeded());
    QCOMPARE(log.count(QStringLiteral("Meeting history sync interrupted; retry")), 1);
    // The finished meeting's pause was cut short; each failed once more and no pause followed.
    QCOMPARE(log.count(QStringLiteral("Meeting history sync failed:")), 2);
    QCOMPARE(m_history->meetingCount(), 0);
    QCOMPARE(m_mirror->handedOverCount(), 1);
    QVERIFY(m_mirror->hasUnsavedMeeting());
}

void tst_MeetingHistoryMirror::anUnansweredStartIsLookedUpByTheNextRun_data()
{
    QTest::addColumn<bool>("handedOver");
    QTest::addColumn<Script>("lostStart");
    // Lookups made by the failing run itself, before it ends.
    QTest::addColumn<int>("lookupsBeforeTheEnd");
    Script gateway = Script::httpFailure(502, "<html>Bad Gateway</html>", "text/html");
    gateway.commitFirst = true;
    QTest::newRow("current meeting, 502 after the start was made") << false << gateway << 1;
    QTest::newRow("handed-over meeting, 502 after the start was made") << true << gateway << 1;
    QTest::newRow("current meeting, ended while the start is unanswered") << false << Script::hang(true) << 0;
    QTest::newRow("handed-over meeting, ended while the start is unanswered") << true << Script::hang(true) << 0;
}

void tst_MeetingHistoryMirror::anUnansweredStartIsLookedUpByTheNextRun()
{
    QFETCH(bool, handedOver);
    QFETCH(Script, lostStart);
    QFETCH(int, lookupsBeforeTheEnd);
    const QString settingsPath = m_settings.filePath(QStringLiteral("unanswered-%1.ini").arg(QTest::currentDataTag()));
    const QString crashedPath = settingsPath + QStringLiteral(".crashed");
    auto defaults = std::make_unique<UserDefaults>(settingsPath);
    auto store = std::make_unique<HandedOverMeetingStore>(*defaults, m_mirror.get(), nullptr);
    addTurn(QStringLiteral("alt"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    // The server makes the record, and its answer is lost; so is every lookup of this run.
    m_history->script(QStringLiteral("StartMeetingSession"), lostStart);
    Script lostLookup = Script::httpFailure(502, "<html>Bad Gateway</html>", "text/html");
    lostLookup.times = 0;
    m_history->script(QStringLiteral("RecoverMeetingSession"), lostLookup);
    if (handedOver) {
        m_mirror->finishConversation();
        m_turns.clear();
    } else {
        m_mirror->scheduleSessionStartIfNeeded();
    }
    QVERIFY(FakeBackend::waitUntil([&] {
        return m_history->meetingCount() == 1 && callCount("RecoverMeetingSession") >= lookupsBeforeTheEnd;
    }));
    // What the disk holds as the program dies: the current meeting's record entry (written as
    // it changes) and the settings file with the handed-over meetings.
    const MeetingHistoryRecord kept = MeetingHistoryRecord::fromJson(m_mirror->record().toJson());
    for (const QString suffix : {QString(), QStringLiteral(".journal")}) {
        if (QFile::exists(settingsPath + suffix))
            QVERIFY(QFile::copy(settingsPath + suffix, crashedPath + suffix));
    }
    m_mirror.reset();
    store.reset();
    defaults.reset();
    m_errorMessage.reset();

    // The next run, with the answers back: the record made by the lost start gets the meeting.
    m_history->clearScripts();
    makeMirror(m_auth.get());
    defaults = std::make_unique<UserDefaults>(crashedPath);
    store = std::make_unique<HandedOverMeetingStore>(*defaults, m_mirror.get(), nullptr);
    if (handedOver) {
        QCOMPARE(m_mirror->handedOverCount(), 1);
        QVERIFY(FakeBackend::waitUntil([&] { return m_mirror->handedOverCount() == 0; }));
    } else {
        QVERIFY(m_mirror->adoptRecord(kept));
        m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
        QVERIFY(waitIdle());
    }
    QCOMPARE(m_history->meetingCount(), 1);
    QCOMPARE(callCount("StartMeetingSession"), 1);
    const std::optional<QJsonObject> record = m_history->meeting(m_history->meetingIds().first());
    QVERIFY(record);
    QCOMPARE(record->value("status").toString(), QStringLiteral("completed"));
    QVERIFY(QJsonDocument(*record).toJson().contains("\"alt\""));
    QVERIFY2(!m_errorMessage, qPrintable(m_errorMessage.value_or(QString())));
    m_mirror.reset();
}

void tst_MeetingHistoryMirror::aHandedOverMeetingWaitsForItsOwnAccount_data()
{
    QTest::addColumn<QString>("nextAccount");
    QTest::addColumn<bool>("sent");
    QTest::newRow("same account signs in again") << QStringLiteral("user-1") << true;
    QTest::newRow("another account signs in") << QStringLiteral("user-2") << false;
}

void tst_MeetingHistoryMirror::aHandedOverMeetingWaitsForItsOwnAccount()
{
    QFETCH(QString, nextAccount);
    QFETCH(bool, sent);
    m_account = QStringLiteral("user-1");
    followTestAccount();
    // Made while user-1 is signed in; the server is away when it is handed over.
    addTurn(QStringLiteral("alt"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    m_history->script(QStringLiteral("StartMeetingSession"), Script::dropConnection(false));
    m_mirror->scheduleSessionStartIfNeeded();
    QVERIFY(waitIdle());
    // Only the attempts the test asks for from here on.
    MeetingHistoryMirror::Timings timings = m_mirror->timings();
    timings.deferredRetryDelay = std::chrono::hours(1);
    m_mirror->setTimings(timings);
    m_mirror->finishConversation();
    m_turns.clear();
    QCOMPARE(m_mirror->handedOverMeetings().value(0).accountID, std::optional<QString>(QStringLiteral("user-1")));
    QVERIFY(FakeBackend::waitUntil([&] { return m_errorMessage && m_errorMessage->contains(QStringLiteral("предыдущую")); }));

    // Signed out as the server comes back: the next attempt (the quit's) sends nothing, and
    // the meeting is kept.
    m_account.reset();
    m_history->clearScripts();
    const int starts = callCount("StartMeetingSession");
    QVERIFY(runTask(m_mirror->waitForEverySave()).succeeded());
    QCOMPARE(callCount("StartMeetingSession"), starts);
    QCOMPARE(m_mirror->handedOverCount(), 1);

    m_account = nextAccount;
    m_mirror->noteSignedIn(nextAccount);
    if (sent) {
        QVERIFY(FakeBackend::waitUntil([&] { return m_mirror->handedOverCount() == 0; }));
        QCOMPARE(m_history->meetingCount(), 1);
    } else {
        QVERIFY(runTask(m_mirror->waitForEverySave()).succeeded());
        QCOMPARE(callCount("StartMeetingSession"), starts);
        QCOMPARE(m_mirror->handedOverCount(), 1);
        // Nor does the next run, taking it up while the other account is signed in.
        const QList<HandedOverMeeting> kept = m_mirror->handedOverMeetings();
        makeMirror(m_auth.get());
        followTestAccount();
        m_mirror->resumeHandedOverMeetings(kept);
        QVERIFY(runTask(m_mirror->waitForEverySave()).succeeded());
        QCOMPARE(callCount("StartMeetingSession"), starts);
        QCOMPARE(m_mirror->handedOverCount(), 1);
        // Its own account, later, still gets it.
        m_account = QStringLiteral("user-1");
        m_mirror->noteSignedIn(QStringLiteral("user-1"));
        QVERIFY(FakeBackend::waitUntil([&] { return m_mirror->handedOverCount() == 0; }));
        QCOMPARE(m_history->meetingCount(), 1);
    }
    m_mirror.reset();
}

// The account can change between a save's attempts (signed out and in as someone else while the
// server is away): a later attempt goes with the meeting's own account or not at all.
void tst_MeetingHistoryMirror::aMeetingIsSentOnlyWithItsOwnAccountsSession()
{
    const QString sessionItem = QString::fromLatin1(AuthService::sessionAccount);
    m_account = QStringLiteral("user-1");
    followTestAccount();
    addTurn(QStringLiteral("alt"));
    m_mirror->noteListeningStarted(QStringLiteral("system_audio"));
    // The first start is lost on the way, and the other account signs in as it is.
    m_history->script(QStringLiteral("StartMeetingSession"), Script::dropConnection(false));
    QMetaObject::Connection switchAccount = connect(m_backend.get(), &FakeBackend::requestReceived, this, [&] {
        TestAuth::secretStoreOf(m_auth.get())->setValue(sessionItem, TestAuth::secondSession().toJsonBytes());
        m_account = QStringLiteral("user-2");
    });
    m_mirror->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
    QVERIFY(waitIdle());
    disconnect(switchAccount);
    const QByteArray otherToken = "Bearer " + TestAuth::secondSession().accessToken.toUtf8();
    for (const RecordedRequest &request : m_backend->requests(QString::fromLatin1(FakeHistoryBackend::graphQLPath)))
        QVERIFY(request.header("Authorization") != otherToken);
    QCOMPARE(m_history->meetingCount(), 0);

    // Its own account signs in again: it is saved at once.
    m_history->clearScripts();
    TestAuth::secretStoreOf(m_auth.get())->setValue(sessionItem, TestAuth::defaultSession().toJsonBytes());
    m_account = QStringLiteral("user-1");
    m_mirror->noteSignedIn(QStringLiteral("user-1"));
    QVERIFY(FakeBackend::waitUntil([&] {
        const QStringList ids = m_history->meetingIds();
        return ids.size() == 1 && m_history->meeting(ids.first())->value("status").toString() == QLatin1String("completed");
    }));
    QVERIFY(waitIdle());
    QVERIFY2(!m_errorMessage, qPrintable(m_errorMessage.value_or(QString())));
    m_mirror.reset();
}

QTEST_GUILESS_MAIN(tst_MeetingHistoryMirror)
#include "tst_MeetingHistoryMirror.moc"
