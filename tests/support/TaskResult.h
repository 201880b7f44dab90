#pragma once

// Runs a coroutine to its end in a nested event loop and keeps its value or its exception.
// QCoro::waitFor alone never returns when the task throws (0.8 quits its loop only on
// success), so tests that expect failures go through this.

#include "base/Async.h"
#include "base/TaskOutcome.h"

#include <qcoro/qcorotask.h>

#include <memory>
#include <type_traits>

template<typename T>
using TaskResult = TaskOutcome<T>;

template<typename T>
TaskResult<T> runTask(QCoro::Task<T> task)
{
    return QCoro::waitFor(outcomeOf(std::move(task)));
}

// A coroutine started on the test's own event loop, for tests that look at it while it runs
// (QTRY_VERIFY(started->finished)) instead of blocking until it ends.
template<typename T>
struct StartedTask : TaskOutcome<T>
{
    bool finished = false;
};

// Starts work() detached; the result fills in once the task has ended.
template<typename F>
auto startTask(F work)
{
    using T = typename std::invoke_result_t<F>::value_type;
    auto started = std::make_shared<StartedTask<T>>();
    spawnTask([started, work](CancellationToken) -> QCoro::Task<void> {
        TaskOutcome<T> outcome = co_await outcomeOf(work());
        static_cast<TaskOutcome<T> &>(*started) = std::move(outcome);
        started->finished = true;
    });
    return started;
}
