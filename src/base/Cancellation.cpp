#include "base/Cancellation.h"
#include "base/KavrelError.h"

#include <vector>
#include <utility>

struct CancellationToken::State
{
    bool cancelled = false;
    CallbackId nextId = 1;
    std::vector<std::pair<CallbackId, std::function<void()>>> callbacks;
};

CancellationToken::CancellationToken()
    : m_state(std::make_shared<State>())
{
}

void CancellationToken::cancel() const
{
    // Hold the state: a callback may destroy the token this was called on.
    const std::shared_ptr<State> state = m_state;
    if (state->cancelled)
        return;
    state->cancelled = true;
    // Take callbacks one at a time so that one removed by an earlier callback never runs.
    while (!state->callbacks.empty()) {
        auto callback = std::move(state->callbacks.front().second);
        state->callbacks.erase(state->callbacks.begin());
        callback();
    }
}

bool CancellationToken::isCancelled() const
{
    return m_state->cancelled;
}

void CancellationToken::throwIfCancelled() const
{
    if (m_state->cancelled)
        throw CancellationError();
}

CancellationToken::CallbackId CancellationToken::onCancel(std::function<void()> callback) const
{
    if (m_state->cancelled) {
        callback();
        return 0;
    }
    const CallbackId id = m_state->nextId++;
    m_state->callbacks.emplace_back(id, std::move(callback));
    return id;
}

void CancellationToken::removeCallback(CallbackId id) const
{
    if (id == 0)
        return;
    auto &callbacks = m_state->callbacks;
    for (auto it = callbacks.begin(); it != callbacks.end(); ++it) {
        if (it->first == id) {
            callbacks.erase(it);
            return;
        }
    }
}
