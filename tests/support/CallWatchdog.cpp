#include "CallWatchdog.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

namespace {

struct Watch
{
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::chrono::steady_clock::time_point> deadline;
    QByteArray call;
    long long limitMs = 0;
    quint64 generation = 0;
};

void watch(Watch &state)
{
    std::unique_lock lock(state.mutex);
    for (;;) {
        if (!state.deadline) {
            state.changed.wait(lock);
            continue;
        }
        const quint64 generation = state.generation;
        if (state.changed.wait_until(lock, *state.deadline, [&] { return state.generation != generation; }))
            continue;
        std::fprintf(stderr, "FAIL!  : %s did not return within %lld ms: the program's thread hangs\n",
                     state.call.constData(), state.limitMs);
        std::fflush(stderr);
        std::abort();
    }
}

Watch &watchState()
{
    // Never destroyed: the watching thread waits on it until the process ends.
    static Watch *const state = [] {
        auto *created = new Watch;
        std::thread(watch, std::ref(*created)).detach();
        return created;
    }();
    return *state;
}

} // namespace

CallWatchdog::CallWatchdog(const QByteArray &call, std::chrono::milliseconds limit)
{
    Watch &state = watchState();
    {
        const std::lock_guard lock(state.mutex);
        state.deadline = std::chrono::steady_clock::now() + limit;
        state.call = call;
        state.limitMs = limit.count();
        ++state.generation;
    }
    state.changed.notify_one();
}

CallWatchdog::~CallWatchdog()
{
    Watch &state = watchState();
    {
        const std::lock_guard lock(state.mutex);
        state.deadline.reset();
        ++state.generation;
    }
    state.changed.notify_one();
}
