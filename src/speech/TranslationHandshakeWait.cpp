#include "speech/TranslationHandshakeWait.h"

#include "base/KavrelError.h"
#include "base/TaskOutcome.h"
#include "base/Timeout.h"

#include <utility>

QCoro::Task<void> TranslationHandshakeWait::wait(std::chrono::milliseconds timeout, std::exception_ptr timeoutError)
{
    return waitIn(m_slot, timeout, std::move(timeoutError));
}

void TranslationHandshakeWait::resume()
{
    if (auto continuation = std::exchange(*m_slot, nullptr))
        continuation->resume();
}

void TranslationHandshakeWait::fail(std::exception_ptr error)
{
    if (auto continuation = std::exchange(*m_slot, nullptr))
        continuation->fail(std::move(error));
}

QCoro::Task<void> TranslationHandshakeWait::waitIn(Slot slot, std::chrono::milliseconds timeout, std::exception_ptr timeoutError)
{
    if (auto older = std::exchange(*slot, nullptr))
        older->fail(std::make_exception_ptr(CancellationError()));
    const auto continuation = Continuation<>::create();
    *slot = continuation;
    const TaskOutcome<void> outcome = co_await outcomeOf(withTimeout(Continuation<>::wait(continuation), timeout, timeoutError));
    if (outcome.failed() && *slot == continuation)
        std::exchange(*slot, nullptr)->fail(outcome.error);
    outcome.rethrowIfFailed();
}
