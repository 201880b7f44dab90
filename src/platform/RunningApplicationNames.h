#pragma once

#include "platform/DesktopApplications.h"
#include "platform/RunningProcessList.h"
#include "platform/X11WindowList.h"

#include <optional>
#include <unordered_map>
#include <vector>

// What the desktop calls each running process and each window's owner at one instant.
//
// The kernel's name of a process is a truncated file name ("zoom", "CiscoCollabHost"); a desktop
// names the application: a window by the desktop entry its class belongs to, a process by the
// entry of its windows, else of the program it runs. Without an entry the window's class is
// the name (as a task bar shows it), and without a window the kernel's name.
class RunningApplicationNames final
{
public:
    // Weakest first: a name from a stronger source is the better name of an application.
    enum class Source { processName, windowClass, desktopEntry };

    struct Name
    {
        QString identifier; // the desktop file id, else the executable's base name
        QString name;
        Source source = Source::processName;
    };

    // `processes` must outlive this object.
    RunningApplicationNames(const std::vector<RunningProcess> &processes,
                            const std::optional<X11WindowListSnapshot> &windows, const DesktopApplications &desktop);

    // The name from a desktop entry or a window's class; null where nothing names the process
    // but its own kernel's name (or it is not in the table).
    const Name *desktopName(qint32 processId) const;
    // The name the desktop shows for a process of the table.
    std::optional<Name> forProcess(qint32 processId) const;
    // The application a window of the list belongs to by its own class, else its process's
    // name, else its class.
    QString ownerNameOf(const X11Window &window) const;

private:
    const RunningProcess *process(qint32 processId) const;

    std::vector<const RunningProcess *> m_processes;           // by process id
    std::unordered_map<qint32, Name> m_desktopNames;
    std::unordered_map<quint32, QString> m_windowApplications; // windows whose class names an entry
};
