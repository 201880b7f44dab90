// Measures what one more final result costs while the main window shows the session: the
// engine takes the result and its translation, and both dialogue columns of the window
// (offscreen, laid out and painted) take the new rows. The cost at 200 and 2,000 turns is
// reported against the cost at 20 turns in the same run; the panels update row by row, so
// the ratio should stay near 1.
//
// Usage: bench_workspace_transcript [--results N]

#include "session/SessionTestFakes.h"

#include "session/SessionTurnStore.h"
#include "workspace/widgets/WorkspaceTextColumn.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QWidget>

#include <cstdio>
#include <vector>

namespace {

// Average milliseconds per final result after `turns` closed turns, with the window on screen
// or only built.
double costPerResult(int turns, int results, bool withWindow)
{
    SessionTest::Engine engine;
    SubtitleViewModel &model = *engine.model;
    std::vector<SessionTurn> existing;
    const QDateTime start = QDateTime::currentDateTime();
    for (int i = 0; i < turns; ++i) {
        SessionTurn turn;
        turn.id = QUuid::createUuid();
        turn.text = QStringLiteral("Turn %1: we should move the release to Thursday and check the numbers first.").arg(i);
        turn.translationText = QStringLiteral("Реплика %1: перенесём релиз на четверг и сначала проверим цифры.").arg(i);
        turn.timestamp = start.addSecs(i);
        turn.isClosed = true;
        existing.push_back(turn);
    }
    model.turnStore()->replaceAll(std::move(existing));

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

    QElapsedTimer timer;
    timer.start();
    SessionTurnStore *store = model.turnStore();
    for (int i = 0; i < results; ++i) {
        store->applyFinalTranscript(QStringLiteral("A new final result number %1 about the budget.").arg(i), true);
        const int index = store->count() - 1;
        store->setTranslationText(index, QStringLiteral("Новый итоговый результат номер %1 о бюджете.").arg(i));
        // The window paints what changed when it gets its update request.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    return double(timer.nsecsElapsed()) / 1e6 / results;
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
    // painted: that row is the engine's share.
    std::printf("turns   engine ms   engine+window ms   ratio to 20 turns (engine+window)\n");
    double base = 0;
    for (int turns : {20, 200, 2000}) {
        const double engine = costPerResult(turns, results, false);
        const double both = costPerResult(turns, results, true);
        if (turns == 20)
            base = both;
        std::printf("%5d   %9.3f   %16.3f   %5.2f\n", turns, engine, both, both / base);
    }
    return 0;
}
