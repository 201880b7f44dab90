#include "platform/AudioArrivalClock.h"

#include <algorithm>

void AudioArrivalClock::reset(std::size_t bytesPerSecond)
{
    m_bytesPerSecond = bytesPerSecond;
    m_unsentBytes = 0;
    m_handedBytes = 0;
    m_onTime.reset();
}

void AudioArrivalClock::startRead(Clock::time_point readAt, std::size_t pendingBytes)
{
    m_readAt = readAt;
    m_unsentBytes = pendingBytes;
}

AudioArrivalClock::Clock::duration AudioArrivalClock::durationOf(std::size_t bytes) const
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(std::chrono::nanoseconds::rep(double(bytes) * 1e9 / double(m_bytesPerSecond))));
}

AudioArrivalClock::Clock::time_point AudioArrivalClock::handOn(std::size_t bytes)
{
    m_unsentBytes -= std::min(m_unsentBytes, bytes);
    m_handedBytes += bytes;
    if (m_bytesPerSecond == 0)
        return m_readAt;
    const Clock::time_point arrival = m_readAt - durationOf(m_unsentBytes);
    Clock::time_point time = arrival;
    if (m_onTime) {
        const Clock::time_point expected = m_onTime->first + durationOf(m_handedBytes - m_onTime->second);
        const Clock::duration late = arrival - expected;
        // A piece later than expected was held up, or its device runs slow: the time moves
        // toward its arrival by the share of followTime the piece lasts.
        if (late > Clock::duration::zero() && late < longestHeldUpRead) {
            const double share = std::min(1.0, double(durationOf(bytes).count()) / double(Clock::duration(followTime).count()));
            time = expected + std::chrono::duration_cast<Clock::duration>(late * share);
        }
    }
    m_onTime.emplace(time, m_handedBytes);
    return time;
}
