#pragma once

// co_await withTimeout(awaitable, duration, error): the awaitable's outcome, or `error`
// thrown when the duration passes first, or CancellationError when the token is cancelled
// first. The awaitable itself runs on; its late outcome is dropped. Main thread only.

#include "base/Cancellation.h"
#include "base/Continuation.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace kavrel::detail {

struct TimerDeleter
{
    void operator()(QTimer *timer) const
    {
        timer->stop();
        // The timer may be the sender of the signal that is running right now.
        timer->deleteLater();
    }
};

template<typename T, typename Awaitable>
QCoro::Task<void> forwardOutcome(Awaitable awaitable, typename Continuation<T>::Pointer outcome)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(awaitable);
            outcome->resume();
        } else {
            T value = co_await std::move(awaitable);
            outcome->resume(std::move(value));
        }
    } catch (...) {
        outcome->fail(std::current_exception());
    }
}

} // namespace kavrel::detail

template<typename Awaitable>
    requires QCoro::Awaitable<Awaitable>
auto withTimeout(Awaitable awaitable, std::chrono::milliseconds timeout, std::exception_ptr timeoutError,
                 CancellationToken token = CancellationToken())
    -> QCoro::Task<QCoro::detail::awaitable_return_type_t<Awaitable>>
{
    using T = QCoro::detail::awaitable_return_type_t<Awaitable>;
    const auto outcome = Continuation<T>::create(Continuation<T>::Resumption::immediately);
    token.throwIfCancelled();

    const std::unique_ptr<QTimer, kavrel::detail::TimerDeleter> timer(new QTimer());
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [outcome, timeoutError] { outcome->fail(timeoutError); });
    timer->start(std::max<qint64>(0, timeout.count()));

    // Like a cancelled sleep, a cancelled wait ends on the next event-loop turn, so the
    // canceller finishes what it was doing first.
    const std::weak_ptr<Continuation<T>> weak = outcome;
    const CancellationToken::CallbackId callbackId = token.onCancel([weak] {
        QTimer::singleShot(0, QCoreApplication::instance(), [weak] {
            if (const auto pending = weak.lock())
                pending->fail(std::make_exception_ptr(CancellationError()));
        });
    });

    kavrel::detail::forwardOutcome<T>(std::move(awaitable), outcome);
    std::exception_ptr failure;
    if constexpr (std::is_void_v<T>) {
        try {
            co_await Continuation<T>::wait(outcome);
        } catch (...) {
            failure = std::current_exception();
        }
        token.removeCallback(callbackId);
        if (failure)
            std::rethrow_exception(failure);
    } else {
        std::optional<T> value;
        try {
            T result = co_await Continuation<T>::wait(outcome);
            value.emplace(std::move(result));
        } catch (...) {
            failure = std::current_exception();
        }
        token.removeCallback(callbackId);
        if (failure)
            std::rethrow_exception(failure);
        co_return std::move(*value);
    }
}
