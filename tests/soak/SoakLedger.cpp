#include "soak/SoakLedger.h"

#include <QtGlobal>

SoakOptions SoakOptions::fromEnvironment()
{
    SoakOptions options;
    if (qEnvironmentVariable("KAVREL_SOAK") == QLatin1String("full")) {
        options.turns = 3000;
        options.faultRepeats = 4;
        options.secondsPerTurn = 2.4;
        options.warmupTurns = 300;
        options.aiEveryTurns = 250;
    }
    bool ok = false;
    const int turns = qEnvironmentVariableIntValue("KAVREL_SOAK_TURNS", &ok);
    if (ok && turns > 0)
        options.turns = std::max(turns, 120);
    const int repeats = qEnvironmentVariableIntValue("KAVREL_SOAK_REPEATS", &ok);
    if (ok && repeats > 0)
        options.faultRepeats = repeats;
    const QString seed = qEnvironmentVariable("KAVREL_SOAK_SEED");
    if (!seed.isEmpty())
        options.seed = seed.toUInt(&ok);
    const int leak = qEnvironmentVariableIntValue("KAVREL_SOAK_PLANTED_LEAK", &ok);
    if (ok && leak > 0)
        options.plantedLeakBytes = leak;
    options.warmupTurns = std::min(options.warmupTurns, options.turns / 3);
    options.keepGoing = qEnvironmentVariable("KAVREL_SOAK_REPORT") == QLatin1String("1");
    options.verbose = options.keepGoing || qEnvironmentVariable("KAVREL_SOAK") == QLatin1String("full");
    return options;
}

bool SoakReport::check(bool passed, const QString &what, const QString &detail, bool print)
{
    record(passed, what, detail, print || m_verbose);
    if (!passed && !m_keepGoing)
        throw SoakStopped{what + (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail)};
    return passed;
}

void SoakReport::record(bool passed, const QString &what, const QString &detail, bool print)
{
    ++m_checks;
    const QString line = (passed ? QStringLiteral("  ok    ") : QStringLiteral("  MISS  ")) + what
                         + (detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + QLatin1Char(')'));
    if (!passed)
        m_misses.append(line.trimmed());
    if (print || !passed)
        m_print(line);
}
