#include "speech/DeepgramWebSocketOpenObserver.h"

#include "base/Async.h"
#include "speech/DeepgramWebSocketOpenError.h"

#include <QTimer>

#include <coroutine>
#include <utility>

struct DeepgramWebSocketOpenObserver::Waiter
{
    bool done = false;
    std::exception_ptr failure;
    std::coroutine_handle<> handle;

    void resume(std::exception_ptr outcome)
    {
        if (done)
            return;
        done = true;
        failure = std::move(outcome);
        if (handle)
            kavrel::detail::resumeLater(std::exchange(handle, {}));
    }

    struct Awaiter
    {
        std::shared_ptr<Waiter> waiter;
        bool await_ready() const noexcept { return waiter->done; }
        void await_suspend(std::coroutine_handle<> h) { waiter->handle = h; }
        void await_resume() const
        {
            if (waiter->failure)
                std::rethrow_exception(waiter->failure);
        }
    };
};

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
        waiter->resume(std::make_exception_ptr(CancellationError()));
}

void DeepgramWebSocketOpenObserver::prepare(int taskIdentifier)
{
    m_continuations.remove(taskIdentifier);
    m_completedTaskIDs.remove(taskIdentifier);
    m_completedResults.remove(taskIdentifier);
}

QCoro::Task<void> DeepgramWebSocketOpenObserver::waitForOpen(int taskIdentifier, std::chrono::milliseconds timeout)
{
    auto waiter = std::make_shared<Waiter>();
    const auto stored = m_completedResults.find(taskIdentifier);
    if (stored != m_completedResults.end()) {
        waiter->done = true;
        waiter->failure = stored.value();
        m_completedResults.erase(stored);
    } else {
        m_continuations.insert(taskIdentifier, waiter);
        // Never cancelled: once the wait has ended, the identifier is marked complete and
        // the time-out finds nothing to do.
        QTimer::singleShot(timeout, this, [this, taskIdentifier] {
            complete(taskIdentifier, std::make_exception_ptr(DeepgramWebSocketOpenError::timedOut()));
        });
    }
    // The awaiter holds the waiter's state, so resuming never touches the observer.
    Waiter::Awaiter awaiter{waiter};
    co_await awaiter;
}

void DeepgramWebSocketOpenObserver::complete(int taskIdentifier, std::exception_ptr failure)
{
    if (m_completedTaskIDs.contains(taskIdentifier))
        return;
    m_completedTaskIDs.insert(taskIdentifier);
    const std::shared_ptr<Waiter> waiter = m_continuations.take(taskIdentifier);
    if (waiter)
        waiter->resume(std::move(failure));
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
