#include "platform/RunningApplicationNames.h"

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

    m_byProcess.reserve(processes.size());
    for (const RunningProcess &process : processes) {
        Name name{process.identifier, process.name, Source::processName};
        const auto entry = windowEntries.find(process.processId);
        std::optional<DesktopApplication> application;
        if (entry != windowEntries.end())
            application = entry->second;
        else
            application = desktop.forExecutable(process.executablePath);
        if (application) {
            name = Name{application->id, application->name, Source::desktopEntry};
        } else if (const auto windowClass = windowClasses.find(process.processId); windowClass != windowClasses.end()) {
            name.name = windowClass->second;
            name.source = Source::windowClass;
        }
        m_byProcess.emplace(process.processId, std::move(name));
    }
}

const RunningApplicationNames::Name *RunningApplicationNames::forProcess(qint32 processId) const
{
    const auto found = m_byProcess.find(processId);
    return found != m_byProcess.end() ? &found->second : nullptr;
}

QString RunningApplicationNames::ownerNameOf(const X11Window &window) const
{
    if (const auto application = m_windowApplications.find(window.id); application != m_windowApplications.end())
        return application->second;
    if (window.processId) {
        if (const Name *name = forProcess(qint32(*window.processId)))
            return name->name;
    }
    return window.className;
}
