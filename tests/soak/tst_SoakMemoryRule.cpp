// The soak's memory check against a leak: the short soak runs with memory taken and kept at
// every turn, as a leak would, and the check must find it, while every other check still holds.
// The short run has 200 turns after the warm-up and the check allows 30 % over the warm-up's
// figure, so the leak planted here is larger than one the full run finds (a few KB a turn over
// 2,700 turns: KAVREL_SOAK=full KAVREL_SOAK_PLANTED_LEAK=2048).

#include "soak/MeetingSoak.h"

#include <QTest>

#include <cstdio>

class tst_SoakMemoryRule final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plantedLeakIsFound();
};

void tst_SoakMemoryRule::plantedLeakIsFound()
{
    SoakOptions options;
    options.plantedLeakBytes = 16 * 1024;
    options.keepGoing = true;
    QStringList lines;
    MeetingSoak soak(options, [&lines](const QString &line) {
        lines.append(line);
        std::fprintf(stdout, "%s\n", qPrintable(line));
        std::fflush(stdout);
    });
    soak.run();
    const QStringList misses = soak.report().misses();
    const QString report = misses.join(QLatin1Char('\n'));
    QVERIFY2(lines.filter(QStringLiteral("soak stopped")).isEmpty(), qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY2(!misses.filter(QStringLiteral("live heap after the last turn")).isEmpty(),
             qPrintable(QStringLiteral("the leak went unseen; misses:\n") + report));
    // The leak is all that is wrong: the heap, and outside the sanitizer the resident set too.
    for (const QString &miss : misses) {
        QVERIFY2(miss.contains(QStringLiteral("live heap after the last turn"))
                     || miss.contains(QStringLiteral("resident set after the last turn")),
                 qPrintable(QStringLiteral("another check missed:\n") + report));
    }
}

QTEST_GUILESS_MAIN(tst_SoakMemoryRule)
#include "tst_SoakMemoryRule.moc"
