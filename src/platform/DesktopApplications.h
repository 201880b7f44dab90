#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// An installed application as the desktop names it.
struct DesktopApplication
{
    QString id;   // the desktop file id without ".desktop": "Zoom", "org.gnome.Calendar"
    QString name; // its Name, untranslated: the application's own name, whatever the locale
};

// The installed applications, from the desktop entries (applications/*.desktop) of the XDG data
// directories, and which of them a window or a process belongs to, the way a desktop's task bar
// decides it: a window by its class (the entry's StartupWMClass, else an entry named like the
// class), a process by the program it runs (the entry's Exec or TryExec).
//
// An entry that comes earlier in the directory order hides an entry of the same id after it, and
// one marked Hidden removes the id. A program that several entries start (an interpreter, a
// sandbox launcher) names none of them. One object is used by one thread at a time.
class DesktopApplications final
{
public:
    // The applications directories of $XDG_DATA_HOME and $XDG_DATA_DIRS, most important first.
    static QStringList standardDirectories();

    explicit DesktopApplications(QStringList directories = standardDirectories());

    // Reads the entries on the first call, and again whenever a directory changed since (an
    // application installed or removed). The check costs one stat() per directory.
    void refreshIfChanged();

    std::optional<DesktopApplication> forWindowClass(const QString &instanceName, const QString &className) const;
    // `executablePath` as the process table gives it: absolute, links resolved.
    std::optional<DesktopApplication> forExecutable(const QString &executablePath) const;

private:
    struct DirectoryState
    {
        QByteArray path;                 // as the file system takes it
        qint64 modifiedNanoseconds = -1; // -1: missing
    };

    void read();
    void readDirectory(const QString &root, const QString &directory, QHash<QString, bool> &seenIds);
    void addEntry(const QString &id, const QString &filePath);
    std::optional<DesktopApplication> at(const QHash<QString, int> &index, const QString &key) const;

    QStringList m_directories;
    bool m_read = false;
    // A directory changed just before the last read: a change in the same tick of the file
    // system's clock would leave its time as it was, so it is read again until it settles.
    bool m_unsettled = false;
    std::vector<DirectoryState> m_states; // every directory read, subdirectories included
    std::vector<DesktopApplication> m_applications;
    QHash<QString, int> m_byStartupClass;  // exact
    QHash<QString, int> m_byLowerCaseId;
    QHash<QString, int> m_byProgramPath;   // -1 where several entries share the program
    QHash<QString, int> m_byProgramName;   // programs named without a path and not found on $PATH
};
