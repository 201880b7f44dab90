// Measures what one more final result costs while the floating mini window shows the session:
// the engine takes the result and its translation, and both panels of the mini window
// (offscreen, laid out and painted) take the new rows. The cost at 200 and 2,000 turns is
// reported against the cost at 20 turns in the same run (target: at most 1.5 times). A
// microphone level update, many of which arrive every second, is timed beside it.
//
// The draft of the session is written on a worker thread; every result waits (untimed) until
// its draft has been written, so the main thread's time is the window's and the engine's alone.
//
// Usage: bench_mini_window [--results N]

#include "BenchTurns.h"
#include "session/SessionTestFakes.h"

#include "app/SubtitleViewModelSurface.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "platform/UserDefaults.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

struct Cost
{
    double result = 0; // main-thread milliseconds per final result
    double level = 0; // main-thread milliseconds per microphone level update
};

Cost costPerResult(int turns, int results)
{
    SessionTest::Engine engine;
    SubtitleViewModel &model = *engine.model;
    BenchTurns::fillClosedTurns(*model.turnStore(), turns);

    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    SubtitleViewModelSurface surface(model);
    KavrelMiniWindowCoordinator windows([] { return std::optional<X11WindowListSnapshot>(); });
    KavrelPresentationStore presentation(windows, [] { return true; });
    KavrelListeningMiniView view(surface, presentation, defaults, [] {});
    view.resize(720, 420);
    view.show();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();

    const auto settle = [&] { BenchTurns::settleDraft(*model.draftStore()); };
    settle();

    SessionTurnStore *store = model.turnStore();
    qint64 resultNanoseconds = 0;
    for (int i = 0; i < results; ++i) {
        QElapsedTimer timer;
        timer.start();
        BenchTurns::applyFinalResult(*store, i);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        resultNanoseconds += timer.nsecsElapsed();
        settle();
    }
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < results; ++i) {
        Q_EMIT model.microphoneLevelChanged();
        QCoreApplication::processEvents();
    }
    const qint64 levelNanoseconds = timer.nsecsElapsed();
    return Cost{double(resultNanoseconds) / 1e6 / results, double(levelNanoseconds) / 1e6 / results};
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

    // A first run, not reported, warms the caches of the painting (glyphs, shadows).
    costPerResult(20, results);
    std::printf("turns   result ms   ratio to 20 turns   level update ms\n");
    double base = 0;
    for (int turns : {20, 200, 2000}) {
        const Cost cost = costPerResult(turns, results);
        if (turns == 20)
            base = cost.result;
        std::printf("%5d   %9.3f   %17.2f   %15.4f\n", turns, cost.result, cost.result / base, cost.level);
    }
    return 0;
}
