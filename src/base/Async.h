#pragma once

// Structured helpers on top of QCoro: a cancellable sleep, a detached task handle that
// several coroutines can await, a serial chain ("wait for the previous task") and a
// generation identifier that lets late results of stopped work be dropped.
//
// Everything here lives on the main thread.

#include "base/Cancellation.h"
#include "base/KavrelError.h"

#include <QLoggingCategory>
#include <QUuid>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(kavrelAsyncLog)

namespace kavrel::detail {

// Schedules a coroutine resumption on the next turn of the event loop.
void resumeLater(std::coroutine_handle<> handle);

// Bookkeeping of the detached tasks that have started and not yet ended.
void noteTaskStarted();
void noteTaskFinished();

struct SleepState;

class SleepAwaiter
{
public:
    SleepAwaiter(std::chrono::milliseconds duration, CancellationToken token);
    bool await_ready() const noexcept;
    void await_suspend(std::coroutine_handle<> handle);
    void await_resume();

private:
    std::chrono::milliseconds m_duration;
    CancellationToken m_token;
    std::shared_ptr<SleepState> m_state;
};

} // namespace kavrel::detail

// Suspends for the duration. Throws CancellationError when the token is, or becomes,
// cancelled; a cancelled sleep wakes on the next event-loop turn, not after the duration.
QCoro::Task<void> cancellableSleep(std::chrono::milliseconds duration, CancellationToken token);

// Awaitable form without a coroutine frame of its own: co_await sleepFor(250ms, token).
inline kavrel::detail::SleepAwaiter sleepFor(std::chrono::milliseconds duration, CancellationToken token)
{
    return kavrel::detail::SleepAwaiter(duration, std::move(token));
}

// Yields to the event loop once.
kavrel::detail::SleepAwaiter yieldOnce();

// A detached, cancellable unit of work that starts at once. Any number of coroutines may
// await its result; copies of the handle refer to the same task. An empty handle
// (default-constructed) refers to nothing.
template<typename T>
class TaskHandle
{
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    struct State
    {
        CancellationToken token;
        bool finished = false;
        bool awaited = false;
        std::optional<Stored> value;
        std::exception_ptr error;
        std::vector<std::coroutine_handle<>> waiters;
        std::vector<std::function<void()>> finishCallbacks;
    };

public:
    TaskHandle() = default;

    bool isValid() const { return m_state != nullptr; }
    void cancel() const
    {
        if (m_state)
            m_state->token.cancel();
    }
    bool isCancelled() const { return m_state && m_state->token.isCancelled(); }
    bool isFinished() const { return m_state && m_state->finished; }
    CancellationToken token() const { return m_state ? m_state->token : CancellationToken(); }

    // Calls the callback when the task ends (at once if it has ended).
    void onFinished(std::function<void()> callback) const
    {
        if (!m_state)
            return;
        if (m_state->finished)
            callback();
        else
            m_state->finishCallbacks.push_back(std::move(callback));
    }

    bool operator==(const TaskHandle &other) const { return m_state == other.m_state; }
    bool operator!=(const TaskHandle &other) const { return m_state != other.m_state; }

    class Awaiter
    {
    public:
        explicit Awaiter(std::shared_ptr<State> state, bool rethrow = true)
            : m_state(std::move(state)), m_rethrow(rethrow) {}
        bool await_ready() const noexcept { return !m_state || m_state->finished; }
        void await_suspend(std::coroutine_handle<> handle) { m_state->waiters.push_back(handle); }
        T await_resume()
        {
            if (!m_state)
                throw CancellationError();
            if constexpr (std::is_void_v<T>) {
                if (!m_rethrow)
                    return;
            }
            if (m_state->error)
                std::rethrow_exception(m_state->error);
            if constexpr (!std::is_void_v<T>)
                return *m_state->value;
        }

    private:
        std::shared_ptr<State> m_state;
        bool m_rethrow = true;
    };

    // co_await handle.result(): the task's value, or its exception rethrown.
    Awaiter result() const
    {
        if (m_state)
            m_state->awaited = true;
        return Awaiter(m_state);
    }

    // co_await handle.completion(): waits for the end without taking over the outcome, so
    // a failure nobody awaits through result() is still reported.
    Awaiter completion() const requires std::is_void_v<T> { return Awaiter(m_state, false); }

    template<typename F>
    static TaskHandle start(F &&work, CancellationToken token)
    {
        TaskHandle handle;
        handle.m_state = std::make_shared<State>();
        handle.m_state->token = std::move(token);
        std::function<QCoro::Task<T>(CancellationToken)> fn(std::forward<F>(work));
        kavrel::detail::noteTaskStarted();
        run(handle.m_state, std::move(fn));
        return handle;
    }

private:
    static QCoro::Task<void> run(std::shared_ptr<State> state, std::function<QCoro::Task<T>(CancellationToken)> fn)
    {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await fn(state->token);
                state->value.emplace();
            } else {
                auto value = co_await fn(state->token);
                state->value.emplace(std::move(value));
            }
        } catch (...) {
            state->error = std::current_exception();
        }
        finish(state);
    }

    static void finish(const std::shared_ptr<State> &state)
    {
        state->finished = true;
        kavrel::detail::noteTaskFinished();
        if (state->error && !state->awaited && !isCancellation(state->error))
            qCWarning(kavrelAsyncLog).noquote() << "detached task failed:" << errorMessage(state->error);
        auto waiters = std::move(state->waiters);
        state->waiters.clear();
        auto callbacks = std::move(state->finishCallbacks);
        state->finishCallbacks.clear();
        for (auto &callback : callbacks) {
            // A throwing callback must not leave the waiters suspended for ever.
            try {
                callback();
            } catch (...) {
                qCWarning(kavrelAsyncLog).noquote() << "task finish callback failed:" << errorMessage(std::current_exception());
            }
        }
        for (auto waiter : waiters)
            waiter.resume();
    }

    std::shared_ptr<State> m_state;
};

// How many detached tasks have started and not yet ended: a long run that ends with more than
// it began with has left work behind (a wait that never wakes, a loop never cancelled).
int runningTaskCount();

// Starts work at once as a detached task. The work gets the task's cancellation token.
template<typename F>
auto spawnTask(F &&work, CancellationToken token = CancellationToken())
{
    using TaskType = std::invoke_result_t<F, CancellationToken>;
    using T = typename TaskType::value_type;
    return TaskHandle<T>::start(std::forward<F>(work), std::move(token));
}

// Runs work items one after another: each starts only when the previous one has ended
// (whatever its outcome). Cancelling an item that has not started yet means it never runs.
class SerialChain
{
public:
    TaskHandle<void> enqueue(std::function<QCoro::Task<void>(CancellationToken)> work);
    // The most recently enqueued item, to await "the previous task".
    TaskHandle<void> last() const { return m_last; }
    void cancelAll();

private:
    std::vector<TaskHandle<void>> m_pending;
    TaskHandle<void> m_last;
};

// The identifier of the current generation of some work. Renewing it makes every earlier
// identifier stale, so results carrying one can be dropped.
class GenerationId
{
public:
    GenerationId() : m_current(QUuid::createUuid()) {}
    QUuid current() const { return m_current; }
    QUuid renew()
    {
        m_current = QUuid::createUuid();
        return m_current;
    }
    bool isCurrent(const QUuid &id) const { return id == m_current; }

private:
    QUuid m_current;
};
