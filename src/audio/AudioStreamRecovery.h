#pragma once

#include "base/Async.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>

// Brings a capture stream back after the audio server dropped it (a restart of pulseaudio or
// pipewire-pulse, a crash): tries again and again, with growing pauses, until an attempt
// succeeds or the time to resume runs out. Then it gives up once and says why; the owner
// reports that to the user, since audio that stays away means a silent transcript.
//
// A main-thread object. Attempts run one at a time on the main thread.
class AudioStreamRecovery final : public QObject
{
    Q_OBJECT

public:
    struct Timings
    {
        // How long the stream may stay away before capture counts as failed.
        std::chrono::milliseconds resumeTimeout{5000};
        // Pause after the first failed attempt; it doubles after each further one.
        std::chrono::milliseconds firstRetryDelay{100};
        std::chrono::milliseconds maximumRetryDelay{1000};
    };

    // One attempt to reopen the stream. Throws when it failed. The token is cancelled when
    // recovery ends; an attempt that finds it cancelled after an await must let go of what it
    // opened and throw CancellationError.
    using Attempt = std::function<QCoro::Task<void>(CancellationToken token)>;
    // Called once when recovery gives up, with the last attempt's failure (null when no
    // attempt finished).
    using GiveUp = std::function<void(std::exception_ptr lastFailure)>;

    // The attempt most owners make: `method` of `owner` for this capture generation, failing
    // with CancellationError once the owner is gone.
    template<typename Owner>
    static Attempt attemptOf(Owner *owner, QCoro::Task<void> (Owner::*method)(QUuid, CancellationToken), QUuid generation)
    {
        QPointer<Owner> self(owner);
        return [self, method, generation](CancellationToken token) -> QCoro::Task<void> {
            if (!self)
                throw CancellationError();
            return (self.data()->*method)(generation, token);
        };
    }

    explicit AudioStreamRecovery(QObject *parent = nullptr);
    ~AudioStreamRecovery() override;

    void setTimings(const Timings &timings) { m_timings = timings; }
    const Timings &timings() const { return m_timings; }

    // Starts recovering, unless recovery is already under way.
    void start(Attempt attempt, GiveUp giveUp);
    // Ends recovery without giving up (capture stopped).
    void cancel();
    bool isRecovering() const { return m_recovering; }

private:
    static QCoro::Task<void> run(QPointer<AudioStreamRecovery> self, Attempt attempt, quint64 round,
                                 CancellationToken token);
    void finish();
    void timedOut();

    Timings m_timings;
    bool m_recovering = false;
    quint64 m_round = 0;
    CancellationToken m_token;
    GiveUp m_giveUp;
    std::exception_ptr m_lastFailure;
    QTimer m_deadline;
};
