#pragma once

// moc cannot parse <coroutine>; it only needs the class declarations here.
#ifndef Q_MOC_RUN
#include <coroutine>
#endif
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// Suspended callers that are resumed exactly once, with one value or one error. The owner
// keeps the continuation while someone waits and clears it before resuming, so every later
// outcome finds it empty. A second install() while one is pending joins it: both callers
// get the same outcome, and neither is left suspended. Main thread only.
template<typename T>
class OneShotContinuation
{
    struct State
    {
        std::vector<std::coroutine_handle<>> handles;
        std::optional<T> value;
        std::exception_ptr error;
        bool done = false;
    };

public:
    class Awaiter
    {
    public:
        explicit Awaiter(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        bool await_ready() const noexcept { return m_state->done; }
        void await_suspend(std::coroutine_handle<> handle) { m_state->handles.push_back(handle); }
        T await_resume()
        {
            if (m_state->error)
                std::rethrow_exception(m_state->error);
            // A copy: every joined caller reads the same value.
            return *m_state->value;
        }

    private:
        std::shared_ptr<State> m_state;
    };

    bool isPending() const { return m_state != nullptr; }

    // Installs a continuation, or joins the pending one, and returns what the caller awaits.
    Awaiter install()
    {
        if (!m_state)
            m_state = std::make_shared<State>();
        return Awaiter(m_state);
    }

    // Clears the continuation, then resumes its caller. False when nobody waited.
    bool resume(T value)
    {
        auto state = std::exchange(m_state, nullptr);
        if (!state)
            return false;
        state->value.emplace(std::move(value));
        complete(state);
        return true;
    }
    bool fail(std::exception_ptr error)
    {
        auto state = std::exchange(m_state, nullptr);
        if (!state)
            return false;
        state->error = std::move(error);
        complete(state);
        return true;
    }

private:
    // The owner may be gone once the first caller runs again: only the state is touched.
    static void complete(const std::shared_ptr<State> &state)
    {
        state->done = true;
        const std::vector<std::coroutine_handle<>> handles = std::exchange(state->handles, {});
        for (std::coroutine_handle<> handle : handles)
            handle.resume();
    }

    std::shared_ptr<State> m_state;
};
