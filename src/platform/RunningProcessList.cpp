#include "platform/RunningProcessList.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <memory>
#include <optional>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DirectoryCloser
{
    void operator()(DIR *directory) const { closedir(directory); }
};

// The whole of a small file (at most `limit` bytes), or nothing when it cannot be read.
std::optional<QByteArray> readSmallFile(int directoryFd, const char *name, qsizetype limit)
{
    const int fd = openat(directoryFd, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray content(limit, Qt::Uninitialized);
    qsizetype total = 0;
    while (total < limit) {
        const ssize_t got = ::read(fd, content.data() + total, size_t(limit - total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        total += got;
    }
    ::close(fd);
    content.truncate(total);
    return content;
}

// The parent's id from /proc/<pid>/stat. The name in parentheses may itself hold spaces and
// parentheses, so the fields are counted from the last closing one: ") <state> <ppid> ...".
std::optional<qint32> parentFromStat(const QByteArray &stat)
{
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 2)
        return std::nullopt;
    bool ok = false;
    const qint32 parent = fields.at(1).toInt(&ok);
    return ok ? std::optional<qint32>(parent) : std::nullopt;
}

QString executablePath(int directoryFd)
{
    char target[4096];
    const ssize_t length = readlinkat(directoryFd, "exe", target, sizeof target - 1);
    if (length <= 0)
        return {};
    QByteArray path(target, length);
    // An executable replaced on disk while it runs reads as "<path> (deleted)".
    static const QByteArray deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return QString::fromLocal8Bit(path);
}

// Reads what the table says of one process; nothing when it is gone or not the user's.
std::optional<RunningProcess> readProcess(int rootFd, const char *pidName, qint32 pid, uint userId, bool *isOwn)
{
    const int fd = openat(rootFd, pidName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info{};
    std::optional<RunningProcess> result;
    if (fstat(fd, &info) == 0) {
        *isOwn = info.st_uid == userId;
        const auto comm = *isOwn ? readSmallFile(fd, "comm", 64) : std::nullopt;
        const auto stat = comm ? readSmallFile(fd, "stat", 1024) : std::nullopt;
        const auto parent = stat ? parentFromStat(*stat) : std::nullopt;
        if (comm && parent) {
            RunningProcess process;
            process.processId = pid;
            process.parentProcessId = *parent;
            process.name = QString::fromUtf8(comm->endsWith('\n') ? comm->chopped(1) : *comm);
            process.executablePath = executablePath(fd);
            process.identifier = process.executablePath.mid(process.executablePath.lastIndexOf(QLatin1Char('/')) + 1);
            result = std::move(process);
        }
    }
    ::close(fd);
    return result;
}

} // namespace

RunningProcessList::RunningProcessList(QString procRoot, uint userId, int recheckEvery)
    : m_procRoot(std::move(procRoot)), m_userId(userId), m_recheckEvery(std::max(1, recheckEvery))
{
}

uint RunningProcessList::currentUserId()
{
    return uint(getuid());
}

std::vector<RunningProcess> RunningProcessList::readUserProcesses()
{
    return RunningProcessList().read();
}

std::vector<RunningProcess> RunningProcessList::readUserProcesses(const QString &procRoot, uint userId)
{
    return RunningProcessList(procRoot, userId).read();
}

std::vector<RunningProcess> RunningProcessList::read()
{
    std::vector<RunningProcess> processes;
    const QByteArray root = m_procRoot.toLocal8Bit();
    std::unique_ptr<DIR, DirectoryCloser> directory(opendir(root.constData()));
    if (!directory) {
        m_known.clear();
        return processes;
    }
    const int rootFd = dirfd(directory.get());
    const quint64 read = m_reads++;

    std::unordered_map<qint32, Known> present;
    present.reserve(m_known.size() + 16);
    while (const dirent *entry = readdir(directory.get())) {
        bool isNumber = false;
        const qint32 pid = QByteArray(entry->d_name).toInt(&isNumber);
        if (!isNumber || pid <= 0)
            continue;
        const auto known = m_known.find(pid);
        const bool due = (quint64(pid) + read) % quint64(m_recheckEvery) == 0;
        Known current;
        if (known != m_known.end() && !(due && known->second.isOwn)) {
            current = std::move(known->second);
        } else {
            const auto process = readProcess(rootFd, entry->d_name, pid, m_userId, &current.isOwn);
            if (current.isOwn && !process)
                continue; // ended while it was read
            if (process)
                current.process = *process;
        }
        if (current.isOwn)
            processes.push_back(current.process);
        present.emplace(pid, std::move(current));
    }
    m_known = std::move(present);
    std::sort(processes.begin(), processes.end(),
              [](const RunningProcess &a, const RunningProcess &b) { return a.processId < b.processId; });
    return processes;
}
