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

QString executableBaseName(int directoryFd)
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
    return QString::fromLocal8Bit(path.mid(path.lastIndexOf('/') + 1));
}

} // namespace

std::vector<RunningProcess> RunningProcessList::readUserProcesses()
{
    return readUserProcesses(QStringLiteral("/proc"), uint(getuid()));
}

std::vector<RunningProcess> RunningProcessList::readUserProcesses(const QString &procRoot, uint userId)
{
    std::vector<RunningProcess> processes;
    const QByteArray root = procRoot.toLocal8Bit();
    std::unique_ptr<DIR, DirectoryCloser> directory(opendir(root.constData()));
    if (!directory)
        return processes;
    const int rootFd = dirfd(directory.get());

    while (const dirent *entry = readdir(directory.get())) {
        bool isNumber = false;
        const qint32 pid = QByteArray(entry->d_name).toInt(&isNumber);
        if (!isNumber || pid <= 0)
            continue;
        const int fd = openat(rootFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info{};
        if (fstat(fd, &info) != 0 || info.st_uid != userId) {
            ::close(fd);
            continue;
        }
        const auto comm = readSmallFile(fd, "comm", 64);
        const auto stat = readSmallFile(fd, "stat", 1024);
        const auto parent = stat ? parentFromStat(*stat) : std::nullopt;
        if (comm && parent) {
            RunningProcess process;
            process.processId = pid;
            process.parentProcessId = *parent;
            process.name = QString::fromUtf8(comm->endsWith('\n') ? comm->chopped(1) : *comm);
            process.identifier = executableBaseName(fd);
            processes.push_back(std::move(process));
        }
        ::close(fd);
    }
    std::sort(processes.begin(), processes.end(),
              [](const RunningProcess &a, const RunningProcess &b) { return a.processId < b.processId; });
    return processes;
}
