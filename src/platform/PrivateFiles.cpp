#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t privateFile = S_IRUSR | S_IWUSR;
constexpr mode_t privateFolder = S_IRWXU;
constexpr mode_t othersRights = S_IRWXG | S_IRWXO;

// The file a path names at the end of its symbolic links, as QSaveFile finds it: replacing the
// link itself would cut the user's link to where they keep the file.
QString linkTarget(const QString &path)
{
    QFileInfo file(path);
    for (int depth = 0; depth < 128 && file.isSymLink(); ++depth)
        file.setFile(file.symLinkTarget());
    return file.isSymLink() ? path : file.filePath();
}

bool writeAll(int descriptor, QByteArrayView bytes)
{
    // A full disk takes part of the bytes without an error: only all of them count.
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(descriptor, bytes.data() + written, std::size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        written += qsizetype(count);
    }
    return true;
}

// Links an unnamed file (O_TMPFILE) into its folder under a free name beside `name`, which the
// rename then puts in its place: a file cannot be linked over another.
bool nameBeside(int descriptor, const QByteArray &name, QByteArray &temporary)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const QByteArray source = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(descriptor);
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = name + '.';
        for (int i = 0; i < 6; ++i)
            candidate += letters[QRandomGenerator::global()->bounded(int(sizeof(letters) - 1))];
        if (::linkat(AT_FDCWD, source.constData(), AT_FDCWD, candidate.constData(), AT_SYMLINK_FOLLOW) == 0) {
            temporary = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

} // namespace

namespace PrivateFiles {

bool makeFolder(const QString &folder)
{
    const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    QStringList missing;
    for (QString current = path; !QFileInfo::exists(current);) {
        missing.prepend(current);
        const QString parent = QFileInfo(current).path();
        if (parent == current)
            break;
        current = parent;
    }
    for (const QString &each : std::as_const(missing)) {
        const QByteArray name = QFile::encodeName(each);
        if (::mkdir(name.constData(), privateFolder) == 0) {
            // The umask may have taken the user's own rights too; nothing is in it yet.
            ::chmod(name.constData(), privateFolder);
        } else if (errno != EEXIST) {
            return false;
        }
    }
    tighten(path);
    return QFileInfo(path).isDir();
}

bool replace(const QString &path, QByteArrayView bytes)
{
    const QString target = linkTarget(path);
    const QByteArray name = QFile::encodeName(target);
    if (::access(name.constData(), F_OK) == 0) {
        // Tightened even when the write fails below (a full disk): what it holds already is
        // private from now on.
        tighten(target);
        // A file made read-only is left as it is, as QSettings leaves it.
        if (::access(name.constData(), W_OK) != 0)
            return false;
    }
    // Unnamed while the bytes go in, where the file system can: a crash leaves nothing behind.
    const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
    int descriptor = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, privateFile);
    QByteArray temporary;
    if (descriptor < 0) {
        // mkostemp makes it 0600 (less what the umask takes): what a crash leaves of it is the
        // user's alone too.
        temporary = name + QByteArrayLiteral(".XXXXXX");
        descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (descriptor < 0)
            return false;
    }
    // Exactly 0600 whatever the umask took, so that the next writer (QSettings among them) may
    // write it; no byte is in it yet.
    bool written = ::fchmod(descriptor, privateFile) == 0 && writeAll(descriptor, bytes) && ::fsync(descriptor) == 0
                   && (!temporary.isEmpty() || nameBeside(descriptor, name, temporary));
    written = ::close(descriptor) == 0 && written;
    if (!written || ::rename(temporary.constData(), name.constData()) != 0) {
        if (!temporary.isEmpty())
            ::unlink(temporary.constData());
        return false;
    }
    // The rename is only as durable as the folder that records it.
    syncFolderOf(target);
    return true;
}

int open(const QString &path, int flags)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), flags | O_CREAT | O_CLOEXEC, privateFile);
    if (descriptor < 0)
        return -1;
    struct stat status = {};
    if (::fstat(descriptor, &status) == 0 && (status.st_mode & 07777) != privateFile)
        ::fchmod(descriptor, privateFile);
    return descriptor;
}

bool tighten(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    if (::stat(name.constData(), &status) != 0)
        return false;
    if ((status.st_mode & othersRights) == 0)
        return true;
    return ::chmod(name.constData(), status.st_mode & S_IRWXU) == 0;
}

bool syncFolderOf(const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int descriptor = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool synced = ::fsync(descriptor) == 0;
    ::close(descriptor);
    return synced;
}

} // namespace PrivateFiles
