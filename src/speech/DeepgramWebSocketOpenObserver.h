#pragma once

#include "base/Continuation.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

// Turns the open callbacks of the speech-to-text sockets into exactly one awaited outcome
// per task identifier: success once the socket opened, or the DeepgramWebSocketOpenError of
// whatever happened first (a close, a transport failure, the time-out). The outcome may
// arrive before anyone waits; it is kept until the wait takes it. Every callback after the
// first outcome of an identifier is ignored, until prepare() is called for it again.
//
// The websocket layer reports on the main thread, so this needs no lock; waiters are still resumed on a later event-loop turn, never inside the
// callback that decided the outcome.
class DeepgramWebSocketOpenObserver final : public QObject
{
    Q_OBJECT

public:
    explicit DeepgramWebSocketOpenObserver(QObject *parent = nullptr);
    ~DeepgramWebSocketOpenObserver() override;

    // Forgets every trace of the identifier. Call it after creating a task and before
    // starting it, never while a wait for the same identifier is pending.
    void prepare(int taskIdentifier);
    // Returns when the socket opened; throws the DeepgramWebSocketOpenError of the first
    // failure, timedOut when nothing was decided within the time-out.
    QCoro::Task<void> waitForOpen(int taskIdentifier, std::chrono::milliseconds timeout);
    // Records or delivers an outcome (null: success). The first outcome wins.
    void complete(int taskIdentifier, std::exception_ptr failure);

    // The socket's callbacks.
    void didOpen(int taskIdentifier);
    // The reason is absent when the close carried none.
    void didClose(int taskIdentifier, int code, std::optional<QString> reason);
    // A completion without an error does nothing.
    void didCompleteWithError(int taskIdentifier, std::exception_ptr error);

private:

    QHash<int, Continuation<>::Pointer> m_continuations;
    QSet<int> m_completedTaskIDs;
    QHash<int, std::exception_ptr> m_completedResults;
};
