#include "audio/AudioStreamRecovery.h"

#include "base/KavrelDiagnostics.h"
#include "base/TaskOutcome.h"

#include <QPointer>

#include <algorithm>

AudioStreamRecovery::AudioStreamRecovery(QObject *parent)
    : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &AudioStreamRecovery::timedOut);
}

AudioStreamRecovery::~AudioStreamRecovery()
{
    m_token.cancel();
}

void AudioStreamRecovery::start(Attempt attempt, GiveUp giveUp)
{
    if (m_recovering)
        return;
    m_recovering = true;
    const quint64 round = ++m_round;
    m_token = CancellationToken();
    m_giveUp = std::move(giveUp);
    m_lastFailure = nullptr;
    m_deadline.start(m_timings.resumeTimeout);
    spawnTask([self = QPointer<AudioStreamRecovery>(this), attempt = std::move(attempt), round,
               token = m_token](CancellationToken) { return run(self, attempt, round, token); });
}

void AudioStreamRecovery::cancel()
{
    m_deadline.stop();
    m_token.cancel();
    m_recovering = false;
    m_giveUp = nullptr;
    m_lastFailure = nullptr;
}

QCoro::Task<void> AudioStreamRecovery::run(QPointer<AudioStreamRecovery> self, Attempt attempt, quint64 round,
                                          CancellationToken token)
{
    std::chrono::milliseconds delay = self ? self->m_timings.firstRetryDelay : std::chrono::milliseconds(0);
    while (self && !token.isCancelled()) {
        std::exception_ptr failure = (co_await outcomeOf(attempt(token))).error;
        if (!self || self->m_round != round || token.isCancelled())
            co_return;
        if (!failure) {
            self->finish();
            co_return;
        }
        if (isCancellation(failure))
            co_return;
        self->m_lastFailure = failure;
        qCInfo(KavrelDiagnostics::audio()).noquote()
            << "audio stream not back yet:" << errorMessage(failure);
        try {
            co_await sleepFor(delay, token);
        } catch (const CancellationError &) {
            co_return;
        }
        if (!self)
            co_return;
        delay = std::min(delay * 2, self->m_timings.maximumRetryDelay);
    }
}

void AudioStreamRecovery::finish()
{
    m_deadline.stop();
    m_recovering = false;
    m_giveUp = nullptr;
    m_lastFailure = nullptr;
}

void AudioStreamRecovery::timedOut()
{
    if (!m_recovering)
        return;
    m_token.cancel();
    m_recovering = false;
    GiveUp giveUp = std::move(m_giveUp);
    m_giveUp = nullptr;
    const std::exception_ptr lastFailure = std::exchange(m_lastFailure, nullptr);
    if (giveUp)
        giveUp(lastFailure);
}
