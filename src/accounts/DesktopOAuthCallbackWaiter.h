#pragma once

#include "base/Continuation.h"

#include <QObject>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <variant>

// Waits once for the callback URL that the browser sends back through the application's
// URL scheme. Outcomes are applied one at a time, in the order they were handed in: the
// first URL wins, and the first error ends the waiter for good.
class DesktopOAuthCallbackWaiter final : public QObject
{
    Q_OBJECT

public:
    explicit DesktopOAuthCallbackWaiter(QObject *parent = nullptr);

    // Callable from any thread; returns at once and applies the URL on the waiter's thread.
    void receive(const QUrl &url);
    // Ends the wait with a CancellationError.
    void cancel();

    // The callback URL: one already received, or the next one. Throws the terminal error.
    QCoro::Task<QUrl> waitForCallback();

    bool isWaiting() const { return m_callbackContinuation.isPending(); }
    bool hasEnded() const { return m_terminalError != nullptr; }
    std::optional<QUrl> bufferedCallbackURL() const { return m_bufferedCallbackURL; }

private:
    void finishCallbackLocked(std::variant<QUrl, std::exception_ptr> result);

    ContinuationSlot<QUrl> m_callbackContinuation;
    std::optional<QUrl> m_bufferedCallbackURL;
    std::exception_ptr m_terminalError;
};
