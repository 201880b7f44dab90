#pragma once

#include <QFile>
#include <QString>

#include <sys/stat.h>

// While it lives, this process (and a child it starts) makes files under the given umask.
class Umask final
{
public:
    explicit Umask(mode_t mask) : m_old(::umask(mask)) {}
    ~Umask() { ::umask(m_old); }
    Umask(const Umask &) = delete;
    Umask &operator=(const Umask &) = delete;

    // The permission bits of what the path names (following a symbolic link), or -1 when it
    // names nothing.
    static int modeOf(const QString &path)
    {
        struct stat status = {};
        if (::stat(QFile::encodeName(path).constData(), &status) != 0)
            return -1;
        return int(status.st_mode & 07777);
    }

private:
    mode_t m_old;
};
