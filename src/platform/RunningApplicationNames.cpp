#include "platform/RunningApplicationNames.h"

#include <algorithm>

RunningApplicationNames::RunningApplicationNames(const std::vector<RunningProcess> &processes,
                                                 const std::optional<X11WindowListSnapshot> &windows,
                                                 const DesktopApplications &desktop)
{
    // Front to back: the frontmost window of a process that says something speaks for it.
    std::unordered_map<qint32, DesktopApplication> windowEntries;
    std::unordered_map<qint32, QString> windowClasses;
    if (windows) {
        for (const X11Window &window : windows->windows) {
            const auto application = desktop.forWindowClass(window.instanceName, window.className);
            if (application)
                m_windowApplications.emplace(window.id, application->name);
            if (!window.processId)
                continue;
            const qint32 processId = qint32(*window.processId);
            if (application)
                windowEntries.emplace(processId, *application);
            if (!window.className.isEmpty())
                windowClasses.emplace(processId, window.className);
        }
    }

    // Every scan names every process: only the few the desktop knows get an entry of their own.
    m_processes.reserve(processes.size());
    for (const RunningProcess &process : processes) {
        m_processes.push_back(&process);
        if (const auto application = desktop.forExecutable(process.executablePath))
            m_desktopNames.emplace(process.processId, Name{application->id, application->name, Source::desktopEntry});
    }
    // The process list comes in process order already; a table from elsewhere may not.
    const auto byId = [](const RunningProcess *a, const RunningProcess *b) { return a->processId < b->processId; };
    if (!std::is_sorted(m_processes.begin(), m_processes.end(), byId))
        std::sort(m_processes.begin(), m_processes.end(), byId);

    // A window's entry names its process before the program's entry does; its class only
    // where no entry names it.
    for (const auto &[processId, application] : windowEntries) {
        if (process(processId))
            m_desktopNames.insert_or_assign(processId, Name{application.id, application.name, Source::desktopEntry});
    }
    for (const auto &[processId, className] : windowClasses) {
        if (const RunningProcess *own = process(processId); own && !m_desktopNames.count(processId))
            m_desktopNames.emplace(processId, Name{own->identifier, className, Source::windowClass});
    }
}

const RunningApplicationNames::Name *RunningApplicationNames::desktopName(qint32 processId) const
{
    const auto found = m_desktopNames.find(processId);
    return found != m_desktopNames.end() ? &found->second : nullptr;
}

std::optional<RunningApplicationNames::Name> RunningApplicationNames::forProcess(qint32 processId) const
{
    if (const Name *name = desktopName(processId))
        return *name;
    if (const RunningProcess *own = process(processId))
        return Name{own->identifier, own->name, Source::processName};
    return std::nullopt;
}

const RunningProcess *RunningApplicationNames::process(qint32 processId) const
{
    const auto found = std::lower_bound(m_processes.begin(), m_processes.end(), processId,
                                        [](const RunningProcess *process, qint32 id) { return process->processId < id; });
    return found != m_processes.end() && (*found)->processId == processId ? *found : nullptr;
}

QString RunningApplicationNames::ownerNameOf(const X11Window &window) const
{
    if (const auto application = m_windowApplications.find(window.id); application != m_windowApplications.end())
        return application->second;
    if (window.processId) {
        if (const Name *name = desktopName(qint32(*window.processId)))
            return name->name;
        if (const RunningProcess *own = process(qint32(*window.processId)))
            return own->name;
    }
    return window.className;
}
