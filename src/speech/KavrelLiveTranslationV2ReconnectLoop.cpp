#include "speech/KavrelLiveTranslationV2ReconnectLoop.h"

#include "base/KavrelDiagnostics.h"
#include "base/TaskOutcome.h"
#include "speech/DeepSeekTranslationError.h"

#include <QPointer>

#include <algorithm>

namespace {

const QLoggingCategory &logger()
{
    return KavrelDiagnostics::translationV2();
}

bool isTerminalConnectionError(const std::exception_ptr &error)
{
    return isCancellation(error) || DeepSeekTranslationError::is(error, DeepSeekTranslationError::Case::authenticationRequired)
        || DeepSeekTranslationError::is(error, DeepSeekTranslationError::Case::invalidRequest);
}

} // namespace

KavrelLiveTranslationV2ReconnectLoop::KavrelLiveTranslationV2ReconnectLoop(Host host)
    : m_host(std::move(host))
{
}

KavrelLiveTranslationV2ReconnectLoop::~KavrelLiveTranslationV2ReconnectLoop()
{
    m_task.cancel();
}

void KavrelLiveTranslationV2ReconnectLoop::start()
{
    if (m_task.isValid())
        return;
    QPointer<KavrelLiveTranslationV2ReconnectLoop> self(this);
    TaskHandle<void> loop = spawnTask([self](CancellationToken token) -> QCoro::Task<void> {
        co_await yieldOnce();
        if (!self)
            co_return;
        co_await self->run(token);
    });
    if (!loop.isFinished())
        m_task = loop;
}

void KavrelLiveTranslationV2ReconnectLoop::cancel()
{
    m_task.cancel();
    m_task = {};
}

std::chrono::milliseconds KavrelLiveTranslationV2ReconnectLoop::pauseFor(int failures) const
{
    return m_delays[std::size_t(std::min(failures, int(m_delays.size()) - 1))];
}

QCoro::Task<void> KavrelLiveTranslationV2ReconnectLoop::run(CancellationToken token)
{
    QPointer<KavrelLiveTranslationV2ReconnectLoop> self(this);
    int failedAttempts = 0;

    if (!token.isCancelled() && !m_host.isStopping()) {
        // A cancelled pause is seen by the checks after it.
        const std::chrono::milliseconds firstPause = pauseFor(failedAttempts);
        co_await outcomeOf(sleepFor(firstPause, token));
        if (!self)
            co_return;

        while (!token.isCancelled() && !m_host.isStopping()) {
            std::exception_ptr failure = (co_await outcomeOf(m_host.connect(token))).error;
            if (!self)
                co_return;
            if (!failure)
                break;
            if (isTerminalConnectionError(failure)) {
                const QString description = errorMessage(failure);
                qCWarning(logger()).noquote()
                    << QStringLiteral("v2 connection stopped after non-recoverable error=%1").arg(description);
                // A loop cancelled by a reset belongs to a session that is over; a session
                // started since then has a handler of its own that must not hear of it.
                if (token.isCancelled())
                    break;
                m_host.giveUp(description);
                if (!self)
                    co_return;
                break;
            }
            ++failedAttempts;
            qCWarning(logger()).noquote()
                << QStringLiteral("v2 reconnect failed attempt=%1 error=%2").arg(failedAttempts).arg(errorMessage(failure));
            if (token.isCancelled() || m_host.isStopping())
                break;
            const std::chrono::milliseconds pause = pauseFor(failedAttempts);
            co_await outcomeOf(sleepFor(pause, token));
            if (!self)
                co_return;
        }
    }

    // Only this loop's own handle: a reset may have replaced it with a newer loop meanwhile.
    if (m_task.token() == token)
        m_task = {};
}
