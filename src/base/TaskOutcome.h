#pragma once

// Awaiting a task's outcome without throwing: co_await outcomeOf(task) ends with the task's
// value or the exception it threw, never by throwing itself. The caller decides afterwards,
// typically after re-checking its own state, what a failure means.
//
// Why capture a failure at all: a catch handler may not co_await, so a failure that must be
// followed by awaited work (cleanup, a reset, a retry's pause) before it is rethrown or
// reported has to leave the handler first. That is the one legitimate use of a hand-written
// `catch (...) { failure = std::current_exception(); }`, and where the code that fails is itself
// awaited, outcomeOf is that capture; write it by hand only around plain calls that throw.
// Where nothing is awaited after the failure, an ordinary try/catch (or letting it propagate)
// says more.

#include "base/KavrelError.h"

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

// The exception as E, when it is one.
template<typename E>
std::optional<E> errorAs(const std::exception_ptr &error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const E &typed) {
        return typed;
    } catch (...) {
    }
    return std::nullopt;
}

template<typename T>
struct TaskOutcome
{
    // A void task that succeeded holds true.
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;

    bool succeeded() const { return !error; }
    bool failed() const { return error != nullptr; }
    QString errorText() const { return error ? errorMessage(error) : QString(); }
    bool isCancellation() const { return ::isCancellation(error); }

    // The value, or the error rethrown.
    T get() const
    {
        if (error)
            std::rethrow_exception(error);
        if constexpr (!std::is_void_v<T>)
            return *value;
    }
    void rethrowIfFailed() const
    {
        if (error)
            std::rethrow_exception(error);
    }

    template<typename E>
    std::optional<E> errorAs() const
    {
        return ::errorAs<E>(error);
    }
};

// Takes a task or any other awaitable (a continuation's wait, for one).
template<typename Awaitable>
    requires QCoro::Awaitable<Awaitable>
auto outcomeOf(Awaitable awaitable) -> QCoro::Task<TaskOutcome<QCoro::detail::awaitable_return_type_t<Awaitable>>>
{
    using T = QCoro::detail::awaitable_return_type_t<Awaitable>;
    TaskOutcome<T> outcome;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(awaitable);
            outcome.value = true;
        } else {
            T value = co_await std::move(awaitable);
            outcome.value.emplace(std::move(value));
        }
    } catch (...) {
        outcome.error = std::current_exception();
    }
    co_return outcome;
}
