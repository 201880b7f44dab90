// Measures what one more final result costs while the main window shows the session: the
// engine takes the result and its translation, and both dialogue columns of the window
// (offscreen, laid out and painted) take the new rows. The cost at 200 and 2,000 turns is
// reported against the cost at 20 turns in the same run; the panels update row by row, so
// the ratio should stay near 1.
//
// The main thread's time per result is what the window feels. The draft of the session is
// written on a worker thread; every result waits (untimed) until its draft has been written,
// so no write is merged into the next one, and the CPU time of the other threads per result is
// reported beside it: that is the draft's whole cost, which grows with the session.
//
// Usage: bench_workspace_transcript [--results N]

#include "BenchTurns.h"
#include "session/SessionTestFakes.h"

#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "workspace/widgets/WorkspaceTextColumn.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QWidget>

#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double cpuMilliseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Cost
{
    double mainThread = 0; // milliseconds of wall time per result on the main thread
    double otherThreads = 0; // milliseconds of CPU per result on the other threads
};

// Average milliseconds per final result after `turns` closed turns, with the window on screen
// or only built.
Cost costPerResult(int turns, int results, bool withWindow)
{
    SessionTest::Engine engine;
    SubtitleViewModel &model = *engine.model;
    BenchTurns::fillClosedTurns(*model.turnStore(), turns);

    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    layout->addWidget(new WorkspaceTextColumn(model, PublishedTranscript::Column::transcript, nullptr, &window));
    layout->addWidget(new WorkspaceTextColumn(model, PublishedTranscript::Column::translation, nullptr, &window));
    window.resize(1200, 800);
    if (withWindow)
        window.show();
    else
        window.setAttribute(Qt::WA_DontShowOnScreen);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();

    const auto settle = [&] { BenchTurns::settleDraft(*model.draftStore()); };
    settle();

    SessionTurnStore *store = model.turnStore();
    qint64 mainNanoseconds = 0;
    double otherThreadsCpu = 0;
    for (int i = 0; i < results; ++i) {
        const double processBefore = cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID);
        const double mainBefore = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
        QElapsedTimer timer;
        timer.start();
        BenchTurns::applyFinalResult(*store, i);
        // The window paints what changed when it gets its update request.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        mainNanoseconds += timer.nsecsElapsed();
        // The draft of this result is written before the next result comes.
        settle();
        otherThreadsCpu += (cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore)
                           - (cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - mainBefore);
    }
    return Cost{double(mainNanoseconds) / 1e6 / results, otherThreadsCpu / results};
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int results = 60;
    const QStringList arguments = app.arguments();
    const int at = int(arguments.indexOf(QStringLiteral("--results")));
    if (at >= 0 && at + 1 < arguments.size())
        results = std::max(1, arguments.at(at + 1).toInt());

    // Without the window shown the columns' widgets exist but nothing is laid out or
    // painted: that row is the engine's share. A first run, not reported, warms the caches of
    // the painting (glyphs, shadows) that would otherwise be charged to the 20 turns.
    costPerResult(20, results, true);
    std::printf("turns   engine ms   engine+window ms   ratio to 20 turns (engine+window)   draft writer CPU ms\n");
    double base = 0;
    for (int turns : {20, 200, 2000}) {
        const Cost engine = costPerResult(turns, results, false);
        const Cost both = costPerResult(turns, results, true);
        if (turns == 20)
            base = both.mainThread;
        std::printf("%5d   %9.3f   %16.3f   %33.2f   %19.3f\n", turns, engine.mainThread, both.mainThread,
                    both.mainThread / base, (engine.otherThreads + both.otherThreads) / 2);
    }
    return 0;
}
