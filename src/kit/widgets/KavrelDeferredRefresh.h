#pragma once

#include <QObject>

#include <functional>

// A view's refresh, run once on the next turn of the event loop however often it was asked
// for in this one. A refresh that runs directly in between calls done(), so the pending one
// is skipped.
class KavrelDeferredRefresh final
{
public:
    // `owner` holds this object; the refresh runs on its thread and never after it is gone.
    KavrelDeferredRefresh(QObject *owner, std::function<void()> refresh);

    KavrelDeferredRefresh(const KavrelDeferredRefresh &) = delete;
    KavrelDeferredRefresh &operator=(const KavrelDeferredRefresh &) = delete;

    void schedule();
    // Called at the start of the refresh: nothing is pending any more.
    void done() { m_scheduled = false; }
    bool isScheduled() const { return m_scheduled; }

private:
    QObject *m_owner;
    std::function<void()> m_refresh;
    bool m_scheduled = false;
};
