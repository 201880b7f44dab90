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
// A reader held up for longer (a stopped process, a debugger, a paused virtual machine) finds
// the server's backlog: what the server kept of the audio since, in order, as much as it could
// hold, handed over as fast as it is read. That audio follows on from the audio before the
// hold. Where the server could keep no more, the audio it dropped is gone without a trace in the
// stream; what it took in after the reader came back follows the backlog and comes at the pace
// it is made. So, after a piece more than longestHeldUpRead late, audio goes on from the audio
// before until two reads in a row have waited for theirs without catching up on it (one may be a
// moment's hold of the reader in the middle of the backlog, and a busy machine holds it up at
// read after read); the audio of the second starts afresh from its arrival.
// The audio of the first still follows on from the backlog: where the server dropped audio, a
// server's period of what came after it lands at the end of what it kept, as does audio it took
// in while the backlog was being read (nothing in the stream tells the two apart).
//
// A device that made no audio for a while (its source was suspended) has no backlog: what comes
// after starts afresh, as does a new stream (the server restarted).
//
// A busy machine holds the reader up at read after read, for as long as a device's period or
// longer: such a read comes late, yet it did not wait for its audio, which was there all along.
// Only the time the reader's thread was idle counts as waiting: the time it spent running or
// waiting for a processor (threadBusyTime()) is taken off the time between its reads.
// Where that time is not known, a read held up looks like one that waited. Two such reads prove
// nothing then: the backlog ends only once the audio's lateness has held still for a few seconds
// (settleSpans of settleSpan). A reader held up now and then while it reads a backlog catches up on it, and one
// held up for longer than the audio it reads falls ever further behind; either way the lateness
// moves, and the audio follows on from the audio before, as a backlog's does.
//
// Whoever lines the audio up by these times (the mixer) can take up a small step back only (it
// squeezes the audio by a percent at most); a larger one would lay the audio over what it has
// placed already and lose it. Audio that comes sooner than the times say (they were late: a
// backlog taken for fresh audio) therefore steps back by at most longestStepBack beyond where
// the audio so far would lie once squeezed, and the times come back to the arrivals no faster
// than stepBackRate. Nothing a read hands on lands on top of what came before.
//
// Touched by one thread at a time (the audio server's, under its lock).
class AudioArrivalClock final
{
public:
    using Clock = std::chrono::steady_clock;

    // Longer than any read is held up on a busy machine: a piece that much later than the audio
    // before it says came after a hold of the reader, or after a gap.
    static constexpr std::chrono::seconds longestHeldUpRead{1};
    // How slowly the times give way to later arrivals: slow enough that a read held up for the
    // longest while moves them by a few tens of milliseconds, fast enough that a device 0.5 %
    // slow stays within 50 ms of its arrivals.
    static constexpr std::chrono::seconds followTime{10};
    // A read waited for its audio when the reader was idle this long since the read before, or
    // longer, and that audio lasts less than twice as long as the wait. (The server hands a
    // backlog over in parts of every size, some of a few frames, as fast as the reader takes
    // them.)
    static constexpr std::chrono::milliseconds readSlack{10};
    // Reads that waited in a row, yet caught up by this much on the audio's lateness, are a
    // reader held up while it reads a backlog, not audio that comes at its pace.
    static constexpr std::chrono::milliseconds catchUpSlack{20};
    // Where the reader's busy time is unknown: the reads bring fresh audio once the lowest
    // lateness over this many spans of them in a row is within catchUpSlack of the span's
    // before them. (A backlog read by a reader held up at random may hold still for a span.)
    static constexpr std::chrono::milliseconds settleSpan{1000};
    static constexpr int settleSpans = 3;
    // A reader idle this long since the read before, and for at least half of that time, had
    // read all there was.
    static constexpr std::chrono::milliseconds shortestIdle{1};
    // How far the times may step back at once, and how fast beyond that (a share of the audio
    // handed on): within what the mixer takes up by squeezing.
    static constexpr std::chrono::milliseconds longestStepBack{50};
    static constexpr double stepBackRate = 0.01;

    // How long the calling thread has run or waited for a processor since it started, or nothing
    // where the system does not tell.
    static std::optional<Clock::duration> threadBusyTime();

    // Starts afresh for a stream of this many bytes a second (0: every piece is as new as its
    // read).
    void reset(std::size_t bytesPerSecond);
    // A read begins at `readAt` with `pendingBytes` come and not yet handed on. `readerBusy` is
    // the reading thread's threadBusyTime() at that moment, when known.
    void startRead(Clock::time_point readAt, std::size_t pendingBytes,
                   std::optional<Clock::duration> readerBusy = std::nullopt);
    // When the last of the next `bytes` handed on was captured. What is handed on after the read
    // (the rest of it, at a release) takes the time of that read.
    Clock::time_point handOn(std::size_t bytes);
    // The device made no audio for a while: what comes next starts afresh.
    void deviceGap();

private:
    Clock::duration durationOf(std::size_t bytes) const;
    // Keeps `time` from stepping back further than the audio's consumer can take up.
    Clock::time_point limitStepBack(Clock::time_point time, std::size_t bytes);
    // Counts the reads in a row that waited for their audio, `late` being how late the first
    // piece of this read is (none when nothing tells).
    void countRead(std::optional<Clock::duration> late);
    // Follows the lowest lateness over spans of reads, where the reader's busy time is unknown.
    void settle(std::optional<Clock::duration> late);
    void forgetSpans();

    std::size_t m_bytesPerSecond = 0;
    Clock::time_point m_readAt;
    std::optional<Clock::time_point> m_previousReadAt;
    std::optional<Clock::duration> m_previousBusy;
    std::size_t m_unsentBytes = 0;
    // The audio handed on so far, and the time of the latest piece with how much had been
    // handed on by then.
    std::size_t m_handedBytes = 0;
    std::optional<std::pair<Clock::time_point, std::size_t>> m_onTime;
    // Whether a read since the last piece handed on came after a wait for its audio, whether
    // this read counts so, whether it handed anything on, and how many reads in a row waited.
    bool m_waitedSinceHandOn = false;
    bool m_readWaited = false;
    // The same for a reader that was idle most of the time since the read before: it had read
    // all there was, and what it reads now is fresh.
    bool m_idleSinceHandOn = false;
    bool m_readIdle = false;
    bool m_handedThisRead = false;
    int m_waitedReads = 0;
    // How late the first of those reads was.
    std::optional<Clock::duration> m_lateAtFirstWait;
    // Whether this read told the reader's busy time; where it did not, the reads in spans: when
    // the current one began, its lowest lateness, the one's of the span those after it are held
    // against, and how many agreed with that.
    bool m_busyKnown = false;
    Clock::time_point m_spanStartedAt;
    std::optional<Clock::duration> m_spanLowest;
    std::optional<Clock::duration> m_previousSpanLowest;
    int m_agreeingSpans = 0;
    // The audio is the backlog of a hold.
    bool m_inBacklog = false;
    bool m_gap = false;
    // Where the end of the audio handed on so far lies for the mixer, which follows on from the
    // audio before and squeezes it toward the times.
    Clock::time_point m_placedEnd;
};
