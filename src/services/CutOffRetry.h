#pragma once

#include "base/KavrelError.h"
#include "base/TaskOutcome.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

// Asks the chat model once with `maxTokens`; when the answer was cut off (Error's
// incompleteResponse), once more with room to finish, and whatever that attempt throws
// reaches the caller as it is. Any other failure of the first attempt becomes
// Error::requestFailed; cancellation passes unchanged.
template<typename Error>
QCoro::Task<QString> askWithOneRetryWhenCutOff(std::function<QCoro::Task<QString>(qint64)> ask, qint64 maxTokens,
                                                qint64 retryMaxTokens)
{
    const TaskOutcome<QString> first = co_await outcomeOf(ask(maxTokens));
    if (first.succeeded())
        co_return *first.value;
    if (first.isCancellation())
        first.rethrowIfFailed();
    const std::optional<Error> error = first.template errorAs<Error>();
    if (!error || error->errorCase() != Error::Case::incompleteResponse)
        throw Error::requestFailed(first.error);

    const QString text = co_await ask(retryMaxTokens);
    co_return text;
}
