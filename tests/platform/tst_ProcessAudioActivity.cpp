// Process audio activity from the sink inputs of the PulseAudio layer: the rules on a table,
// then a child process playing into the private PulseAudio of scripts/test.

#include "platform/ProcessAudioActivity.h"
#include "support/TestChildProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <unistd.h>

class tst_ProcessAudioActivity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void countsDescendantsForTheirAncestors_data();
    void countsDescendantsForTheirAncestors();
    void aChildPlayingIntoPulseAudioCountsForItsParent();
};

namespace {
PulseAudioContext::SinkInput input(std::optional<qint64> pid, bool corked = false)
{
    PulseAudioContext::SinkInput sinkInput;
    sinkInput.processId = pid;
    sinkInput.corked = corked;
    return sinkInput;
}

// 1 ─ 100 (zoom) ─ 110 (helper) ─ 111 (audio helper);  1 ─ 200 (browser)
const std::vector<RunningProcess> table{
    {1, 0, QStringLiteral("systemd"), QStringLiteral("systemd")},
    {100, 1, QStringLiteral("zoom"), QStringLiteral("zoom")},
    {110, 100, QStringLiteral("helper"), QStringLiteral("helper")},
    {111, 110, QStringLiteral("audio"), QStringLiteral("audio")},
    {200, 1, QStringLiteral("firefox"), QStringLiteral("firefox")},
};
} // namespace

void tst_ProcessAudioActivity::countsDescendantsForTheirAncestors_data()
{
    QTest::addColumn<std::vector<PulseAudioContext::SinkInput>>("inputs");
    QTest::addColumn<QList<qint64>>("playing");
    QTest::addColumn<QList<qint64>>("silent");

    QTest::newRow("own stream") << std::vector{input(100)} << QList<qint64>{100} << QList<qint64>{110, 200};
    QTest::newRow("grandchild counts for the app") << std::vector{input(111)} << QList<qint64>{111, 110, 100}
                                                   << QList<qint64>{200};
    QTest::newRow("corked is silent") << std::vector{input(100, true), input(111, true)} << QList<qint64>{}
                                      << QList<qint64>{100, 110, 111};
    QTest::newRow("a sibling's audio is not the app's") << std::vector{input(200)} << QList<qint64>{200}
                                                        << QList<qint64>{100, 110};
    QTest::newRow("no process id, or an unknown one") << std::vector{input(std::nullopt), input(0), input(4242)}
                                                      << QList<qint64>{4242} << QList<qint64>{0, 100};
}

void tst_ProcessAudioActivity::countsDescendantsForTheirAncestors()
{
    QFETCH(std::vector<PulseAudioContext::SinkInput>, inputs);
    QFETCH(QList<qint64>, playing);
    QFETCH(QList<qint64>, silent);
    const ProcessAudioActivity activity(inputs, table);
    for (const qint64 pid : playing)
        QVERIFY2(activity.isRunningOutput(pid), qPrintable(QString::number(pid)));
    for (const qint64 pid : silent)
        QVERIFY2(!activity.isRunningOutput(pid), qPrintable(QString::number(pid)));
}

void tst_ProcessAudioActivity::aChildPlayingIntoPulseAudioCountsForItsParent()
{
    if (qEnvironmentVariableIsEmpty("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: run under scripts/test to get a private PulseAudio");

    const auto context = PulseAudioContext::shared();
    auto player = TestChildProcess::start(QStringLiteral("pulse-player"), {});
    QVERIFY(player);
    const qint64 childPid = player->processId();

    // The cache follows the server by subscription; wait until it shows the state asked for.
    const auto waitFor = [&](bool expected) {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            const ProcessAudioActivity activity(context->sinkInputs(), RunningProcessList::readUserProcesses());
            if (activity.isRunningOutput(childPid) == expected && activity.isRunningOutput(getpid()) == expected)
                return true;
            QTest::qWait(20);
        }
        return false;
    };
    QVERIFY(waitFor(true));
    QVERIFY(TestChildProcess::command(*player, "cork", "corked"));
    QVERIFY(waitFor(false));
    QVERIFY(TestChildProcess::command(*player, "uncork", "uncorked"));
    QVERIFY(waitFor(true));
    TestChildProcess::finish(*player);
    QVERIFY(waitFor(false));
}

KAVREL_TEST_MAIN_WITH_CHILDREN(tst_ProcessAudioActivity, QCoreApplication)
#include "tst_ProcessAudioActivity.moc"
