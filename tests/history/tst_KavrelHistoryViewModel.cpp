#include "history/KavrelHistoryViewModel.h"

#include "HistoryTestClient.h"
#include "HistoryTestData.h"

#include <QSignalSpy>
#include <QTest>

using namespace HistoryTestData;
using namespace std::chrono_literals;
using Call = std::shared_ptr<HistoryTestCall>;

namespace {

const QString fetchSessions = QStringLiteral("fetchSessions");
const QString fetchDetail = QStringLiteral("fetchSessionDetail");
const QString deleteOp = QStringLiteral("deleteSession");
const QString update = QStringLiteral("updateSession");
const QString summarize = QStringLiteral("summarize");

const QString fallbackNotice = QStringLiteral("AI summary failed, showing a local fallback instead.");

template<typename F>
void start(F &&work)
{
    spawnTask([work = std::forward<F>(work)](CancellationToken) { return work(); });
}

QStringList ids(const QList<MeetingSessionHistoryListItem> &rows)
{
    QStringList result;
    for (const auto &row : rows)
        result.append(row.id);
    return result;
}

} // namespace

Q_DECLARE_METATYPE(std::optional<QString>)

class tst_KavrelHistoryViewModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void searchBurstReloadsOnceWithTheNormalizedQuery_data();
    void searchBurstReloadsOnceWithTheNormalizedQuery();
    void searchTypedDuringALoadRunsAfterIt_data();
    void searchTypedDuringALoadRunsAfterIt();
    void firstPageFailureEmptiesTheList();
    void loadMoreGuards_data();
    void loadMoreGuards();
    void loadMoreAppendsOrKeepsRowsOnFailure();
    void nextPageOfAReloadedListIsDropped_data();
    void nextPageOfAReloadedListIsDropped();
    void deletionIsSerialAndClosesTheOpenedMeeting();
    void meetingsTheEngineWritesAreNotDeleted_data();
    void meetingsTheEngineWritesAreNotDeleted();
    void deletionAnsweredNotFoundHasReachedItsGoal();
    void lateDetailDoesNotFillTheSheet_data();
    void lateDetailDoesNotFillTheSheet();
    void summaryOutcomes_data();
    void summaryOutcomes();
    void summaryConflictRebuildsFromTheNewerRecord();
    void oneSummaryPerMeetingAcrossReopening();
    void busyFlagIsClearedForItsOwnMeetingOnly();
    void summaryOfAClosedSheetStillSavesButWritesNothing();
    void canSummarizeRules();

private:
    // Runs the first load and answers it with the given page.
    void loadFirstPage(const MeetingSessionHistoryListPage &firstPage);
    // Opens the meeting and answers its detail.
    void openWithDetail(const MeetingSessionHistoryDetail &detail);
    Call pending(const QString &operation);

    std::unique_ptr<Localization> m_localization;
    std::shared_ptr<HistoryTestClient> m_client;
    std::unique_ptr<KavrelHistoryViewModel> m_viewModel;
};

void tst_KavrelHistoryViewModel::init()
{
    m_localization = std::make_unique<Localization>();
    m_client = std::make_shared<HistoryTestClient>();
    m_viewModel = std::make_unique<KavrelHistoryViewModel>(m_client, *m_localization->store);
    m_viewModel->setSearchDebounceInterval(20ms);
}

void tst_KavrelHistoryViewModel::cleanup()
{
    m_viewModel.reset();
    // Answer whatever is still waiting so no coroutine stays suspended.
    for (const Call &call : m_client->calls) {
        if (!call->answered)
            call->fail(QStringLiteral("test over"));
    }
    m_client.reset();
    m_localization.reset();
}

Call tst_KavrelHistoryViewModel::pending(const QString &operation)
{
    Call call = m_client->pending(operation);
    if (!call)
        qFatal("no pending %s call", qPrintable(operation));
    return call;
}

void tst_KavrelHistoryViewModel::loadFirstPage(const MeetingSessionHistoryListPage &firstPage)
{
    KavrelHistoryViewModel *vm = m_viewModel.get();
    start([vm] { return vm->loadInitialPage(); });
    pending(fetchSessions)->answerPage(firstPage);
}

void tst_KavrelHistoryViewModel::openWithDetail(const MeetingSessionHistoryDetail &detail)
{
    KavrelHistoryViewModel *vm = m_viewModel.get();
    const MeetingSessionHistoryListItem item = row(detail.id);
    start([vm, item] { return vm->openSession(item); });
    pending(fetchDetail)->answerDetail(detail);
}

void tst_KavrelHistoryViewModel::searchBurstReloadsOnceWithTheNormalizedQuery_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<std::optional<QString>>("sent");
    QTest::newRow("three keys") << QStringList{"b", "bu", "bud"} << std::optional<QString>("bud");
    QTest::newRow("cleared") << QStringList{"b", ""} << std::optional<QString>();
    QTest::newRow("spaces only") << QStringList{"   ", " \n "} << std::optional<QString>();
    QTest::newRow("trimmed") << QStringList{"  budget  "} << std::optional<QString>("budget");
}

void tst_KavrelHistoryViewModel::searchBurstReloadsOnceWithTheNormalizedQuery()
{
    QFETCH(QStringList, typed);
    QFETCH(std::optional<QString>, sent);

    // Before the first appearance typing loads nothing.
    m_viewModel->setSearchText(QStringLiteral("early"));
    QTest::qWait(60);
    QCOMPARE(m_client->calls.size(), 0);
    m_viewModel->setSearchText(QString());

    loadFirstPage(page({"a"}));
    for (const QString &text : typed)
        m_viewModel->setSearchText(text);
    QTRY_COMPARE(m_client->callsOf(fetchSessions).size(), 2);
    QTest::qWait(60);
    QCOMPARE(m_client->callsOf(fetchSessions).size(), 2);
    const Call reload = m_client->callsOf(fetchSessions).last();
    QCOMPARE(reload->query.searchQuery, sent);
    QCOMPARE(reload->query.limit, 20);
    QVERIFY(!reload->query.cursor && !reload->query.dateFrom && !reload->query.dateTo);
    reload->answerPage(page({"b"}));
    QCOMPARE(ids(m_viewModel->sessions()), QStringList{"b"});
}

void tst_KavrelHistoryViewModel::searchTypedDuringALoadRunsAfterIt_data()
{
    QTest::addColumn<QString>("typedDuringLoad");
    QTest::addColumn<int>("expectedLoads");
    QTest::newRow("a different query runs next") << "plan" << 3;
    QTest::newRow("the same query does not") << "  " << 2;
}

void tst_KavrelHistoryViewModel::searchTypedDuringALoadRunsAfterIt()
{
    QFETCH(QString, typedDuringLoad);
    QFETCH(int, expectedLoads);

    loadFirstPage(page({"a"}));
    // A reload is running (held) when the next search comes in.
    m_viewModel->setSearchText(QStringLiteral(" "));
    QTRY_COMPARE(m_client->callsOf(fetchSessions).size(), 2);
    QVERIFY(m_viewModel->isLoading());
    m_viewModel->setSearchText(typedDuringLoad);
    QTest::qWait(60);
    QCOMPARE(m_client->callsOf(fetchSessions).size(), 2);

    pending(fetchSessions)->answerPage(page({"b"}));
    QCOMPARE(m_client->callsOf(fetchSessions).size(), expectedLoads);
    if (expectedLoads == 3) {
        const Call next = pending(fetchSessions);
        QCOMPARE(next->query.searchQuery, std::optional<QString>("plan"));
        next->answerPage(page({"p"}));
        QCOMPARE(ids(m_viewModel->sessions()), QStringList{"p"});
    }
    QVERIFY(!m_viewModel->isLoading());
}

void tst_KavrelHistoryViewModel::firstPageFailureEmptiesTheList()
{
    loadFirstPage(page({"a", "b"}, QStringLiteral("c1")));
    KavrelHistoryViewModel *vm = m_viewModel.get();
    start([vm] { return vm->reload(true); });
    pending(fetchSessions)->fail(QStringLiteral("Server down"));
    QVERIFY(m_viewModel->sessions().isEmpty());
    QVERIFY(!m_viewModel->nextCursor());
    QCOMPARE(m_viewModel->errorMessage(), std::optional<QString>("Server down"));
    QVERIFY(!m_viewModel->isLoading());

    start([vm] { return vm->reload(true); });
    pending(fetchSessions)->answerPage(page({"a"}));
    QVERIFY(!m_viewModel->errorMessage());
}

void tst_KavrelHistoryViewModel::loadMoreGuards_data()
{
    QTest::addColumn<QString>("situation");
    QTest::newRow("first page loading") << "loading";
    QTest::newRow("next page loading") << "loadingMore";
    QTest::newRow("no cursor") << "noCursor";
}

void tst_KavrelHistoryViewModel::loadMoreGuards()
{
    QFETCH(QString, situation);
    KavrelHistoryViewModel *vm = m_viewModel.get();
    loadFirstPage(page({"a"}, situation == "noCursor" ? std::nullopt : std::optional<QString>("c1")));
    if (situation == "loading")
        start([vm] { return vm->reload(true); });
    if (situation == "loadingMore")
        start([vm] { return vm->loadMore(); });
    const qsizetype before = m_client->calls.size();
    start([vm] { return vm->loadMore(); });
    QCOMPARE(m_client->calls.size(), before);
}

void tst_KavrelHistoryViewModel::loadMoreAppendsOrKeepsRowsOnFailure()
{
    KavrelHistoryViewModel *vm = m_viewModel.get();
    loadFirstPage(page({"a", "b"}, QStringLiteral("c1")));
    start([vm] { return vm->loadMore(); });
    QVERIFY(m_viewModel->isLoadingMore());
    Call next = pending(fetchSessions);
    QCOMPARE(next->query.cursor, std::optional<QString>("c1"));
    next->answerPage(page({"b", "c"}, QStringLiteral("c2")));
    // Appended as returned, duplicates included.
    QCOMPARE(ids(m_viewModel->sessions()), (QStringList{"a", "b", "b", "c"}));
    QCOMPARE(m_viewModel->nextCursor(), std::optional<QString>("c2"));

    start([vm] { return vm->loadMore(); });
    pending(fetchSessions)->fail(QStringLiteral("Timed out"));
    QCOMPARE(m_viewModel->sessions().size(), 4);
    QCOMPARE(m_viewModel->nextCursor(), std::optional<QString>("c2"));
    QCOMPARE(m_viewModel->errorMessage(), std::optional<QString>("Timed out"));
    QVERIFY(!m_viewModel->isLoadingMore());

    // The next page asks with the list's own query, not with text typed since.
    m_viewModel->setSearchText(QStringLiteral("typed later"));
    start([vm] { return vm->loadMore(); });
    QVERIFY(!pending(fetchSessions)->query.searchQuery);
}

void tst_KavrelHistoryViewModel::nextPageOfAReloadedListIsDropped_data()
{
    QTest::addColumn<QString>("reloadBy");
    QTest::addColumn<bool>("reloadAnswersFirst");
    QTest::newRow("search, reload answered first") << "search" << true;
    QTest::newRow("search, next page answered first") << "search" << false;
    QTest::newRow("refresh, reload answered first") << "refresh" << true;
    QTest::newRow("refresh, next page answered first") << "refresh" << false;
    QTest::newRow("post-save refresh") << "save" << true;
}

void tst_KavrelHistoryViewModel::nextPageOfAReloadedListIsDropped()
{
    QFETCH(QString, reloadBy);
    QFETCH(bool, reloadAnswersFirst);
    KavrelHistoryViewModel *vm = m_viewModel.get();

    loadFirstPage(page({"a"}, QStringLiteral("c1")));
    if (reloadBy == "save")
        openWithDetail(record(QStringLiteral("a"), QStringLiteral("hello")));
    start([vm] { return vm->loadMore(); });
    const Call nextPage = pending(fetchSessions);

    if (reloadBy == "search") {
        m_viewModel->setSearchText(QStringLiteral("x"));
        QTRY_VERIFY(m_viewModel->isLoading());
    } else if (reloadBy == "refresh") {
        start([vm] { return vm->reload(true); });
    } else {
        m_viewModel->summarizeSelectedTranscript();
        pending(summarize)->answerSummary(QStringLiteral("- hello"));
        pending(update)->answer();
    }
    const Call firstPage = m_client->callsOf(fetchSessions).last();
    QVERIFY(firstPage != nextPage);

    if (reloadAnswersFirst) {
        firstPage->answerPage(page({"n"}, QStringLiteral("fresh")));
        nextPage->answerPage(page({"old"}, QStringLiteral("stale")));
    } else {
        nextPage->answerPage(page({"old"}, QStringLiteral("stale")));
        firstPage->answerPage(page({"n"}, QStringLiteral("fresh")));
    }
    QCOMPARE(ids(m_viewModel->sessions()), QStringList{"n"});
    QCOMPARE(m_viewModel->nextCursor(), std::optional<QString>("fresh"));
    QVERIFY(!m_viewModel->isLoadingMore());
}

void tst_KavrelHistoryViewModel::deletionIsSerialAndClosesTheOpenedMeeting()
{
    KavrelHistoryViewModel *vm = m_viewModel.get();
    loadFirstPage(page({"a", "b", "a"}));
    openWithDetail(record(QStringLiteral("a")));
    QVERIFY(m_viewModel->isDetailPresented());

    start([vm] { return vm->deleteSession(row("b")); });
    QCOMPARE(m_viewModel->deletingSessionID(), std::optional<QString>("b"));
    start([vm] { return vm->deleteSession(row("a")); });
    QCOMPARE(m_client->callsOf(deleteOp).size(), 1);
    pending(deleteOp)->fail(QStringLiteral("Forbidden"));
    QCOMPARE(m_viewModel->sessions().size(), 3);
    QCOMPARE(m_viewModel->errorMessage(), std::optional<QString>("Forbidden"));
    QVERIFY(!m_viewModel->deletingSessionID());
    QVERIFY(m_viewModel->isDetailPresented());

    start([vm] { return vm->deleteSession(row("a")); });
    pending(deleteOp)->answer();
    QCOMPARE(ids(m_viewModel->sessions()), QStringList{"b"});
    QVERIFY(!m_viewModel->isDetailPresented());
    QVERIFY(!m_viewModel->selectedSessionDetail());
    QVERIFY(!m_viewModel->errorMessage());
}

void tst_KavrelHistoryViewModel::meetingsTheEngineWritesAreNotDeleted_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("refusal"); // empty: deleted
    QTest::newRow("being recorded") << "live" << "Эта сессия сейчас записывается. Остановите прослушивание, чтобы её удалить.";
    QTest::newRow("waiting for the server")
        << "waiting" << "Эта сессия ещё не сохранена на сервере. Удалить её можно, когда она сохранится.";
    QTest::newRow("saved") << "saved" << "";
}

void tst_KavrelHistoryViewModel::meetingsTheEngineWritesAreNotDeleted()
{
    QFETCH(QString, id);
    QFETCH(QString, refusal);
    Localization russian(KavrelAppLanguage::russian);
    // Asked at the delete itself: the meeting became the live one after the list was loaded.
    MeetingsInUse inUse;
    KavrelHistoryViewModel vm(m_client, *russian.store);
    vm.setMeetingsInUseReader([&inUse] { return inUse; });
    KavrelHistoryViewModel *model = &vm;
    start([model] { return model->loadInitialPage(); });
    pending(fetchSessions)->answerPage(page({"live", "waiting", "saved"}));
    inUse.recordingID = QStringLiteral("live");
    inUse.waitingIDs = QStringList{QStringLiteral("waiting")};

    QCOMPARE(vm.deletionRefusal(row(id)).value_or(QString()), refusal);
    const MeetingSessionHistoryListItem item = row(id);
    start([model, item] { return model->deleteSession(item); });
    if (refusal.isEmpty()) {
        pending(deleteOp)->answer();
        QCOMPARE(ids(vm.sessions()), (QStringList{"live", "waiting"}));
        return;
    }
    QVERIFY(m_client->callsOf(deleteOp).isEmpty());
    QCOMPARE(vm.errorMessage(), std::optional<QString>(refusal));
    QCOMPARE(vm.sessions().size(), 3);
    QVERIFY(!vm.deletingSessionID());
}

void tst_KavrelHistoryViewModel::deletionAnsweredNotFoundHasReachedItsGoal()
{
    KavrelHistoryViewModel *vm = m_viewModel.get();
    loadFirstPage(page({"a", "b"}));
    openWithDetail(record(QStringLiteral("a")));
    start([vm] { return vm->deleteSession(row("x")); });
    pending(deleteOp)->fail(QStringLiteral("Forbidden"));
    QCOMPARE(m_viewModel->errorMessage(), std::optional<QString>("Forbidden"));

    // Deleted elsewhere, or by an earlier attempt whose answer was lost.
    start([vm] { return vm->deleteSession(row("a")); });
    pending(deleteOp)->fail(MeetingSessionHistoryServiceError::graphqlRequestFailed(QStringLiteral("Meeting session not found"))
                                .withServerCode(QStringLiteral("NOT_FOUND")));
    QCOMPARE(ids(m_viewModel->sessions()), QStringList{"b"});
    QVERIFY(!m_viewModel->errorMessage());
    QVERIFY(!m_viewModel->isDetailPresented());
    QVERIFY(!m_viewModel->deletingSessionID());
}

void tst_KavrelHistoryViewModel::lateDetailDoesNotFillTheSheet_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::newRow("another meeting opened") << "openOther";
    QTest::newRow("same meeting reopened") << "reopen";
    QTest::newRow("sheet dismissed") << "dismiss";
}

void tst_KavrelHistoryViewModel::lateDetailDoesNotFillTheSheet()
{
    QFETCH(QString, meanwhile);
    KavrelHistoryViewModel *vm = m_viewModel.get();
    start([vm] { return vm->openSession(row("a")); });
    QVERIFY(m_viewModel->isDetailPresented());
    QVERIFY(m_viewModel->isLoadingDetail());
    const Call first = pending(fetchDetail);

    if (meanwhile == "dismiss") {
        m_viewModel->dismissDetail();
        first->answerDetail(record(QStringLiteral("a")));
        QVERIFY(!m_viewModel->isDetailPresented());
        QVERIFY(!m_viewModel->selectedSessionDetail());
        return;
    }
    const QString secondID = meanwhile == "openOther" ? QStringLiteral("b") : QStringLiteral("a");
    start([vm, secondID] { return vm->openSession(row(secondID)); });
    const Call second = m_client->callsOf(fetchDetail).last();
    MeetingSessionHistoryDetail stale = record(QStringLiteral("a"));
    stale.title = QStringLiteral("stale");
    first->answerDetail(stale);
    QVERIFY(!m_viewModel->selectedSessionDetail());
    QVERIFY(m_viewModel->isLoadingDetail());
    second->answerDetail(record(secondID));
    QCOMPARE(m_viewModel->selectedSessionDetail()->id, secondID);
    QCOMPARE(m_viewModel->selectedSessionDetail()->title, std::optional<QString>("Meeting " + secondID));
    QVERIFY(!m_viewModel->isLoadingDetail());

    // A failed fetch shows its error; retry opens the same row again.
    start([vm] { return vm->retrySelectedSession(); });
    pending(fetchDetail)->fail(QStringLiteral("Gone"));
    QCOMPARE(m_viewModel->detailErrorMessage(), std::optional<QString>("Gone"));
    QCOMPARE(m_viewModel->selectedSessionSummary()->id, secondID);
}

void tst_KavrelHistoryViewModel::summaryOutcomes_data()
{
    QTest::addColumn<bool>("aiSucceeds");
    QTest::addColumn<QString>("saveFails");      // "", "update" or "refetch"
    QTest::addColumn<QString>("shownSummary");
    QTest::addColumn<QString>("shownError");
    QTest::addColumn<int>("updates");

    const QString saveError = QStringLiteral("Summary generated, but could not be saved: Boom");
    QTest::newRow("AI ok") << true << "" << "- stored by server" << "" << 1;
    QTest::newRow("AI fails: fallback shown, not saved")
        << false << "" << "- Let's start.\n- Speaker: Agreed." << fallbackNotice << 0;
    QTest::newRow("save fails") << true << "update" << "- ai" << saveError << 1;
    QTest::newRow("refetch fails") << true << "refetch" << "- ai" << saveError << 1;
}

void tst_KavrelHistoryViewModel::summaryOutcomes()
{
    QFETCH(bool, aiSucceeds);
    QFETCH(QString, saveFails);
    QFETCH(QString, shownSummary);
    QFETCH(QString, shownError);
    QFETCH(int, updates);

    loadFirstPage(page({"a"}));
    MeetingSessionHistoryDetail detail =
        record(QStringLiteral("a"), QStringLiteral("[09:00:01] Let's start.\n\n[09:00:05] Speaker: Agreed."));
    detail.inputLanguage = QStringLiteral("de-AT");
    openWithDetail(detail);

    const TaskHandle<void> task = m_viewModel->summarizeSelectedTranscript();
    QVERIFY(task.isValid());
    QVERIFY(m_viewModel->isSummaryLoading());
    QCOMPARE(m_viewModel->selectedDetailTab(), KavrelHistoryDetailTab::summary);
    const Call ai = pending(summarize);
    QCOMPARE(ai->languageName, QStringLiteral("German/German"));
    QCOMPARE(ai->transcript, *detail.transcriptText);

    if (!aiSucceeds) {
        ai->fail(QStringLiteral("proxy down"));
    } else {
        ai->answerSummary(QStringLiteral("- ai"));
        QCOMPARE(m_viewModel->detailSummaryText(), std::optional<QString>("- ai"));
        QVERIFY(m_viewModel->isSummaryLoading());
        const Call save = pending(update);
        QCOMPARE(save->id, QStringLiteral("a"));
        QCOMPARE(save->revision, 3);
        QCOMPARE(save->snapshot.summaryText, std::optional<QString>("- ai"));
        if (saveFails == "update") {
            save->fail(QStringLiteral("Boom"));
        } else {
            save->answer();
            pending(fetchSessions)->answerPage(page({"a"}));
            MeetingSessionHistoryDetail saved = detail;
            saved.summaryText = QStringLiteral("  - stored by server ");
            saved.revision = 4;
            if (saveFails == "refetch")
                pending(fetchDetail)->fail(QStringLiteral("Boom"));
            else
                pending(fetchDetail)->answerDetail(saved);
        }
    }
    QVERIFY(task.isFinished());
    QCOMPARE(m_viewModel->detailSummaryText(), std::optional<QString>(shownSummary));
    QCOMPARE(m_viewModel->summaryErrorMessage().value_or(QString()), shownError);
    QCOMPARE(m_client->callsOf(update).size(), updates);
    QVERIFY(!m_viewModel->isSummaryLoading());
    QVERIFY(!m_viewModel->canSummarize(*m_viewModel->selectedSessionDetail()));
}

void tst_KavrelHistoryViewModel::summaryConflictRebuildsFromTheNewerRecord()
{
    loadFirstPage(page({"a"}));
    MeetingSessionHistoryDetail opened = record(QStringLiteral("a"), QStringLiteral("[09:00:01] One."));
    openWithDetail(opened);
    m_viewModel->summarizeSelectedTranscript();
    pending(summarize)->answerSummary(QStringLiteral("- one"));
    pending(update)->fail(QStringLiteral("Meeting session revision is outdated"));

    // The live session saved more of the meeting meanwhile.
    MeetingSessionHistoryDetail newer = opened;
    newer.revision = 9;
    newer.transcriptText = QStringLiteral("[09:00:01] One.\n[09:00:09] Two.");
    newer.protocolText = QStringLiteral("Protocol");
    newer.status = QStringLiteral("active");
    pending(fetchDetail)->answerDetail(newer);

    const Call retry = pending(update);
    QCOMPARE(retry->revision, 9);
    QCOMPARE(retry->snapshot.transcriptBlocks.size(), 2);
    QCOMPARE(retry->snapshot.protocolText, std::optional<QString>("Protocol"));
    QCOMPARE(retry->snapshot.status, MeetingSessionHistoryStatus::active);
    QCOMPARE(retry->snapshot.summaryText, std::optional<QString>("- one"));
    retry->answer();
    QCOMPARE(m_client->callsOf(update).size(), 2);
    QVERIFY(m_client->pending(fetchSessions));

    // Conflicts that keep coming end after a bounded number of tries.
    cleanup();
    init();
    loadFirstPage(page({"a"}));
    openWithDetail(opened);
    m_viewModel->summarizeSelectedTranscript();
    pending(summarize)->answerSummary(QStringLiteral("- one"));
    for (int attempt = 1; attempt < KavrelHistoryViewModel::maxSummarySaveAttempts; ++attempt) {
        pending(update)->fail(QStringLiteral("Meeting session revision is outdated"));
        pending(fetchDetail)->answerDetail(newer);
    }
    pending(update)->fail(QStringLiteral("Meeting session revision is outdated"));
    QCOMPARE(m_client->callsOf(update).size(), KavrelHistoryViewModel::maxSummarySaveAttempts);
    QVERIFY(m_viewModel->summaryErrorMessage()->contains(QStringLiteral("could not be saved")));
    QVERIFY(!m_viewModel->isSummaryLoading());
}

void tst_KavrelHistoryViewModel::oneSummaryPerMeetingAcrossReopening()
{
    loadFirstPage(page({"a"}));
    const MeetingSessionHistoryDetail detail = record(QStringLiteral("a"), QStringLiteral("Hello"));
    openWithDetail(detail);
    QVERIFY(m_viewModel->summarizeSelectedTranscript().isValid());
    m_viewModel->dismissDetail();
    QVERIFY(!m_viewModel->isSummaryLoading());

    openWithDetail(detail);
    QVERIFY(m_viewModel->isSummaryLoading());
    QVERIFY(!m_viewModel->canSummarize(detail));
    QVERIFY(!m_viewModel->summarizeSelectedTranscript().isValid());
    QCOMPARE(m_client->callsOf(summarize).size(), 1);

    // The summary of the first opening reaches the reopened sheet, and is saved once.
    pending(summarize)->answerSummary(QStringLiteral("- hi"));
    QCOMPARE(m_viewModel->detailSummaryText(), std::optional<QString>("- hi"));
    pending(update)->answer();
    pending(fetchSessions)->answerPage(page({"a"}));
    pending(fetchDetail)->answerDetail(detail);
    QCOMPARE(m_client->callsOf(update).size(), 1);
    QCOMPARE(m_viewModel->detailSummaryText(), std::optional<QString>("- hi"));
    QVERIFY(!m_viewModel->isSummaryLoading());

    // A summary that lands while the reopened record still loads is not wiped by that
    // record's older, empty summary.
    const MeetingSessionHistoryDetail other = record(QStringLiteral("b"), QStringLiteral("Other"));
    openWithDetail(other);
    m_viewModel->summarizeSelectedTranscript();
    m_viewModel->dismissDetail();
    KavrelHistoryViewModel *vm = m_viewModel.get();
    start([vm] { return vm->openSession(row("b")); });
    pending(summarize)->answerSummary(QStringLiteral("- other"));
    pending(fetchDetail)->answerDetail(other);
    QCOMPARE(m_viewModel->detailSummaryText(), std::optional<QString>("- other"));
}

void tst_KavrelHistoryViewModel::busyFlagIsClearedForItsOwnMeetingOnly()
{
    loadFirstPage(page({"a", "b"}));
    openWithDetail(record(QStringLiteral("a"), QStringLiteral("Alpha")));
    m_viewModel->summarizeSelectedTranscript();
    const Call aiOfA = pending(summarize);
    m_viewModel->dismissDetail();

    openWithDetail(record(QStringLiteral("b"), QStringLiteral("Beta")));
    m_viewModel->summarizeSelectedTranscript();
    QCOMPARE(m_client->callsOf(summarize).size(), 2);
    QVERIFY(m_viewModel->isSummaryLoading());

    aiOfA->answerSummary(QStringLiteral("- alpha"));
    pending(update)->answer();
    pending(fetchSessions)->answerPage(page({"a", "b"}));
    // Meeting b is still being summarised, and a's result did not land in b's sheet.
    QVERIFY(m_viewModel->isSummaryLoading());
    QVERIFY(!m_viewModel->detailSummaryText());
    QCOMPARE(m_client->callsOf(fetchDetail).size(), 2);
}

void tst_KavrelHistoryViewModel::summaryOfAClosedSheetStillSavesButWritesNothing()
{
    loadFirstPage(page({"a"}));
    openWithDetail(record(QStringLiteral("a"), QStringLiteral("Alpha")));
    m_viewModel->summarizeSelectedTranscript();
    m_viewModel->dismissDetail();
    pending(summarize)->answerSummary(QStringLiteral("- alpha"));
    pending(update)->fail(QStringLiteral("Boom"));
    QVERIFY(!m_viewModel->detailSummaryText());
    QVERIFY(!m_viewModel->summaryErrorMessage());
    QVERIFY(!m_viewModel->isDetailPresented());

    // The view model may go away while a summary runs; the save still goes ahead.
    openWithDetail(record(QStringLiteral("a"), QStringLiteral("Alpha")));
    m_viewModel->summarizeSelectedTranscript();
    m_viewModel.reset();
    pending(summarize)->answerSummary(QStringLiteral("- alpha"));
    QVERIFY(m_client->pending(update));
    pending(update)->answer();
}

void tst_KavrelHistoryViewModel::canSummarizeRules()
{
    loadFirstPage(page({"a"}));
    MeetingSessionHistoryDetail detail = record(QStringLiteral("a"), QStringLiteral("Text"));
    openWithDetail(detail);
    QVERIFY(m_viewModel->canSummarize(detail));

    MeetingSessionHistoryDetail summarized = detail;
    summarized.summaryText = QStringLiteral("- done");
    QVERIFY(!m_viewModel->canSummarize(summarized));
    summarized.summaryText = QStringLiteral("  \n");
    QVERIFY(m_viewModel->canSummarize(summarized));

    // Blocks that are all blank mean no transcript, whatever the plain text holds.
    MeetingSessionHistoryDetail blankBlocks = detail;
    MeetingSessionTranscriptBlock block;
    block.id = QStringLiteral("turn-1");
    block.text = QStringLiteral("   ");
    blankBlocks.transcriptJson = QList<MeetingSessionTranscriptBlock>{block};
    QVERIFY(!m_viewModel->canSummarize(blankBlocks));

    MeetingSessionHistoryDetail noTranscript = detail;
    noTranscript.transcriptText.reset();
    QVERIFY(!m_viewModel->canSummarize(noTranscript));
}

QTEST_GUILESS_MAIN(tst_KavrelHistoryViewModel)
#include "tst_KavrelHistoryViewModel.moc"
