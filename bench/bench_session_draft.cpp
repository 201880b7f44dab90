// Measures what one change of the session costs the session draft at 20, 200 and 2,000 turns:
// on the main thread, handing what changed to the writer; on the writer's worker, encoding it,
// judging it and writing it to the settings file (and the main thread's share of the write:
// readers told of the new value). The cost per change at 2,000 turns is reported against the
// cost at 20 in the same run (target: at most 1.5 times), beside the baseline of the same run:
// what encoding the whole draft once costs, as every change did before the draft was written
// by its edits; what the first write (the whole value encoded and written, as when the journal is
// folded) costs; and what a copy of the whole draft costs the main thread, as every hand-over did
// before only what changed was handed over.
//
// The session runs through the real turn store, published transcript and draft store. A change
// is what a meeting makes: mostly the open turn growing by a word (a final result that does not
// end the speech), every fourth one the end of the speech, which closes the turn, and its
// translation. Each change waits, untimed, until its draft has been written, so no write is
// merged into the next one. At the end the stored draft is read back by a fresh settings object
// over a copy of the files (what a restart after a crash would read) and compared with a full
// encoding of the session.
//
// Usage: bench_session_draft [--changes N]

#include "BenchTurns.h"
#include "platform/UserDefaults.h"
#include "session/PublishedTranscript.h"
#include "session/SessionDraftStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
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

const QString draftKey = QString::fromLatin1(SessionDraftStore::defaultsKey);

struct Cost
{
    double handOver = 0; // CPU ms per change on the main thread, making the change
    double writer = 0; // CPU ms per change on every thread while it is written
    double wholeEncoding = 0; // CPU ms of one full encoding of the final session
    double wholeWrite = 0; // CPU ms of the first write, which encodes and writes the whole value
    double wholeCopy = 0; // CPU ms of a copy of the whole draft, the hand-over before (and its end)
    qsizetype journalBytes = 0;
    qsizetype valueBytes = 0;
    bool readBack = false;
};

Cost costPerChange(int turnCount, int changes)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("preferences.ini"));
    Cost cost;
    {
        UserDefaults defaults(path);
        const QDateTime start(QDate(2026, 3, 5), QTime(9, 0), Qt::UTC);
        int clockTick = 0;
        SessionTurnStore turns([&] { return start.addSecs(turnCount + clockTick++); });
        PublishedTranscript published(&turns);
        SessionDraftStore store(defaults, &turns, &published);
        store.setPanelTextAccess([] { return AIPanelTexts{QStringLiteral("The team moves the release to Thursday."), {}, {}, {}, {}, {}}; },
                                 [](const AIPanelTexts &) {});
        std::vector<SessionTurn> closed;
        for (int i = 0; i < turnCount - 1; ++i)
            closed.push_back(BenchTurns::closedTurn(i, start, 7));
        turns.replaceAll(std::move(closed));
        turns.applyFinalTranscript(QStringLiteral("And"), false);

        QEventLoop loop;
        QObject::connect(&store, &SessionDraftStore::draftWritten, &loop, &QEventLoop::quit);
        const auto waitForWrite = [&] {
            QTimer::singleShot(20000, &loop, &QEventLoop::quit);
            loop.exec();
        };
        const double firstBefore = cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID);
        store.persistDraftInBackground();
        waitForWrite(); // the first write encodes every turn and writes the whole value
        cost.wholeWrite = cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID) - firstBefore;

        QString spoken = QStringLiteral("And");
        int finals = 0;
        for (int i = 0; i < changes; ++i) {
            if (i % 4 == 3) {
                turns.applyFinalTranscript(spoken + QStringLiteral(" done."), true);
                turns.setTranslationText(turns.count() - 1, QStringLiteral("Новый итог номер %1 о бюджете.").arg(++finals));
                spoken = QStringLiteral("And");
            } else {
                spoken += QStringLiteral(" word");
                turns.applyFinalTranscript(spoken, false);
            }
            const double processBefore = cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID);
            const double mainBefore = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
            store.persistDraftInBackground();
            cost.handOver += cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - mainBefore;
            waitForWrite();
            cost.writer += cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
        }
        cost.handOver /= changes;
        cost.writer /= changes;

        double before = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
        for (int i = 0; i < 10; ++i)
            (void)store.makeSessionDraft();
        cost.wholeCopy = (cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - before) / 10;
        const SessionDraft draft = store.makeSessionDraft();
        before = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
        const QByteArray expected = draft.toJson();
        cost.wholeEncoding = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - before;
        cost.valueBytes = expected.size();
        cost.journalBytes = QFile(path + QStringLiteral(".journal")).size();

        // The files as a crash would leave them, read by a settings object of their own.
        QDir().mkpath(directory.filePath(QStringLiteral("copy")));
        const QString copy = directory.filePath(QStringLiteral("copy/preferences.ini"));
        QFile::copy(path, copy);
        QFile::copy(path + QStringLiteral(".journal"), copy + QStringLiteral(".journal"));
        const UserDefaults fresh(copy);
        cost.readBack = fresh.dataValue(draftKey) == expected;
    }
    return cost;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    int changes = 200;
    const QStringList arguments = application.arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--changes"))
            changes = std::max(4, arguments[i + 1].toInt());
    }
    std::printf("turns   hand-over ms   writer ms   per change ms   ratio to 20   whole write ms   whole encoding ms   whole copy ms   value KB   journal KB\n");
    double base = 0;
    bool readBack = true;
    for (const int turns : {20, 200, 2000}) {
        const Cost cost = costPerChange(turns, changes);
        const double perChange = cost.handOver + cost.writer;
        if (turns == 20)
            base = perChange;
        readBack = readBack && cost.readBack;
        std::printf("%5d   %12.3f   %9.3f   %13.3f   %11.2f   %14.2f   %17.3f   %13.3f   %8.0f   %10.0f\n", turns,
                    cost.handOver, cost.writer, perChange, base > 0 ? perChange / base : 0.0, cost.wholeWrite,
                    cost.wholeEncoding, cost.wholeCopy,
                    double(cost.valueBytes) / 1024, double(cost.journalBytes) / 1024);
        std::fflush(stdout);
    }
    std::printf("read back after a crash: %s\n", readBack ? "the last draft written" : "DIFFERENT");
    return readBack ? 0 : 1;
}
