#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

// Hands the values a worker thread reports to an object on another thread, where only the
// latest one matters (a level meter): that thread is woken once for everything that arrived
// while it was busy and sees the newest value, rather than once per value. Nothing is delivered
// after the receiver is gone.
//
// Not for a stream whose every item counts, nor for two streams whose order against each
// other counts: those keep one queued call per item.
namespace QueuedHandOff {

template<typename T>
std::function<void(const T &)> latest(QObject *receiver, std::function<void(T)> deliver)
{
    struct Shared
    {
        std::function<void(T)> deliver;
        std::mutex mutex;
        std::optional<T> waiting;
    };
    auto shared = std::make_shared<Shared>();
    shared->deliver = std::move(deliver);
    QPointer<QObject> target(receiver);
    return [shared, target](const T &value) {
        if (!target)
            return;
        {
            const std::lock_guard lock(shared->mutex);
            const bool called = shared->waiting.has_value();
            shared->waiting = value;
            if (called)
                return;
        }
        QMetaObject::invokeMethod(
            target.data(),
            [shared] {
                std::optional<T> value;
                {
                    const std::lock_guard lock(shared->mutex);
                    value.swap(shared->waiting);
                }
                if (value)
                    shared->deliver(std::move(*value));
            },
            Qt::QueuedConnection);
    };
}

} // namespace QueuedHandOff
