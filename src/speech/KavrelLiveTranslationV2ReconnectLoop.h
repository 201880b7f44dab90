#pragma once

#include "base/Async.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <array>
#include <chrono>
#include <exception>
#include <functional>

// The live translation client's reconnect loop. After a pause it asks the client for a ready
// socket; after each failed attempt it pauses by the number of failures so far (the last pause
// repeats) and asks again, without limit, until an attempt succeeds, an attempt fails with an
// error after which trying again cannot help (a cancellation, authenticationRequired,
// invalidRequest), or the loop is cancelled. Giving up is reported to the client, except for a
// loop that was cancelled meanwhile.
//
// Main thread only. Its task holds it weakly; it belongs to the client, so while it exists the
// client does too.
class KavrelLiveTranslationV2ReconnectLoop final : public QObject
{
public:
    using Delays = std::array<std::chrono::milliseconds, 4>;

    // What the loop asks of the client that runs it.
    struct Host
    {
        // A reset is under way: the loop ends at its next step.
        std::function<bool()> isStopping;
        // One connection attempt, up to a ready socket.
        std::function<QCoro::Task<void>(CancellationToken token)> connect;
        // The loop gave up on an error with this description.
        std::function<void(const QString &description)> giveUp;
    };

    explicit KavrelLiveTranslationV2ReconnectLoop(Host host);
    ~KavrelLiveTranslationV2ReconnectLoop() override;

    void setDelays(const Delays &delays) { m_delays = delays; }
    bool isRunning() const { return m_task.isValid(); }
    // Starts the loop unless it runs already. Its first attempt comes on a later event-loop turn.
    void start();
    void cancel();

private:
    QCoro::Task<void> run(CancellationToken token);
    std::chrono::milliseconds pauseFor(int failures) const;

    Host m_host;
    Delays m_delays{};
    TaskHandle<void> m_task;
};
