#include "app/KavrelGracefulQuit.h"

#include "base/KavrelDiagnostics.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

KavrelGracefulQuit::KavrelGracefulQuit(StopSession stopSession, QObject *parent)
    : QObject(parent)
    , m_stopSession(std::move(stopSession))
    , m_exit([] { QCoreApplication::exit(0); })
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { finish(false); });
}

void KavrelGracefulQuit::interceptQuitOf(QCoreApplication &application)
{
    application.installEventFilter(this);
}

bool KavrelGracefulQuit::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Quit && !m_finished && watched == QCoreApplication::instance()) {
        requestQuit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void KavrelGracefulQuit::requestQuit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    qCInfo(KavrelDiagnostics::app()) << "quitting: stopping the session first";
    Q_EMIT started();
    m_deadline.start(m_stopTimeLimit);
    StopSession stop = m_stopSession;
    m_stop = spawnTask([stop](CancellationToken) -> QCoro::Task<void> {
        if (stop)
            return stop();
        return []() -> QCoro::Task<void> { co_return; }();
    });
    QPointer<KavrelGracefulQuit> self(this);
    m_stop.onFinished([self] {
        if (self)
            self->finish(true);
    });
}

void KavrelGracefulQuit::finish(bool sessionStopped)
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline.stop();
    if (!sessionStopped)
        qCWarning(KavrelDiagnostics::app()) << "quitting: the session did not stop in time";
    Q_EMIT finished(sessionStopped);
    if (m_exit)
        m_exit();
}
