#pragma once

// Runs a coroutine to its end in a nested event loop and keeps its value or its exception.
// QCoro::waitFor alone never returns when the task throws (0.8 quits its loop only on
// success), so tests that expect failures go through this.

#include "base/KavrelError.h"

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <type_traits>

template<typename T>
struct TaskResult
{
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;

    bool succeeded() const { return !error; }
    QString errorText() const { return error ? errorMessage(error) : QString(); }
    bool isCancellation() const { return ::isCancellation(error); }

    // The exception as E, when it is one.
    template<typename E>
    std::optional<E> errorAs() const
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
};

namespace TaskResultDetail {

template<typename T>
QCoro::Task<void> capture(QCoro::Task<T> task, TaskResult<T> *result)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            result->value = true;
        } else {
            T value = co_await task;
            result->value.emplace(std::move(value));
        }
    } catch (...) {
        result->error = std::current_exception();
    }
}

} // namespace TaskResultDetail

template<typename T>
TaskResult<T> runTask(QCoro::Task<T> task)
{
    TaskResult<T> result;
    QCoro::waitFor(TaskResultDetail::capture<T>(std::move(task), &result));
    return result;
}
