#pragma once

#include <QString>

#include <vector>

// A process of the user, as the process table shows it.
struct RunningProcess
{
    qint32 processId = 0;
    qint32 parentProcessId = 0;
    QString name;       // the kernel's short name of the process (/proc/<pid>/comm, at most 15 bytes)
    QString identifier; // the base name of its executable; empty when it cannot be read
};

// The running processes of the current user, read from /proc.
//
// A read opens three small files per process (comm, stat and the exe link): about a
// millisecond for a few hundred processes. Code that reads periodically does so on a worker
// thread. Processes that end while the table is read are left out.
class RunningProcessList final
{
public:
    // The user's own processes in process-id order.
    static std::vector<RunningProcess> readUserProcesses();
    // The same from another process table, for the processes of the given user.
    static std::vector<RunningProcess> readUserProcesses(const QString &procRoot, uint userId);
};
