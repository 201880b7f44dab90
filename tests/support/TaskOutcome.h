#pragma once

// Runs a coroutine to its end in a test (spinning a nested event loop) and keeps its value
// or the exception it threw, so tests can assert on failures.

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <variant>

template<typename T>
struct TaskOutcome
{
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    std::optional<Stored> value;
    std::exception_ptr error;

    bool succeeded() const { return value.has_value(); }

    // The thrown exception as E, or nothing when it was something else (or nothing).
    template<typename E>
    std::optional<E> errorAs() const
    {
        if (!error)
            return std::nullopt;
        try {
            std::rethrow_exception(error);
        } catch (const E &e) {
            return e;
        } catch (...) {
            return std::nullopt;
        }
    }
};

namespace TaskOutcomeDetail {

template<typename T>
QCoro::Task<void> capture(QCoro::Task<T> task, TaskOutcome<T> *outcome)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->value.emplace();
        } else {
            T value = co_await std::move(task);
            outcome->value.emplace(std::move(value));
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
}

} // namespace TaskOutcomeDetail

template<typename T>
TaskOutcome<T> awaitOutcome(QCoro::Task<T> task)
{
    TaskOutcome<T> outcome;
    QCoro::waitFor(TaskOutcomeDetail::capture(std::move(task), &outcome));
    return outcome;
}
