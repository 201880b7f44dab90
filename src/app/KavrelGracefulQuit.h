#pragma once

#include "base/Async.h"

#include <QObject>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>

class QCoreApplication;

// The one way the program ends: the tray's "Quit", the desktop session's end and SIGTERM/SIGINT
// all come here. The running session is stopped first (recording finished, history saved,
// usage reported), waiting at most the stop time limit, and then the event loop ends. The user
// is told at once (started()): the windows go while the session stops behind them.
// A plain QCoreApplication::quit() is caught and takes the same road. Main thread only.
class KavrelGracefulQuit final : public QObject
{
    Q_OBJECT

public:
    using StopSession = std::function<QCoro::Task<void>()>;

    static constexpr std::chrono::milliseconds defaultStopTimeLimit{10000};

    explicit KavrelGracefulQuit(StopSession stopSession, QObject *parent = nullptr);

    void setStopTimeLimit(std::chrono::milliseconds limit) { m_stopTimeLimit = limit; }
    // What ends the program once the session has stopped; the default ends the event loop.
    void setExit(std::function<void()> exit) { m_exit = std::move(exit); }

    // Catches the application's quit requests (QEvent::Quit) until the session has stopped.
    void interceptQuitOf(QCoreApplication &application);

    // Starts the quit; later calls while it runs change nothing.
    void requestQuit();
    bool isQuitting() const { return m_quitting; }

Q_SIGNALS:
    // The quit has begun, before the session is asked to stop; once per run.
    void started();
    // The session stopped (true) or the time limit ran out first (false), just before the exit.
    void finished(bool sessionStopped);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void finish(bool sessionStopped);

    StopSession m_stopSession;
    std::function<void()> m_exit;
    std::chrono::milliseconds m_stopTimeLimit = defaultStopTimeLimit;
    QTimer m_deadline;
    TaskHandle<void> m_stop;
    bool m_quitting = false;
    bool m_finished = false;
};
