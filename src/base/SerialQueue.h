#pragma once

#include <QFuture>
#include <QPromise>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

// A worker thread that runs jobs one at a time, in the order they were queued (a FIFO job
// queue with its own std::thread).
//
// Jobs queued when the queue is destroyed are dropped; the job that is running finishes
// first. A job must never wait for the main thread, which may itself be waiting in sync().
class SerialQueue final
{
public:
    explicit SerialQueue(QString label);
    ~SerialQueue();

    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    QString label() const { return m_label; }

    // Queues the job and returns at once.
    void async(std::function<void()> job);

    // Runs the job on the queue and waits for it; the job's exception comes back to the
    // caller. Called on the queue itself it runs the job in place, so a job may call code
    // that hops onto its own queue.
    void sync(const std::function<void()> &job);

    // Runs the function on the queue and returns its result (which must be copyable).
    template<typename F>
    auto syncResult(F &&function) -> std::invoke_result_t<F>
    {
        using R = std::invoke_result_t<F>;
        if constexpr (std::is_void_v<R>) {
            sync(std::forward<F>(function));
        } else {
            std::optional<R> result;
            sync([&] { result.emplace(function()); });
            return std::move(*result);
        }
    }

    // Queues the function and hands back a future of its result (or its exception), for a
    // coroutine on the main thread to co_await without blocking.
    template<typename F>
    auto run(F &&function) -> QFuture<std::invoke_result_t<F>>
    {
        using R = std::invoke_result_t<F>;
        auto promise = std::make_shared<QPromise<R>>();
        promise->start();
        QFuture<R> future = promise->future();
        async([promise, function = std::forward<F>(function)]() mutable {
            try {
                if constexpr (std::is_void_v<R>) {
                    function();
                } else {
                    promise->addResult(function());
                }
            } catch (...) {
                // The awaiting coroutine gets the exception when it reads the result.
                promise->setException(std::current_exception());
            }
            promise->finish();
        });
        return future;
    }

    // True when called from this queue's thread.
    bool isCurrent() const;

private:
    bool enqueue(std::function<void()> job);
    void loop();

    QString m_label;
    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};
