// Measures what opening a saved meeting in the history's detail sheet costs, and switching its
// tabs (transcript, translation, summary, back to the transcript), on the main thread: the
// record arrives, the sheet builds and lays out its tab and paints (offscreen). Meetings of 20,
// 200 and 2,000 blocks are measured in one run; the target is under 100 ms for each step at
// 2,000 blocks, and the ratio to 20 blocks shows how much the length still costs.
//
// Usage: bench_history_detail [--rounds N]

#include "history/HistoryTestClient.h"
#include "history/HistoryTestData.h"

#include "base/Async.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "history/widgets/KavrelHistoryView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTime>

#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>

namespace {

double threadCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Each round opens another meeting: the sheet keeps what it measured of the meeting shown last.
MeetingSessionHistoryDetail meeting(int blocks, int round)
{
    MeetingSessionHistoryDetail detail = HistoryTestData::record(QStringLiteral("m1"));
    detail.durationSeconds = blocks * 4;
    detail.summaryText = QStringLiteral("The release moves to Thursday; the numbers are checked first.");
    QList<MeetingSessionTranscriptBlock> transcript;
    QList<MeetingSessionTranslationBlock> translation;
    for (int i = 0; i < blocks; ++i) {
        MeetingSessionTranscriptBlock block;
        block.id = QStringLiteral("turn-%1").arg(i + 1);
        block.seq = i + 1;
        block.timestamp = QTime(9, 0).addSecs(i * 4).toString(QStringLiteral("HH:mm:ss"));
        if (i % 2)
            block.speakerLabel = QStringLiteral("Speaker 2");
        block.text = QStringLiteral("Block %1: we went through the open items, agreed on the release date and assigned "
                                    "the follow-up notes to the owners of each area (%2).")
                         .arg(i + 1)
                         .arg(round);
        transcript.append(block);
        translation.append({block.id, block.seq, QStringLiteral("de"),
                            QStringLiteral("Block %1: Wir sind die offenen Punkte durchgegangen und haben uns auf das "
                                           "Datum geeinigt (%2).")
                                .arg(i + 1)
                                .arg(round)});
    }
    detail.transcriptJson = transcript;
    detail.translationJson = translation;
    return detail;
}

// Main-thread milliseconds of `step` and of what it leaves for the next turns of the event
// loop (layouts, measuring, building, the repaint).
double timed(const std::function<void()> &step)
{
    const double before = threadCpuMilliseconds();
    step();
    for (int turn = 0; turn < 6; ++turn)
        QCoreApplication::processEvents();
    return threadCpuMilliseconds() - before;
}

struct Costs
{
    double open = 0;
    double translation = 0;
    double summary = 0;
    double transcript = 0;
};

Costs measure(int blocks, int round)
{
    auto client = std::make_shared<HistoryTestClient>();
    KavrelHistoryView view(client);
    view.resize(1180, 900);
    view.show();
    if (!QTest::qWaitFor([&] { return client->pending(QStringLiteral("fetchSessions")) != nullptr; }, 5000))
        qFatal("the history view asked for no meetings");
    MeetingSessionHistoryListPage page;
    page.items.append(HistoryTestData::row(QStringLiteral("m1")));
    client->pending(QStringLiteral("fetchSessions"))->answerPage(page);
    KavrelHistoryViewModel *viewModel = view.viewModel();
    spawnTask([viewModel](CancellationToken) { return viewModel->openSession(HistoryTestData::row(QStringLiteral("m1"))); });
    if (!QTest::qWaitFor([&] { return view.detailSheet() && view.detailSheet()->isVisible(); }, 5000))
        qFatal("the meeting's detail sheet did not open");
    KavrelHistoryDetailSheet *sheet = view.detailSheet();
    sheet->resize(KavrelHistoryDetailSheet::minimumWidth, KavrelHistoryDetailSheet::minimumHeight);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();

    Costs costs;
    const MeetingSessionHistoryDetail detail = meeting(blocks, round);
    costs.open = timed([&] {
        client->pending(QStringLiteral("fetchSessionDetail"))->answerDetail(detail);
        sheet->refresh();
    });
    const auto tab = [&](KavrelHistoryDetailTab selected) {
        return timed([&] {
            viewModel->setSelectedDetailTab(selected);
            sheet->refresh();
        });
    };
    costs.translation = tab(KavrelHistoryDetailTab::translate);
    costs.summary = tab(KavrelHistoryDetailTab::summary);
    costs.transcript = tab(KavrelHistoryDetailTab::transcribe);
    sheet->reject();
    for (const auto &call : client->calls) {
        if (!call->answered)
            call->fail(QStringLiteral("benchmark over"));
    }
    return costs;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rounds = 3;
    const QStringList arguments = app.arguments();
    const int at = int(arguments.indexOf(QStringLiteral("--rounds")));
    if (at >= 0 && at + 1 < arguments.size())
        rounds = std::max(1, arguments.at(at + 1).toInt());

    // A first run, not reported, warms the caches of the painting (glyphs, shadows).
    measure(20, -1);
    std::printf("main-thread CPU ms, the best of %d rounds\n", rounds);
    std::printf("blocks     open   translation   summary   transcript   open ratio to 20 blocks\n");
    double base = 0;
    for (int blocks : {20, 200, 2000}) {
        Costs best{1e9, 1e9, 1e9, 1e9};
        for (int round = 0; round < rounds; ++round) {
            const Costs costs = measure(blocks, round);
            best.open = std::min(best.open, costs.open);
            best.translation = std::min(best.translation, costs.translation);
            best.summary = std::min(best.summary, costs.summary);
            best.transcript = std::min(best.transcript, costs.transcript);
        }
        if (blocks == 20)
            base = best.open;
        std::printf("%6d   %6.1f   %11.1f   %7.1f   %10.1f   %23.2f\n", blocks, best.open, best.translation, best.summary,
                    best.transcript, best.open / base);
    }
    return 0;
}
