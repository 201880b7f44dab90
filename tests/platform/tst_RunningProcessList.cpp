#include "platform/RunningProcessList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class tst_RunningProcessList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsThisProcess();
    void readsAProcessTable();
    void aKeptListSeesChangesInTime();
};

void tst_RunningProcessList::readsThisProcess()
{
    const auto processes = RunningProcessList::readUserProcesses();
    QVERIFY(std::is_sorted(processes.begin(), processes.end(),
                           [](const auto &a, const auto &b) { return a.processId < b.processId; }));
    const auto self = std::find_if(processes.begin(), processes.end(),
                                   [](const auto &p) { return p.processId == getpid(); });
    QVERIFY(self != processes.end());
    QCOMPARE(self->parentProcessId, qint32(getppid()));
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QCOMPARE(self->identifier, executable);
    // The kernel keeps the first 15 bytes of the name.
    QCOMPARE(self->name, executable.left(15));
}

// A process table laid out like /proc, with the awkward cases.
void tst_RunningProcessList::readsAProcessTable()
{
    QTemporaryDir root;
    const auto addProcess = [&](const QString &pid, const QByteArray &comm, const QByteArray &stat, const QString &exe) {
        QDir(root.path()).mkpath(pid);
        const QString dir = root.filePath(pid);
        if (!comm.isNull()) {
            QFile file(dir + QStringLiteral("/comm"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(comm);
        }
        QFile statFile(dir + QStringLiteral("/stat"));
        QVERIFY(statFile.open(QIODevice::WriteOnly));
        statFile.write(stat);
        if (!exe.isEmpty())
            QFile::link(exe, dir + QStringLiteral("/exe"));
    };
    addProcess(QStringLiteral("812"), "zoom\n", "812 (zoom) S 40 812 812 0", QStringLiteral("/opt/zoom/zoom"));
    // A name with a space and a closing parenthesis; an executable replaced while it runs.
    addProcess(QStringLiteral("77"), "a) b\n", "77 (a) b) R 1 77 77 0", QStringLiteral("/usr/bin/webex (deleted)"));
    // No exe link (another user's process seen through a shared table): kept without identifier.
    addProcess(QStringLiteral("1000"), "CiscoCollabHost\n", "1000 (CiscoCollabHost) S 812 0", QString());
    // A process that ended between listing and reading: no comm. Not a process at all: "self".
    addProcess(QStringLiteral("90"), QByteArray(), "90 (gone) Z 1", QString());
    QDir(root.path()).mkpath(QStringLiteral("self"));

    const auto processes = RunningProcessList::readUserProcesses(root.path(), uint(getuid()));
    QCOMPARE(processes.size(), std::size_t(3));
    QCOMPARE(processes[0].processId, 77);
    QCOMPARE(processes[0].parentProcessId, 1);
    QCOMPARE(processes[0].name, QStringLiteral("a) b"));
    QCOMPARE(processes[0].identifier, QStringLiteral("webex"));
    QCOMPARE(processes[1].processId, 812);
    QCOMPARE(processes[1].parentProcessId, 40);
    QCOMPARE(processes[1].identifier, QStringLiteral("zoom"));
    QCOMPARE(processes[2].processId, 1000);
    QCOMPARE(processes[2].parentProcessId, 812);
    QCOMPARE(processes[2].name, QStringLiteral("CiscoCollabHost"));
    QCOMPARE(processes[2].identifier, QString());

    // Another user's table reads as empty.
    QVERIFY(RunningProcessList::readUserProcesses(root.path(), uint(getuid()) + 1).empty());
}

// A list kept for polling sees processes come and go at once, and a process that replaced its
// program within the recheck period.
void tst_RunningProcessList::aKeptListSeesChangesInTime()
{
    QTemporaryDir root;
    const auto write = [&](const QString &pid, const QByteArray &comm, qint32 parent) {
        QDir(root.path()).mkpath(pid);
        QFile commFile(root.filePath(pid + QStringLiteral("/comm")));
        QVERIFY(commFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        commFile.write(comm + '\n');
        QFile statFile(root.filePath(pid + QStringLiteral("/stat")));
        QVERIFY(statFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        statFile.write(pid.toUtf8() + " (" + comm + ") S " + QByteArray::number(parent) + " 0");
    };
    const auto names = [](const std::vector<RunningProcess> &processes) {
        QStringList list;
        for (const auto &p : processes)
            list.append(QString::number(p.processId) + QLatin1Char('=') + p.name);
        return list;
    };
    write(QStringLiteral("10"), "bash", 1);
    write(QStringLiteral("11"), "helper", 10);

    constexpr int recheckEvery = 4;
    RunningProcessList list(root.path(), uint(getuid()), recheckEvery);
    QCOMPARE(names(list.read()), (QStringList{u"10=bash"_qs, u"11=helper"_qs}));

    // Process 10 runs another program now; 12 starts, 11 ends.
    write(QStringLiteral("10"), "zoom", 1);
    write(QStringLiteral("12"), "new", 10);
    QDir(root.filePath(QStringLiteral("11"))).removeRecursively();
    const auto next = list.read();
    QCOMPARE(next.size(), std::size_t(2));
    QCOMPARE(next[1].name, u"new"_qs);
    bool seenExec = next[0].name == u"zoom"_qs;
    for (int i = 1; i < recheckEvery && !seenExec; ++i)
        seenExec = list.read()[0].name == u"zoom"_qs;
    QVERIFY(seenExec);
}

QTEST_GUILESS_MAIN(tst_RunningProcessList)
#include "tst_RunningProcessList.moc"
