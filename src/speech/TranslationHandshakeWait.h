#pragma once

#include "base/Continuation.h"

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>

// A translation client's wait for one step of its socket handshake ("hello", "ready") that
// an incoming message ends. A newer wait cancels the older one; a wait that times out is
// forgotten, so a late message finds nothing to end. Main thread only.
class TranslationHandshakeWait final
{
public:
    // Returns once resume() is called; throws what fail() is given, a CancellationError when a
    // newer wait starts, and timeoutError when the time-out passes first.
    QCoro::Task<void> wait(std::chrono::milliseconds timeout, std::exception_ptr timeoutError);
    // End the pending wait, if any.
    void resume();
    void fail(std::exception_ptr error);

private:
    using Slot = std::shared_ptr<Continuation<>::Pointer>;
    // The slot outlives its owner for a wait still under way.
    static QCoro::Task<void> waitIn(Slot slot, std::chrono::milliseconds timeout, std::exception_ptr timeoutError);

    Slot m_slot = std::make_shared<Continuation<>::Pointer>();
};
