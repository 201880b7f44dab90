#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <utility>

// Tells when each piece of a record stream's audio was captured, from when the pieces were read.
// A read held up (a busy machine) finds several pieces at once, and more wait in the socket: each
// is as old as the audio since the last piece that came on time says, not as new as the read.
// A device's clock never runs at exactly its nominal rate, though: a slow one's audio comes ever
// later than its nominal duration says, a fast one's ever sooner. So the times follow the
// arrivals slowly (over followTime), and at once where audio comes sooner than they say.
//
// Touched by one thread at a time (the audio server's, under its lock).
class AudioArrivalClock final
{
public:
    using Clock = std::chrono::steady_clock;

    // Longer than any read is held up: a stream that brought nothing for that long had a gap,
    // and its times start afresh.
    static constexpr std::chrono::seconds longestHeldUpRead{1};
    // How slowly the times give way to later arrivals: slow enough that a read held up for the
    // longest while moves them by a few tens of milliseconds, fast enough that a device 0.5 %
    // slow stays within 50 ms of its arrivals.
    static constexpr std::chrono::seconds followTime{10};

    // Starts afresh for a stream of this many bytes a second (0: every piece is as new as its
    // read).
    void reset(std::size_t bytesPerSecond);
    // A read begins at `readAt` with `pendingBytes` come and not yet handed on.
    void startRead(Clock::time_point readAt, std::size_t pendingBytes);
    // When the last of the next `bytes` handed on was captured. What is handed on after the read
    // (the rest of it, at a release) takes the time of that read.
    Clock::time_point handOn(std::size_t bytes);

private:
    Clock::duration durationOf(std::size_t bytes) const;

    std::size_t m_bytesPerSecond = 0;
    Clock::time_point m_readAt;
    std::size_t m_unsentBytes = 0;
    // The audio handed on so far, and the time of the latest piece with how much had been
    // handed on by then.
    std::size_t m_handedBytes = 0;
    std::optional<std::pair<Clock::time_point, std::size_t>> m_onTime;
};
