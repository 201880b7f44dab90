// The history browser against the fake backend: real GraphQL documents, cursors, search,
// deletion and a summary saved over a meeting that another client changed meanwhile.

#include "accounts/AuthService.h"
#include "history/KavrelHistoryRemoteClient.h"
#include "history/KavrelHistoryViewModel.h"
#include "platform/UserDefaults.h"
#include "services/MeetingSessionHistoryService.h"
#include "session/HandedOverMeetingStore.h"
#include "session/MeetingHistoryMirror.h"
#include "session/MeetingHistorySnapshotBuilder.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include "HistoryTestData.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace std::chrono_literals;

namespace {

const QString workspace = QStringLiteral("workspace-1");

QJsonObject transcriptBlock(const QString &id, int seq, const QString &text)
{
    return QJsonObject{{"id", id}, {"seq", seq}, {"timestamp", "09:00:0" + QString::number(seq)}, {"text", text}};
}

FakeResponse chatReply(const QString &content)
{
    const QJsonObject message{{"role", "assistant"}, {"content", content}};
    const QJsonObject choice{{"index", 0}, {"message", message}, {"finish_reason", "stop"}};
    return FakeResponse::json(200, QJsonObject{{"id", "chatcmpl-1"}, {"choices", QJsonArray{choice}}});
}

} // namespace

class tst_KavrelHistoryBackend : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void listsSearchesOpensSummarizesAndDeletes();
    void aMeetingTheEngineWritesIsNeitherDeletedNorLost();

private:
    template<typename F>
    void run(F &&work)
    {
        runTask(std::forward<F>(work)());
    }

    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_fakeAuth;
    std::unique_ptr<FakeHistoryBackend> m_history;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<HistoryTestData::Localization> m_localization;
};

void tst_KavrelHistoryBackend::init()
{
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_fakeAuth = std::make_unique<FakeAuthBackend>(m_backend.get());
    m_history = std::make_unique<FakeHistoryBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
    m_fakeAuth->registerSession(TestAuth::defaultSession());
    m_localization = std::make_unique<HistoryTestData::Localization>();
}

void tst_KavrelHistoryBackend::cleanup()
{
    m_localization.reset();
    m_auth.reset();
    m_history.reset();
    m_fakeAuth.reset();
    m_backend.reset();
}

void tst_KavrelHistoryBackend::listsSearchesOpensSummarizesAndDeletes()
{
    QString opened;
    for (int i = 1; i <= 25; ++i) {
        QJsonObject fields{{"title", (i % 5 == 0 ? "Budget review " : "Standup ") + QString::number(i)},
                           {"status", "completed"},
                           {"durationSeconds", i * 60}};
        if (i == 25) {
            fields.insert("transcriptJson", QJsonArray{transcriptBlock("turn-1", 1, "We agreed on the budget.")});
            fields.insert("transcriptText", "[09:00:01] We agreed on the budget.");
        }
        const QString id = m_history->addMeeting(workspace, fields);
        if (i == 25)
            opened = id;
    }

    auto client = std::make_shared<KavrelHistoryRemoteClient>(m_auth.get());
    KavrelHistoryViewModel vm(client, *m_localization->store);
    vm.setSearchDebounceInterval(1ms);

    // First page and the next one through the cursor.
    run([&] { return vm.loadInitialPage(); });
    QCOMPARE(vm.errorMessage().value_or(QString()), QString());
    QCOMPARE(vm.sessions().size(), 20);
    QVERIFY(vm.nextCursor());
    run([&] { return vm.loadMore(); });
    QCOMPARE(vm.sessions().size(), 25);
    QVERIFY(!vm.nextCursor());

    // Search.
    vm.setSearchText(QStringLiteral("  budget "));
    QTRY_COMPARE(vm.sessions().size(), 5);
    QTRY_VERIFY(!vm.isLoading());
    QCOMPARE(m_history->calls().last().variables.value("q").toString(), QStringLiteral("budget"));

    // Detail.
    MeetingSessionHistoryListItem row;
    for (const auto &item : vm.sessions()) {
        if (item.id == opened)
            row = item;
    }
    QCOMPARE(row.id, opened);
    run([&] { return vm.openSession(row); });
    QVERIFY(vm.selectedSessionDetail());
    QCOMPARE(vm.selectedSessionDetail()->transcriptJson->size(), 1);
    const qint64 openedRevision = vm.selectedSessionDetail()->revision;

    // The live session saves more of the meeting after the sheet read it.
    MeetingSessionHistoryService liveSession(m_auth.get());
    MeetingSessionHistorySnapshot live;
    live.title = QStringLiteral("Budget review 25");
    live.startedAt = vm.selectedSessionDetail()->startedAt;
    live.status = MeetingSessionHistoryStatus::active;
    live.inputLanguage = QStringLiteral("en");
    MeetingSessionTranscriptBlock first;
    first.id = QStringLiteral("turn-1");
    first.seq = 1;
    first.timestamp = QStringLiteral("09:00:01");
    first.text = QStringLiteral("We agreed on the budget.");
    MeetingSessionTranscriptBlock second = first;
    second.id = QStringLiteral("turn-2");
    second.seq = 2;
    second.text = QStringLiteral("Next review in May.");
    live.transcriptBlocks = {first, second};
    live.protocolText = QStringLiteral("Protocol from the live session");
    live.sessionParams.client = QStringLiteral("macos");
    live.sessionParams.source = QStringLiteral("system_audio");
    QVERIFY(runTask(liveSession.updateSession(opened, openedRevision, live)).succeeded());
    QVERIFY(m_history->revisionOf(opened) > openedRevision);

    // Summarize: the first save quotes the old revision and is refused; the second is
    // built from the newer record.
    m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::chatCompletionsPath), chatReply("- Budget agreed."));
    m_history->clearCalls();
    const TaskHandle<void> summary = vm.summarizeSelectedTranscript();
    QVERIFY(summary.isValid());
    QTRY_VERIFY(summary.isFinished());
    QCOMPARE(vm.summaryErrorMessage().value_or(QString()), QString());
    QCOMPARE(vm.detailSummaryText(), std::optional<QString>("- Budget agreed."));
    QStringList operations = m_history->operationNames();
    QCOMPARE(operations.count("UpdateMeetingSession"), 2);
    QVERIFY(m_history->documentMismatches().isEmpty());

    const QJsonObject stored = *m_history->meeting(opened);
    QCOMPARE(stored.value("summaryText").toString(), QStringLiteral("- Budget agreed."));
    QCOMPARE(stored.value("transcriptJson").toArray().size(), 2);
    QCOMPARE(stored.value("protocolText").toString(), QStringLiteral("Protocol from the live session"));
    QCOMPARE(vm.selectedSessionDetail()->transcriptJson->size(), 2);
    QVERIFY(!vm.isSummaryLoading());

    // Delete the opened meeting: it leaves the list and the server, and the sheet closes.
    run([&] { return vm.deleteSession(row); });
    QVERIFY(m_history->isDeleted(opened));
    QVERIFY(!vm.isDetailPresented());
    QCOMPARE(vm.sessions().size(), 4);
    QVERIFY(m_history->documentMismatches().isEmpty());
}

void tst_KavrelHistoryBackend::aMeetingTheEngineWritesIsNeitherDeletedNorLost()
{
    // The engine's side: its own history client, and its record of the meeting on screen.
    MeetingSessionHistoryService engineService(m_auth.get());
    MeetingHistoryMirror mirror(&engineService);
    MeetingHistoryMirror::Timings timings;
    timings.retryDelays = {5ms, 5ms, 5ms};
    timings.deferredRetryDelay = 30ms;
    mirror.setTimings(timings);
    std::optional<QString> notice;
    mirror.setErrorMessageAccess([&notice] { return notice; }, [&notice](const std::optional<QString> &text) { notice = text; });
    std::vector<SessionTurn> turns;
    mirror.setSnapshotProvider([&](MeetingSessionHistoryStatus status, bool allowEmpty) {
        MeetingHistorySnapshotBuilder::Input input;
        input.turns = turns;
        input.startedAt = mirror.startedAt();
        input.endedAt = mirror.endedAt();
        input.source = mirror.source();
        input.clientSessionID = mirror.clientSessionID();
        input.now = QDateTime::currentDateTimeUtc();
        return MeetingHistorySnapshotBuilder::snapshot(input, status, allowEmpty);
    });
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath(QStringLiteral("defaults.ini")));
    HandedOverMeetingStore store(defaults, &mirror, nullptr);
    const QString texts = folder.filePath(QStringLiteral("texts"));
    store.setTextFolder(texts);
    const auto say = [&turns](const QString &text) {
        SessionTurn turn;
        turn.id = QUuid::createUuid();
        turn.text = text;
        turn.timestamp = QDateTime(QDate(2026, 5, 4), QTime(10, 0, int(turns.size())), QTimeZone::utc());
        turn.isClosed = true;
        turns.push_back(turn);
    };

    bool listening = true;
    mirror.noteListeningStarted(QStringLiteral("system_audio"));
    mirror.scheduleSessionStartIfNeeded();
    QTRY_VERIFY(mirror.sessionID());
    const QString live = *mirror.sessionID();

    // The browser's side, asking the engine at each delete.
    KavrelHistoryViewModel vm(std::make_shared<KavrelHistoryRemoteClient>(m_auth.get()), *m_localization->store);
    vm.setMeetingsInUseReader([&] {
        return MeetingsInUse{listening ? mirror.sessionID() : std::nullopt, mirror.waitingSessionIDs()};
    });
    run([&] { return vm.loadInitialPage(); });
    QCOMPARE(vm.sessions().size(), 1);
    const MeetingSessionHistoryListItem card = vm.sessions().first();
    run([&] { return vm.deleteSession(card); });
    QCOMPARE(vm.errorMessage(), std::optional<QString>("This session is being recorded now. Stop listening before deleting it."));
    QVERIFY(!m_history->isDeleted(live));

    // Stopped, its save held up behind a gateway: it waits for the server, and stays.
    listening = false;
    m_history->script(QStringLiteral("UpdateMeetingSession"),
                      FakeHistoryBackend::ScriptedReply::httpFailure(503, "<html><h1>503</h1></html>", "text/html"));
    say(QStringLiteral("First words before the gateway failed."));
    mirror.enqueueSnapshotSync(MeetingSessionHistoryStatus::completed);
    QTRY_VERIFY(mirror.waitingSessionIDs().contains(live));
    run([&] { return vm.deleteSession(card); });
    QVERIFY(vm.errorMessage().value_or(QString()).startsWith(QStringLiteral("This session has not been saved")));
    QVERIFY(!m_history->isDeleted(live));
    m_history->clearScripts();
    QTRY_VERIFY(mirror.waitingSessionIDs().isEmpty());

    // Listening goes on, and the record is deleted elsewhere meanwhile.
    listening = true;
    mirror.noteListeningStarted(QStringLiteral("system_audio"));
    MeetingSessionHistoryService elsewhere(m_auth.get());
    QVERIFY(runTask(elsewhere.deleteSession(live)).succeeded());
    say(QStringLiteral("Words the server never got."));
    listening = false;
    m_history->clearCalls();
    mirror.enqueueSnapshotSync(MeetingSessionHistoryStatus::completed);
    QTRY_VERIFY(notice && !mirror.hasUnsavedMeeting());

    // The meeting is not lost: its text is in a file, and the notice, in Russian, says where.
    const QStringList files = QDir(texts).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString path = QDir(texts).filePath(files.first());
    QCOMPARE(*notice, QStringLiteral("Не удалось синхронизировать историю встречи: её запись удалена с сервера. "
                                     "Текст встречи сохранён на этом компьютере в файле: ")
                          + path);
    QFile text(path);
    QVERIFY(text.open(QIODevice::ReadOnly));
    QVERIFY(text.readAll().contains("Words the server never got."));
    // Start New neither sends it to the gone record again nor keeps it twice.
    mirror.finishConversation();
    QCOMPARE(mirror.handedOverCount(), 0);
    QTest::qWait(100);
    QCOMPARE(m_history->operationNames().count(QStringLiteral("UpdateMeetingSession")), 1);
    QCOMPARE(QDir(texts).entryList(QDir::Files).size(), 1);

    // The browser's card of the gone meeting: its delete has nothing left to do, and it goes.
    run([&] { return vm.deleteSession(card); });
    QVERIFY(vm.sessions().isEmpty());
    QVERIFY(!vm.errorMessage());
}

QTEST_GUILESS_MAIN(tst_KavrelHistoryBackend)
#include "tst_KavrelHistoryBackend.moc"
