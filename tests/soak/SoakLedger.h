#pragma once

// What the soak run did, as the run itself wrote it down while it drove the engine: the
// meetings (conversations) with the turns spoken into each, the listening stretches with
// their times and audio, and the misses found. The checks at the end compare the engine's
// state and the fake backend's records against this.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

struct SoakOptions
{
    int turns = 300;
    // How often each fault that can happen more than once happens.
    int faultRepeats = 1;
    quint32 seed = 20261207;
    // Audio per turn (the full run's 2.4 s make 3,000 turns two hours of speech).
    double secondsPerTurn = 1.2;
    // The first memory figure is taken after these turns.
    int warmupTurns = 100;
    // A summary, protocol or answer is asked every this many turns.
    int aiEveryTurns = 100;
    // Go on after a miss and report every one (instead of stopping at the first).
    bool keepGoing = false;
    // Print every check, not only the misses.
    bool verbose = false;
    // Memory the run itself takes with every turn and keeps to the end, as a leak would: the
    // memory checks must find it (KAVREL_SOAK_PLANTED_LEAK, bytes a turn).
    int plantedLeakBytes = 0;

    // The short run, changed by KAVREL_SOAK=full (3,000 turns of 2.4 s, each fault four times),
    // KAVREL_SOAK_TURNS, KAVREL_SOAK_REPEATS, KAVREL_SOAK_SEED, KAVREL_SOAK_REPORT=1 and
    // KAVREL_SOAK_PLANTED_LEAK.
    static SoakOptions fromEnvironment();
};

struct SoakMeeting
{
    // The history record's clientSessionId, which names the conversation on the server.
    QString clientSessionID;
    // The tags (#n#, as numbers) of the closed turns the conversation holds, in order (restored
    // ones too).
    QList<int> tags;
    // Where its last stop put its end.
    QDateTime stoppedAt;
    // The tags of the turns whose translation was still on its way when Start New ended the
    // meeting: it stays out of the finished meeting unless it came in before the stop let go
    // of it.
    QList<int> translationsInFlight;
};

struct SoakStretch
{
    // Index into the meetings.
    int meeting = 0;
    QDateTime startedAt;
    QDateTime stoppedAt;
    qint64 audioSamples = 0; // 16 kHz mono, as fed to the mixer
    QString recordingPath;
};

struct SoakLedger
{
    std::vector<SoakMeeting> meetings;
    std::vector<SoakStretch> stretches;
    QStringList faults; // "turn 123: speech relay dropped", in order
};

// Collects the outcome of every check; a miss stops the run unless it keeps going.
class SoakReport
{
public:
    using Printer = std::function<void(const QString &)>;

    SoakReport(bool keepGoing, bool verbose, Printer printer)
        : m_keepGoing(keepGoing)
        , m_verbose(verbose)
        , m_print(std::move(printer))
    {
    }

    // Returns the outcome. A miss throws SoakStopped unless the run keeps going. Passed checks
    // are printed in a verbose run, or always when asked.
    bool check(bool passed, const QString &what, const QString &detail = QString(), bool print = false);
    void note(const QString &line) { m_print(line); }

    QStringList misses() const { return m_misses; }
    int checkCount() const { return m_checks; }

private:
    void record(bool passed, const QString &what, const QString &detail, bool print);

    bool m_keepGoing;
    bool m_verbose;
    Printer m_print;
    QStringList m_misses;
    int m_checks = 0;
};

// Thrown by SoakReport::check() to end a run at its first miss.
struct SoakStopped
{
    QString miss;
};
