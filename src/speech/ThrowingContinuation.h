#pragma once

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

// A wait that someone else ends once, with a value or an error. The waiter resumes on a later
// event-loop turn, never inside the call that ended the wait, so a message handler that ends
// a handshake wait finishes its own work before the handshake goes on. Holders compare
// pointers to tell their own wait from a newer one. Main thread only.
template<typename T = void>
class ThrowingContinuation
{
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

public:
    using Pointer = std::shared_ptr<ThrowingContinuation>;

    static Pointer create() { return Pointer(new ThrowingContinuation()); }

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
        void await_suspend(std::coroutine_handle<> handle) { m_owner->m_waiter = handle; }
        T await_resume()
        {
            if (m_owner->m_error)
                std::rethrow_exception(m_owner->m_error);
            if constexpr (!std::is_void_v<T>)
                return *m_owner->m_value;
        }

    private:
        Pointer m_owner;
    };

    // co_await ThrowingContinuation::wait(pointer): one waiter per continuation.
    static Awaiter wait(Pointer continuation) { return Awaiter(std::move(continuation)); }

private:
    ThrowingContinuation() = default;

    void finish()
    {
        m_done = true;
        if (m_waiter)
            kavrel::detail::resumeLater(std::exchange(m_waiter, {}));
    }

    bool m_done = false;
    std::optional<Stored> m_value;
    std::exception_ptr m_error;
    std::coroutine_handle<> m_waiter;
};
