// A meeting of a few hundred turns with every fault once, through the whole engine against the
// fake backend, checked end to end (see soak/MeetingSoak.h). The same executable runs the full
// two-hour soak:
//
//   KAVREL_SOAK=full QTEST_FUNCTION_TIMEOUT=3600000 scripts/with-test-services build-release/tests/soak_tst_MeetingSoak
//
// KAVREL_SOAK_SEED replays a run, KAVREL_SOAK_TURNS and KAVREL_SOAK_REPEATS change its length and
// faults, and KAVREL_SOAK_REPORT=1 goes on past the first miss to report every one.

#include "soak/MeetingSoak.h"

#include <QTest>

#include <cstdio>

class tst_MeetingSoak final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void meetingUnderFaultsLosesNothing();
};

void tst_MeetingSoak::meetingUnderFaultsLosesNothing()
{
    const SoakOptions options = SoakOptions::fromEnvironment();
    MeetingSoak soak(options, [](const QString &line) {
        std::fprintf(stdout, "%s\n", qPrintable(line));
        std::fflush(stdout);
    });
    soak.run();
    const QStringList misses = soak.report().misses();
    QVERIFY2(misses.isEmpty(), qPrintable(QStringLiteral("%1 miss(es), seed %2:\n").arg(misses.size()).arg(options.seed)
                                          + misses.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(tst_MeetingSoak)
#include "tst_MeetingSoak.moc"
