#pragma once

#include "platform/PulseAudioContext.h"
#include "platform/RunningProcessList.h"

#include <set>
#include <vector>

// Which processes play audio at one instant: the owners of uncorked PulseAudio sink inputs
// (application.process.id), counted for every ancestor too, so that an application whose
// audio runs in a helper process it started reads as playing.
//
// Built from the sink inputs the PulseAudio layer keeps in its cache, without a call to the
// server. A sink input without a process id, or whose process id lies in another process
// namespace (a sandboxed application), is counted for no process of ours but its own id.
class ProcessAudioActivity final
{
public:
    ProcessAudioActivity(const std::vector<PulseAudioContext::SinkInput> &sinkInputs,
                         const std::vector<RunningProcess> &processes);

    bool isRunningOutput(qint64 processId) const { return m_playing.count(processId) != 0; }

private:
    std::set<qint64> m_playing;
};
