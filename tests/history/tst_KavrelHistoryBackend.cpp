// The history browser against the fake backend: real GraphQL documents, cursors, search,
// deletion and a summary saved over a meeting that another client changed meanwhile.

#include "accounts/AuthService.h"
#include "history/KavrelHistoryRemoteClient.h"
#include "history/KavrelHistoryViewModel.h"
#include "services/MeetingSessionHistoryService.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include "HistoryTestData.h"

#include <QJsonArray>
#include <QTest>

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

QTEST_GUILESS_MAIN(tst_KavrelHistoryBackend)
#include "tst_KavrelHistoryBackend.moc"
