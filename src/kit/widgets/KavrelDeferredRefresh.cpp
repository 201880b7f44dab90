#include "kit/widgets/KavrelDeferredRefresh.h"

#include <QTimer>

KavrelDeferredRefresh::KavrelDeferredRefresh(QObject *owner, std::function<void()> refresh)
    : m_owner(owner)
    , m_refresh(std::move(refresh))
{
}

void KavrelDeferredRefresh::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, m_owner, [this] {
        if (m_scheduled)
            m_refresh();
    });
}
