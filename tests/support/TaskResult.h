#pragma once

// Runs a coroutine to its end in a nested event loop and keeps its value or its exception.
// QCoro::waitFor alone never returns when the task throws (0.8 quits its loop only on
// success), so tests that expect failures go through this.

#include "base/TaskOutcome.h"

#include <qcoro/qcorotask.h>

template<typename T>
using TaskResult = TaskOutcome<T>;

template<typename T>
TaskResult<T> runTask(QCoro::Task<T> task)
{
    return QCoro::waitFor(outcomeOf(std::move(task)));
}
