#include "platform/AudioArrivalClock.h"

#include <algorithm>
#include <charconv>

#include <fcntl.h>
#include <unistd.h>

void AudioArrivalClock::reset(std::size_t bytesPerSecond)
{
    m_bytesPerSecond = bytesPerSecond;
    m_previousReadAt.reset();
    m_previousBusy.reset();
    m_unsentBytes = 0;
    m_handedBytes = 0;
    m_onTime.reset();
    m_waitedSinceHandOn = false;
    m_readWaited = false;
    m_idleSinceHandOn = false;
    m_readIdle = false;
    m_handedThisRead = false;
    m_waitedReads = 0;
    m_lateAtFirstWait.reset();
    m_busyKnown = false;
    forgetSpans();
    m_inBacklog = false;
    m_gap = false;
}

void AudioArrivalClock::forgetSpans()
{
    m_spanLowest.reset();
    m_previousSpanLowest.reset();
    m_agreeingSpans = 0;
}

std::optional<AudioArrivalClock::Clock::duration> AudioArrivalClock::threadBusyTime()
{
    // The scheduler's figures for this thread: nanoseconds on a processor, nanoseconds runnable
    // and waiting for one, time slices. Read on the audio server's thread: nothing allocated.
    const int file = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return std::nullopt;
    char text[96];
    const ssize_t length = ::read(file, text, sizeof text);
    ::close(file);
    if (length <= 0)
        return std::nullopt;
    const char *end = text + length;
    unsigned long long onProcessor = 0;
    unsigned long long runnable = 0;
    const auto first = std::from_chars(text, end, onProcessor);
    if (first.ec != std::errc() || first.ptr == end || *first.ptr != ' ')
        return std::nullopt;
    if (std::from_chars(first.ptr + 1, end, runnable).ec != std::errc())
        return std::nullopt;
    return std::chrono::nanoseconds(std::chrono::nanoseconds::rep(onProcessor + runnable));
}

void AudioArrivalClock::startRead(Clock::time_point readAt, std::size_t pendingBytes,
                                  std::optional<Clock::duration> readerBusy)
{
    // How long of the time since the last read the reader was kept from reading.
    Clock::duration busy = Clock::duration::zero();
    if (readerBusy && m_previousBusy && *readerBusy > *m_previousBusy)
        busy = *readerBusy - *m_previousBusy;
    m_previousBusy = readerBusy;
    m_busyKnown = readerBusy.has_value();
    const std::size_t newBytes = pendingBytes > m_unsentBytes ? pendingBytes - m_unsentBytes : 0;
    // The server hands a piece of its own period over in parts, one right after the other: one
    // part the reader waited for makes the whole piece so.
    if (m_handedThisRead) {
        m_waitedSinceHandOn = false;
        m_idleSinceHandOn = false;
    }
    if (m_bytesPerSecond > 0 && m_previousReadAt) {
        const Clock::duration interval = readAt - *m_previousReadAt;
        const Clock::duration idle = std::max(Clock::duration::zero(), interval - busy);
        m_waitedSinceHandOn = m_waitedSinceHandOn || (idle >= Clock::duration(readSlack) && idle >= durationOf(newBytes) / 2);
        m_idleSinceHandOn = m_idleSinceHandOn || (idle >= Clock::duration(shortestIdle) && idle * 2 >= interval);
    }
    m_readWaited = m_waitedSinceHandOn;
    m_readIdle = m_idleSinceHandOn || !m_previousReadAt;
    m_handedThisRead = false;
    m_previousReadAt = readAt;
    m_readAt = readAt;
    m_unsentBytes = pendingBytes;
}

void AudioArrivalClock::deviceGap()
{
    m_gap = true;
}

AudioArrivalClock::Clock::duration AudioArrivalClock::durationOf(std::size_t bytes) const
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(std::chrono::nanoseconds::rep(double(bytes) * 1e9 / double(m_bytesPerSecond))));
}

// Reads that wait for their audio get it at the pace it is made: how late it is stays the same.
// A reader held up again and again while it reads a backlog (a machine with every core busy) waits
// too, but between the waits it reads faster than the audio was made and catches up on it.
void AudioArrivalClock::countRead(std::optional<Clock::duration> late)
{
    settle(late);
    if (!m_readWaited) {
        m_waitedReads = 0;
        return;
    }
    if (m_waitedReads > 0 && late && m_lateAtFirstWait && *late < *m_lateAtFirstWait - Clock::duration(catchUpSlack))
        m_waitedReads = 0;
    if (m_waitedReads == 0)
        m_lateAtFirstWait = late;
    ++m_waitedReads;
}

// Where the reader's busy time is unknown, whether a read waited tells nothing: the lowest
// lateness over a span of reads does. Audio that comes at its pace keeps it still, however the
// reads are held up; a backlog moves it, down as the reader catches up, up as it falls behind.
void AudioArrivalClock::settle(std::optional<Clock::duration> late)
{
    if (m_busyKnown || !late) {
        forgetSpans();
        return;
    }
    if (!m_spanLowest && !m_previousSpanLowest)
        m_spanStartedAt = m_readAt;
    m_spanLowest = m_spanLowest ? std::min(*m_spanLowest, *late) : *late;
    if (m_readAt - m_spanStartedAt < Clock::duration(settleSpan))
        return;
    // Against the first span of those that agreed so far, so that no slow drift passes.
    if (m_previousSpanLowest && *m_spanLowest - *m_previousSpanLowest <= Clock::duration(catchUpSlack)
        && *m_previousSpanLowest - *m_spanLowest <= Clock::duration(catchUpSlack)) {
        ++m_agreeingSpans;
    } else {
        m_agreeingSpans = 0;
        m_previousSpanLowest = m_spanLowest;
    }
    m_spanLowest.reset();
    m_spanStartedAt = m_readAt;
}

AudioArrivalClock::Clock::time_point AudioArrivalClock::handOn(std::size_t bytes)
{
    m_unsentBytes -= std::min(m_unsentBytes, bytes);
    m_handedBytes += bytes;
    const bool firstOfRead = !m_handedThisRead;
    m_handedThisRead = true;
    if (m_bytesPerSecond == 0) {
        if (firstOfRead)
            countRead(std::nullopt);
        return m_readAt;
    }
    const Clock::time_point arrival = m_readAt - durationOf(m_unsentBytes);
    Clock::time_point time = arrival;
    if (!m_onTime || m_gap) {
        if (firstOfRead)
            countRead(std::nullopt);
        m_inBacklog = false;
    } else {
        const Clock::time_point expected = m_onTime->first + durationOf(m_handedBytes - m_onTime->second);
        const Clock::duration late = arrival - expected;
        if (firstOfRead)
            countRead(late);
        if (!m_inBacklog && late >= longestHeldUpRead) {
            // The first read after a hold brings the start of the server's backlog.
            m_inBacklog = true;
            m_waitedReads = 0;
            forgetSpans();
        }
        // Audio that late which the reader waited for, read after read, came after what the
        // server dropped: it starts afresh. (A single read that waited may be the reader held
        // up for a moment in the middle of the backlog: audio put ahead of the rest of it would
        // make the rest come too late for the mixer.)
        const bool fresh = m_busyKnown ? m_waitedReads >= 2 : m_agreeingSpans >= settleSpans;
        if (m_inBacklog && (late <= Clock::duration::zero() || fresh))
            m_inBacklog = false;
        if (m_inBacklog) {
            time = expected;
        } else if (late > Clock::duration::zero() && !m_readIdle) {
            // The reader is behind (held up, or reading what piled up meanwhile): the lateness is
            // its own, not the device's.
            time = expected;
        } else if (late > Clock::duration::zero() && late < longestHeldUpRead) {
            // A piece later than expected, which the reader was waiting for: its device runs
            // slow, or the server handed it on late. The time moves toward its arrival by the
            // share of followTime the piece lasts.
            const double share = std::min(1.0, double(durationOf(bytes).count()) / double(Clock::duration(followTime).count()));
            time = expected + std::chrono::duration_cast<Clock::duration>(late * share);
        }
    }
    if (!m_onTime || m_gap)
        m_placedEnd = time;
    else
        time = limitStepBack(time, bytes);
    m_gap = false;
    m_onTime.emplace(time, m_handedBytes);
    return time;
}

AudioArrivalClock::Clock::time_point AudioArrivalClock::limitStepBack(Clock::time_point time, std::size_t bytes)
{
    const Clock::duration duration = durationOf(bytes);
    m_placedEnd += duration;
    if (time >= m_placedEnd) {
        m_placedEnd = time;
        return time;
    }
    time = std::max(time, m_placedEnd - Clock::duration(longestStepBack));
    const auto squeeze = std::chrono::duration_cast<Clock::duration>(duration * stepBackRate);
    m_placedEnd -= std::min(m_placedEnd - time, squeeze);
    return time;
}
