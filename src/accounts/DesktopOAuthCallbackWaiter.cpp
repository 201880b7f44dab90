#include "accounts/DesktopOAuthCallbackWaiter.h"

#include "base/KavrelError.h"

#include <QMetaObject>

DesktopOAuthCallbackWaiter::DesktopOAuthCallbackWaiter(QObject *parent)
    : QObject(parent)
{
}

void DesktopOAuthCallbackWaiter::receive(const QUrl &url)
{
    // Queued even on the waiter's own thread, so outcomes keep the order of their arrival
    // and a caller never resumes inside receive().
    QMetaObject::invokeMethod(this, [this, url] { finishCallbackLocked(url); }, Qt::QueuedConnection);
}

void DesktopOAuthCallbackWaiter::cancel()
{
    QMetaObject::invokeMethod(
        this, [this] { finishCallbackLocked(std::make_exception_ptr(CancellationError())); }, Qt::QueuedConnection);
}

QCoro::Task<QUrl> DesktopOAuthCallbackWaiter::waitForCallback()
{
    // Take what arrived before anyone waited; only then install the continuation.
    if (m_bufferedCallbackURL)
        co_return *std::exchange(m_bufferedCallbackURL, std::nullopt);
    if (m_terminalError)
        std::rethrow_exception(m_terminalError);
    QUrl url = co_await m_callbackContinuation.install();
    co_return url;
}

void DesktopOAuthCallbackWaiter::finishCallbackLocked(std::variant<QUrl, std::exception_ptr> result)
{
    if (m_terminalError)
        return;
    if (auto *url = std::get_if<QUrl>(&result)) {
        if (m_callbackContinuation.resume(*url))
            return;
        if (!m_bufferedCallbackURL)
            m_bufferedCallbackURL = *url;
        return;
    }
    auto error = std::get<std::exception_ptr>(result);
    if (m_callbackContinuation.fail(error))
        return;
    m_terminalError = error;
}
