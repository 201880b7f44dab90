// The list model passes appended pages and deletions on as row changes (so the list keeps
// its scroll position) and resets only for a list that is not one of those.

#include "history/KavrelHistorySessionListModel.h"
#include "history/KavrelHistoryViewModel.h"

#include "HistoryTestClient.h"
#include "HistoryTestData.h"

#include <QSignalSpy>
#include <QTest>

using namespace HistoryTestData;

class tst_KavrelHistorySessionListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsTheViewModel();
};

void tst_KavrelHistorySessionListModel::followsTheViewModel()
{
    Localization localization;
    auto client = std::make_shared<HistoryTestClient>();
    KavrelHistoryViewModel viewModel(client, *localization.store);
    KavrelHistorySessionListModel model(&viewModel);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    auto run = [](QCoro::Task<void> task) { spawnTask([&task](CancellationToken) { return std::move(task); }); };

    run(viewModel.loadInitialPage());
    client->pending("fetchSessions")->answerPage(page({"a", "b", "c"}, QStringLiteral("next")));
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(inserted.size(), 1);

    run(viewModel.loadMore());
    client->pending("fetchSessions")->answerPage(page({"d", "e"}));
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(inserted.last().at(1).toInt(), 3);
    QCOMPARE(inserted.last().at(2).toInt(), 4);
    QCOMPARE(model.item(4).id, QStringLiteral("e"));

    run(viewModel.deleteSession(row("c")));
    client->pending("deleteSession")->answer();
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.last().at(1).toInt(), 2);
    QCOMPARE(model.data(model.index(2), KavrelHistorySessionListModel::idRole).toString(), QStringLiteral("d"));
    QCOMPARE(reset.size(), 0);

    run(viewModel.reload(true));
    client->pending("fetchSessions")->answerPage(page({"x"}));
    QCOMPARE(reset.size(), 1);
    QCOMPARE(model.rowCount(), 1);
}

QTEST_GUILESS_MAIN(tst_KavrelHistorySessionListModel)
#include "tst_KavrelHistorySessionListModel.moc"
