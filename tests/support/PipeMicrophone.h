#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// A microphone whose clock runs off its nominal rate: a pipe source of the test services' audio
// server, fed a steady tone by a pacer `slowdown` slower than the source's nominal rate, in 10 ms
// blocks, from construction to destruction. Real devices stray by far less, but over hours.
//
// While nobody records, the pipe fills up, and what does not fit is dropped rather than waited
// for: the source hands what the pipe holds over at once when capture starts, as a device hands
// over what it buffered before.
//
// The pipe source has no clock of its own: it hands on what is written when it is written. A
// writer kept from running on a busy machine is a microphone that stopped making sound for that
// long, then made all of it at once. The pacer notes each such stretch.
class PipeMicrophone
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int rate = 48000;
    static constexpr double toneFrequency = 330;
    // When the writer fell behind its schedule by this much or more. (The mixer waits for a
    // microphone that stays silent while the computer's audio brings 250 ms; the microphone's
    // audio comes in fragments of 40 ms.)
    static constexpr std::chrono::milliseconds starvedAfter{150};

    struct Stretch
    {
        Clock::time_point from;
        Clock::time_point to;
    };

    // Loads the source, named `source`, its pipe at `pipe`; check loaded() before use.
    PipeMicrophone(const QString &source, const QString &pipe, double slowdown);
    ~PipeMicrophone();
    PipeMicrophone(const PipeMicrophone &) = delete;
    PipeMicrophone &operator=(const PipeMicrophone &) = delete;

    bool loaded() const { return m_module.has_value(); }
    // The stretches in which the writer was kept from writing for starvedAfter or longer.
    std::vector<Stretch> starved() const;
    // Stops the writer (the source stays until destruction).
    void stop();

private:
    void run(const std::string &path, double slowdown);

    std::optional<QString> m_module;
    std::atomic<bool> m_stop = false;
    mutable std::mutex m_mutex;
    std::vector<Stretch> m_starved;
    std::thread m_thread;
};
