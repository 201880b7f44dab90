#include "platform/ProcessAudioActivity.h"

#include <unordered_map>

ProcessAudioActivity::ProcessAudioActivity(const std::vector<PulseAudioContext::SinkInput> &sinkInputs,
                                           const std::vector<RunningProcess> &processes)
{
    std::unordered_map<qint64, qint64> parents;
    parents.reserve(processes.size());
    for (const RunningProcess &process : processes)
        parents.emplace(process.processId, process.parentProcessId);

    for (const auto &input : sinkInputs) {
        if (input.corked || !input.processId || *input.processId <= 0)
            continue;
        // Walk up to the first ancestor that is not the user's (often the session manager or
        // init), or one already counted. The bound guards against a table read mid-change.
        qint64 pid = *input.processId;
        for (std::size_t step = 0; step <= processes.size() && pid > 0; ++step) {
            if (!m_playing.insert(pid).second)
                break;
            const auto parent = parents.find(pid);
            if (parent == parents.end())
                break;
            pid = parent->second;
        }
    }
}
