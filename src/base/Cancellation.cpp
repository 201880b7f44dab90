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
    if (m_state->cancelled)
        return;
    m_state->cancelled = true;
    auto callbacks = std::move(m_state->callbacks);
    m_state->callbacks.clear();
    for (auto &entry : callbacks)
        entry.second();
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
