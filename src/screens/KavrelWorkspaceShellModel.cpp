#include "screens/KavrelWorkspaceShellModel.h"

#include "platform/UserDefaults.h"

#include <cmath>

bool KavrelSidebarVisibilityState::isSidebarHiddenForFocusMode() const
{
    return selectedSection == KavrelAppSection::workspace && isFocusModeEnabled;
}

bool KavrelSidebarVisibilityState::isSidebarHidden() const
{
    return isSidebarCollapsed || isSidebarHiddenForFocusMode();
}

KavrelSidebarVisibilityState KavrelSidebarVisibilityState::toggled() const
{
    if (!isSidebarHidden()) {
        KavrelSidebarVisibilityState next = *this;
        next.isSidebarCollapsed = true;
        return next;
    }
    return revealed();
}

KavrelSidebarVisibilityState KavrelSidebarVisibilityState::revealed() const
{
    KavrelSidebarVisibilityState next = *this;
    next.isSidebarCollapsed = false;
    if (next.isSidebarHiddenForFocusMode())
        next.isFocusModeEnabled = false;
    return next;
}

namespace KavrelSidebarReveal {

bool revealsOnRelease(QPointF translation)
{
    if (std::hypot(translation.x(), translation.y()) < minimumDragDistance)
        return true; // a click
    return translation.x() > revealDistance;
}

} // namespace KavrelSidebarReveal

KavrelWorkspaceShellModel::KavrelWorkspaceShellModel(UserDefaults &defaults, QObject *parent)
    : QObject(parent), m_defaults(&defaults)
{
    m_lastHidden = isSidebarHidden();
    connect(&defaults, &UserDefaults::valueChanged, this, &KavrelWorkspaceShellModel::storedValueChanged);
}

KavrelSidebarVisibilityState KavrelWorkspaceShellModel::state() const
{
    KavrelSidebarVisibilityState state;
    state.selectedSection = m_selectedSection;
    if (m_defaults) {
        state.isSidebarCollapsed = m_defaults->boolValue(QString::fromLatin1(sidebarCollapsedKey), false);
        state.isFocusModeEnabled = m_defaults->boolValue(QString::fromLatin1(focusModeKey), false);
    }
    return state;
}

void KavrelWorkspaceShellModel::selectSection(KavrelAppSection section)
{
    KavrelSidebarVisibilityState next = state();
    next.selectedSection = section;
    apply(next);
}

void KavrelWorkspaceShellModel::toggleSidebarVisibility()
{
    apply(state().toggled());
}

void KavrelWorkspaceShellModel::revealSidebar()
{
    apply(state().revealed());
}

void KavrelWorkspaceShellModel::apply(const KavrelSidebarVisibilityState &next)
{
    const KavrelSidebarVisibilityState current = state();
    const bool sectionChanged = next.selectedSection != m_selectedSection;
    m_selectedSection = next.selectedSection;
    // Each write reports itself through storedValueChanged().
    if (m_defaults && next.isSidebarCollapsed != current.isSidebarCollapsed)
        m_defaults->setBool(QString::fromLatin1(sidebarCollapsedKey), next.isSidebarCollapsed);
    if (m_defaults && next.isFocusModeEnabled != current.isFocusModeEnabled)
        m_defaults->setBool(QString::fromLatin1(focusModeKey), next.isFocusModeEnabled);
    if (sectionChanged) {
        Q_EMIT selectedSectionChanged(m_selectedSection);
        storedValueChanged(QString());
    }
}

void KavrelWorkspaceShellModel::storedValueChanged(const QString &key)
{
    if (!key.isEmpty() && key != QLatin1String(sidebarCollapsedKey) && key != QLatin1String(focusModeKey))
        return;
    Q_EMIT stateChanged();
    const bool hidden = isSidebarHidden();
    if (hidden != m_lastHidden) {
        m_lastHidden = hidden;
        Q_EMIT sidebarHiddenChanged(hidden);
    }
}
