#pragma once

// A wait that someone else ends once, with a value or an error, and the holder of such a
// wait. Main thread only.

#include "base/Async.h"

// moc cannot parse <coroutine>; it only needs declarations.
#ifndef Q_MOC_RUN
#include <coroutine>
#endif
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

// Ended once: later resume() and fail() calls change nothing. Any number of coroutines may
// await it and all get the same outcome. By default the waiters resume on a later
// event-loop turn, never inside the call that ended the wait, so a message handler that
// ends a handshake wait finishes its own work before the handshake goes on; a continuation
// created with Resumption::immediately resumes them inside that call. Holders compare
// pointers to tell their own wait from a newer one.
template<typename T = void>
class Continuation
{
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

public:
    enum class Resumption { onNextTurn, immediately };
    using Pointer = std::shared_ptr<Continuation>;

    static Pointer create(Resumption resumption = Resumption::onNextTurn)
    {
        return Pointer(new Continuation(resumption));
    }

    bool isDone() const { return m_done; }

    void resume(Stored value = Stored())
    {
        if (m_done)
            return;
        m_value.emplace(std::move(value));
        finish();
    }
    void fail(std::exception_ptr error)
    {
        if (m_done)
            return;
        m_error = std::move(error);
        finish();
    }

    class Awaiter
    {
    public:
        explicit Awaiter(Pointer owner) : m_owner(std::move(owner)) {}
        bool await_ready() const noexcept { return m_owner->m_done; }
        void await_suspend(std::coroutine_handle<> handle) { m_owner->m_waiters.push_back(handle); }
        T await_resume()
        {
            if (m_owner->m_error)
                std::rethrow_exception(m_owner->m_error);
            // A copy: every waiter reads the same value.
            if constexpr (!std::is_void_v<T>)
                return *m_owner->m_value;
        }

    private:
        // Keeps the continuation alive while suspended, whatever happens to its holder.
        Pointer m_owner;
    };

    // co_await Continuation<T>::wait(pointer)
    static Awaiter wait(Pointer continuation) { return Awaiter(std::move(continuation)); }

private:
    explicit Continuation(Resumption resumption) : m_resumption(resumption) {}

    void finish()
    {
        m_done = true;
        const std::vector<std::coroutine_handle<>> waiters = std::exchange(m_waiters, {});
        for (std::coroutine_handle<> waiter : waiters) {
            if (m_resumption == Resumption::onNextTurn)
                kavrel::detail::resumeLater(waiter);
            else
                waiter.resume();
        }
    }

    Resumption m_resumption;
    bool m_done = false;
    std::optional<Stored> m_value;
    std::exception_ptr m_error;
    std::vector<std::coroutine_handle<>> m_waiters;
};

// Holds at most one pending continuation for its owner. install() starts a wait or joins
// the pending one, so a second caller gets the same outcome and neither is left suspended.
// The holder is cleared before its callers resume, so every later outcome finds it empty,
// and the callers resume inside resume()/fail().
template<typename T>
class ContinuationSlot
{
public:
    using Awaiter = typename Continuation<T>::Awaiter;

    bool isPending() const { return m_pending != nullptr; }

    Awaiter install()
    {
        if (!m_pending)
            m_pending = Continuation<T>::create(Continuation<T>::Resumption::immediately);
        return Continuation<T>::wait(m_pending);
    }

    // Clears the slot, then resumes its callers. False when nobody waited.
    bool resume(T value)
    {
        auto pending = std::exchange(m_pending, nullptr);
        if (!pending)
            return false;
        pending->resume(std::move(value));
        return true;
    }
    bool fail(std::exception_ptr error)
    {
        auto pending = std::exchange(m_pending, nullptr);
        if (!pending)
            return false;
        pending->fail(std::move(error));
        return true;
    }

private:
    typename Continuation<T>::Pointer m_pending;
};
