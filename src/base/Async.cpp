#include "base/Async.h"

#include "base/ApplicationInfoTable.h"

#include <QTimer>
#include <QCoreApplication>
#include <QPointer>

#include <atomic>

Q_LOGGING_CATEGORY(kavrelAsyncLog, KAVREL_INFO_BUNDLE_IDENTIFIER ".Async")

namespace kavrel::detail {

namespace {
// Tasks live on the main thread; the count is read from anywhere.
std::atomic<int> runningTasks{0};
} // namespace

void noteTaskStarted()
{
    ++runningTasks;
}

void noteTaskFinished()
{
    --runningTasks;
}

void resumeLater(std::coroutine_handle<> handle)
{
    QTimer::singleShot(0, QCoreApplication::instance(), [handle] { handle.resume(); });
}

struct SleepState
{
    std::coroutine_handle<> handle;
    bool resumed = false;
    CancellationToken::CallbackId callbackId = 0;
    QPointer<QTimer> timer;

    void resumeOnce()
    {
        if (resumed)
            return;
        resumed = true;
        if (timer) {
            timer->stop();
            timer->deleteLater();
        }
        handle.resume();
    }
};

SleepAwaiter::SleepAwaiter(std::chrono::milliseconds duration, CancellationToken token)
    : m_duration(duration)
    , m_token(std::move(token))
{
}

bool SleepAwaiter::await_ready() const noexcept
{
    return m_token.isCancelled();
}

void SleepAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    m_state = std::make_shared<SleepState>();
    m_state->handle = handle;
    std::weak_ptr<SleepState> weak = m_state;
    if (m_duration.count() <= 0) {
        // A yield: the next turn of the event loop, through its queue rather than a timer
        // object made and destroyed for it (the audio send loop yields for every chunk).
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak] {
                if (auto state = weak.lock())
                    state->resumeOnce();
            },
            Qt::QueuedConnection);
        // A cancellation needs no wake-up of its own: await_resume() reports it.
        return;
    }
    auto *timer = new QTimer();
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    m_state->timer = timer;
    QObject::connect(timer, &QTimer::timeout, timer, [weak] {
        if (auto state = weak.lock())
            state->resumeOnce();
    });
    // A cancelled sleep wakes on the next event-loop turn rather than inside cancel(),
    // so the canceller finishes what it was doing before the sleeper runs again.
    m_state->callbackId = m_token.onCancel([weak] {
        QTimer::singleShot(0, QCoreApplication::instance(), [weak] {
            if (auto state = weak.lock())
                state->resumeOnce();
        });
    });
    timer->start(std::max<qint64>(0, m_duration.count()));
}

void SleepAwaiter::await_resume()
{
    if (m_state) {
        m_token.removeCallback(m_state->callbackId);
        if (m_state->timer) {
            m_state->timer->stop();
            m_state->timer->deleteLater();
        }
    }
    m_token.throwIfCancelled();
}

} // namespace kavrel::detail

int runningTaskCount()
{
    return kavrel::detail::runningTasks.load();
}

QCoro::Task<void> cancellableSleep(std::chrono::milliseconds duration, CancellationToken token)
{
    co_await kavrel::detail::SleepAwaiter(duration, token);
}

kavrel::detail::SleepAwaiter yieldOnce()
{
    return kavrel::detail::SleepAwaiter(std::chrono::milliseconds(0), CancellationToken());
}

TaskHandle<void> SerialChain::enqueue(std::function<QCoro::Task<void>(CancellationToken)> work)
{
    TaskHandle<void> previous = m_last;
    auto handle = spawnTask([previous, work = std::move(work)](CancellationToken token) -> QCoro::Task<void> {
        // The previous item's outcome is its own business (and reported as its own).
        if (previous.isValid())
            co_await previous.completion();
        token.throwIfCancelled();
        co_await work(token);
    });
    m_last = handle;
    m_pending.push_back(handle);
    // Forget finished items so a long-running chain does not grow.
    std::erase_if(m_pending, [](const TaskHandle<void> &item) { return item.isFinished(); });
    return handle;
}

void SerialChain::cancelAll()
{
    for (auto &item : m_pending)
        item.cancel();
    m_pending.clear();
}
