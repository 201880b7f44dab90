#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

// A shared cancellation flag. Copies refer to the same flag. Used on the main thread only.
class CancellationToken
{
public:
    using CallbackId = quint64;

    CancellationToken();

    void cancel() const;
    bool isCancelled() const;
    // Throws CancellationError when cancelled.
    void throwIfCancelled() const;

    // Runs the callback once when the token is cancelled (at once if it already is; then 0
    // is returned). Callbacks run synchronously inside cancel().
    CallbackId onCancel(std::function<void()> callback) const;
    void removeCallback(CallbackId id) const;

    bool operator==(const CancellationToken &other) const { return m_state == other.m_state; }

private:
    struct State;
    std::shared_ptr<State> m_state;
};
