// Measures what one change of the session costs the draft writer's worker: judging the draft,
// encoding it and writing the settings file, at 20, 200 and 2,000 turns. The cost at 2,000 turns
// is reported against the cost at 20 in the same run (target: at most 1.5 times). Beside it, on
// the main thread, the encoding alone: the encoder that reuses closed turns against a full
// encoding of every turn, the baseline of the same run.
//
// A change is what a meeting makes: mostly the open turn growing by a word (an interim result),
// every fourth one a final result that closes the turn and opens the next. Each change waits,
// untimed, until its draft has been written, so no write is merged into the next one.
//
// Usage: bench_session_draft [--changes N]

#include "BenchTurns.h"
#include "platform/UserDefaults.h"
#include "session/SessionDraftEncoder.h"
#include "session/SessionDraftWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

double cpuMilliseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

SessionTurn turnAt(int index)
{
    return BenchTurns::closedTurn(index, QDateTime(QDate(2026, 3, 5), QTime(9, 0), Qt::UTC), 7);
}

// The rendered texts are made anew for every change, as the published transcript makes them.
void render(SessionDraft &draft)
{
    QString subtitles;
    QString translated;
    for (const SessionTurn &turn : draft.turns) {
        const QString stamp = QLatin1Char('[') + turn.timestamp.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("] ");
        subtitles += stamp + turn.text + QStringLiteral("\n\n");
        translated += stamp + turn.translationText + QStringLiteral("\n\n");
    }
    draft.subtitlesText = subtitles;
    draft.translatedText = translated;
}

void change(SessionDraft &draft, int step)
{
    if (step % 4 == 3) {
        draft.turns.back().isClosed = true;
        SessionTurn next = turnAt(int(draft.turns.size()));
        next.text = QStringLiteral("And");
        next.translationText.clear();
        next.isClosed = false;
        draft.turns.push_back(next);
    } else {
        draft.turns.back().text += QStringLiteral(" word");
    }
    render(draft);
}

struct Cost
{
    double writer = 0; // CPU ms per change on the worker
    double incremental = 0; // CPU ms per change, encoding that reuses
    double full = 0; // CPU ms per change, encoding everything
};

Cost costPerChange(int turns, int changes)
{
    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    SessionDraftWriter writer(defaults, QStringLiteral("kavrel.session.localDraft.v2"));
    SessionDraft draft;
    for (int i = 0; i < turns; ++i)
        draft.turns.push_back(turnAt(i));
    draft.turns.back().isClosed = false;
    draft.panels.transcriptSummaryText = QStringLiteral("The team moves the release to Thursday.");
    render(draft);

    QEventLoop loop;
    QObject::connect(&writer, &SessionDraftWriter::draftWritten, &loop, &QEventLoop::quit);
    const auto writeAndWait = [&] {
        writer.submit(draft);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
    };
    writeAndWait(); // the first write encodes every turn

    Cost cost;
    for (int i = 0; i < changes; ++i) {
        change(draft, i);
        const double processBefore = cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID);
        const double mainBefore = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
        writeAndWait();
        const double main = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - mainBefore;
        cost.writer += cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore - main;
    }

    // The encoding alone, on this thread, over the same kind of changes.
    SessionDraftEncoder encoder;
    encoder.encode(draft);
    for (int i = 0; i < changes; ++i) {
        change(draft, i);
        double before = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
        const QByteArray reused = encoder.encode(draft);
        cost.incremental += cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - before;
        before = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
        const QByteArray full = draft.toJson();
        cost.full += cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - before;
        if (reused != full) {
            std::printf("the encodings differ at %d turns\n", turns);
            std::exit(1);
        }
    }
    cost.writer /= changes;
    cost.incremental /= changes;
    cost.full /= changes;
    return cost;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    int changes = 40;
    const QStringList arguments = application.arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--changes"))
            changes = std::max(4, arguments[i + 1].toInt());
    }
    std::printf("turns   writer CPU ms/change   ratio to 20   encoding ms: reusing   full\n");
    double base = 0;
    for (const int turns : {20, 200, 2000}) {
        const Cost cost = costPerChange(turns, changes);
        if (turns == 20)
            base = cost.writer;
        std::printf("%5d   %20.2f   %11.2f   %19.3f   %6.3f\n", turns, cost.writer, base > 0 ? cost.writer / base : 0.0,
                    cost.incremental, cost.full);
        std::fflush(stdout);
    }
    return 0;
}
