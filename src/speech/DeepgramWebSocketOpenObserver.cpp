#include "speech/DeepgramWebSocketOpenObserver.h"

#include "base/Async.h"
#include "speech/DeepgramWebSocketOpenError.h"

#include <QTimer>

#include <utility>

namespace {

// Ends the wait with the outcome: no failure means the socket opened.
void endWait(const Continuation<>::Pointer &waiter, std::exception_ptr failure)
{
    if (failure)
        waiter->fail(std::move(failure));
    else
        waiter->resume();
}

} // namespace

DeepgramWebSocketOpenObserver::DeepgramWebSocketOpenObserver(QObject *parent)
    : QObject(parent)
{
}

DeepgramWebSocketOpenObserver::~DeepgramWebSocketOpenObserver()
{
    // Nobody is left to decide; let waiters go rather than hang.
    const auto waiters = m_continuations;
    m_continuations.clear();
    for (const auto &waiter : waiters)
        waiter->fail(std::make_exception_ptr(CancellationError()));
}

void DeepgramWebSocketOpenObserver::prepare(int taskIdentifier)
{
    m_continuations.remove(taskIdentifier);
    m_completedTaskIDs.remove(taskIdentifier);
    m_completedResults.remove(taskIdentifier);
}

QCoro::Task<void> DeepgramWebSocketOpenObserver::waitForOpen(int taskIdentifier, std::chrono::milliseconds timeout)
{
    const auto waiter = Continuation<>::create();
    const auto stored = m_completedResults.find(taskIdentifier);
    if (stored != m_completedResults.end()) {
        endWait(waiter, stored.value());
        m_completedResults.erase(stored);
    } else {
        m_continuations.insert(taskIdentifier, waiter);
        // Never cancelled: once the wait has ended, the identifier is marked complete and
        // the time-out finds nothing to do.
        QTimer::singleShot(timeout, this, [this, taskIdentifier] {
            complete(taskIdentifier, std::make_exception_ptr(DeepgramWebSocketOpenError::timedOut()));
        });
    }
    // The awaiter holds the waiter, so resuming never touches the observer.
    co_await Continuation<>::wait(waiter);
}

void DeepgramWebSocketOpenObserver::complete(int taskIdentifier, std::exception_ptr failure)
{
    if (m_completedTaskIDs.contains(taskIdentifier))
        return;
    m_completedTaskIDs.insert(taskIdentifier);
    const Continuation<>::Pointer waiter = m_continuations.take(taskIdentifier);
    if (waiter)
        endWait(waiter, std::move(failure));
    else
        m_completedResults.insert(taskIdentifier, std::move(failure));
}

void DeepgramWebSocketOpenObserver::didOpen(int taskIdentifier)
{
    complete(taskIdentifier, nullptr);
}

void DeepgramWebSocketOpenObserver::didClose(int taskIdentifier, int code, std::optional<QString> reason)
{
    complete(taskIdentifier, std::make_exception_ptr(DeepgramWebSocketOpenError::closed(code, std::move(reason))));
}

void DeepgramWebSocketOpenObserver::didCompleteWithError(int taskIdentifier, std::exception_ptr error)
{
    if (!error)
        return;
    complete(taskIdentifier, std::make_exception_ptr(DeepgramWebSocketOpenError::transport(std::move(error))));
}
