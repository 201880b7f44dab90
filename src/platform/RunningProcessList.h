#pragma once

#include <QString>

#include <unordered_map>
#include <vector>

// A process of the user, as the process table shows it.
struct RunningProcess
{
    qint32 processId = 0;
    qint32 parentProcessId = 0;
    QString name;       // the kernel's short name of the process (/proc/<pid>/comm, at most 15 bytes)
    QString identifier; // the base name of its executable; empty when it cannot be read
    QString executablePath; // the executable the process runs (/proc/<pid>/exe); empty when it cannot be read
};

// The running processes of the current user, read from /proc.
//
// A full read opens three small files per process (comm, stat and the exe link). A list kept
// for repeated reads (a poll) reads them only for processes it has not seen before, and checks
// each known process again once every `recheckEvery` reads, spread over the reads: a process
// that replaces its program (exec) shows its new name within that many reads; processes that
// start or end show at once. One object is used by one thread at a time; code that reads
// periodically does so on a worker thread.
class RunningProcessList final
{
public:
    explicit RunningProcessList(QString procRoot = QStringLiteral("/proc"), uint userId = currentUserId(),
                                int recheckEvery = 15);

    // The user's own processes in process-id order.
    std::vector<RunningProcess> read();

    // One full read of the user's own processes, in process-id order.
    static std::vector<RunningProcess> readUserProcesses();
    // The same from another process table, for the processes of the given user.
    static std::vector<RunningProcess> readUserProcesses(const QString &procRoot, uint userId);

    static uint currentUserId();

private:
    struct Known
    {
        bool isOwn = false; // another user's process is remembered only to skip it
        RunningProcess process;
    };

    QString m_procRoot;
    uint m_userId;
    int m_recheckEvery;
    quint64 m_reads = 0;
    std::unordered_map<qint32, Known> m_known;
};
