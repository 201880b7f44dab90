// The meeting history mirror with a record that outlives the run or the sign-in that made it:
// a record kept for the next run, a handed-over meeting on disk, the quit's last attempt, a
// start whose answer was lost and is looked up by the next run, and a meeting that goes only
// with its own account.

#include "MeetingHistoryMirrorFixture.h"

#include "accounts/AuthSession.h"
#include "platform/InMemorySecretStore.h"
#include "platform/UserDefaults.h"
#include "session/HandedOverMeetingStore.h"
#include "session/MeetingHistoryRecord.h"
#include "speech/TranslationTestSupport.h"
#include "support/TaskResult.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using Script = FakeHistoryBackend::ScriptedReply;
using namespace std::chrono_literals;

class tst_MeetingHistoryCarriedOver : public QObject, protected MeetingHistoryMirrorFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { initFixture(); }
    void cleanup() { cleanupFixture(); }

    void aKeptRecordCarriesOnInTheNextRun();
    void aHandedOverMeetingOutlivesTheProgram();
    void theQuitTriesEachSaveOnceWithoutPausing();
    void anUnansweredStartIsLookedUpByTheNextRun_data();
    void anUnansweredStartIsLookedUpByTheNextRun();
    void aHandedOverMeetingWaitsForItsOwnAccount_data();
    void aHandedOverMeetingWaitsForItsOwnAccount();
    void aMeetingIsSentOnlyWithItsOwnAccountsSession();
};

void tst_MeetingHistoryCarriedOver::aKeptRecordCarriesOnInTheNextRun()
{
    m_now = m_now.addMSecs(700);
    MeetingSettings settings;
    settings.sourceLanguage = SourceLanguageOption::german;
    settings.isTranslationEnabled = true;
    settings.translationLanguage = TranslationLanguageOption::french;
    settings.microphoneName = QStringLiteral("Beta");
    m_mirror->setSettingsReader([&settings] { return settings; });
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
    QCOMPARE(m_mirror->meetingSettings(), std::optional(settings));
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

void tst_MeetingHistoryCarriedOver::aHandedOverMeetingOutlivesTheProgram()
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
void tst_MeetingHistoryCarriedOver::theQuitTriesEachSaveOnceWithoutPausing()
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

void tst_MeetingHistoryCarriedOver::anUnansweredStartIsLookedUpByTheNextRun_data()
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

void tst_MeetingHistoryCarriedOver::anUnansweredStartIsLookedUpByTheNextRun()
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

void tst_MeetingHistoryCarriedOver::aHandedOverMeetingWaitsForItsOwnAccount_data()
{
    QTest::addColumn<QString>("nextAccount");
    QTest::addColumn<bool>("sent");
    QTest::newRow("same account signs in again") << QStringLiteral("user-1") << true;
    QTest::newRow("another account signs in") << QStringLiteral("user-2") << false;
}

void tst_MeetingHistoryCarriedOver::aHandedOverMeetingWaitsForItsOwnAccount()
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
void tst_MeetingHistoryCarriedOver::aMeetingIsSentOnlyWithItsOwnAccountsSession()
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

QTEST_GUILESS_MAIN(tst_MeetingHistoryCarriedOver)
#include "tst_MeetingHistoryCarriedOver.moc"
