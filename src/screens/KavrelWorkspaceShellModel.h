#pragma once

#include "screens/KavrelAppSection.h"

#include <QObject>
#include <QPointF>
#include <QPointer>

class UserDefaults;

// What decides whether the shell's sidebar is shown: the user's collapse, the workspace's
// focus mode and the section on screen.
struct KavrelSidebarVisibilityState
{
    bool isSidebarCollapsed = false;
    bool isFocusModeEnabled = false;
    KavrelAppSection selectedSection = KavrelAppSection::workspace;

    // Focus mode hides the sidebar only over the listening workspace.
    bool isSidebarHiddenForFocusMode() const;
    bool isSidebarHidden() const;

    // The toolbar button: collapses a visible sidebar, else reveals it.
    KavrelSidebarVisibilityState toggled() const;
    // Clears the collapse, then switches focus mode off only when it still hides the sidebar.
    KavrelSidebarVisibilityState revealed() const;

    bool operator==(const KavrelSidebarVisibilityState &) const = default;
};

// The reveal tab's gesture: a press that moves less than a few pixels is a click (it reveals);
// a longer one is a drag, which reveals only when it ends far enough towards the content.
namespace KavrelSidebarReveal {
inline constexpr double minimumDragDistance = 4;
inline constexpr double revealDistance = 12;
bool revealsOnRelease(QPointF translation);
} // namespace KavrelSidebarReveal

// The shell's state: the two stored settings ("kavrel.sidebarCollapsed" and
// "kavrel.focusModeEnabled", the latter shared with the workspace view, which switches it
// itself) and the section on screen, which every new shell starts on the workspace. It follows
// changes of the stored settings made by anyone. Main thread only.
class KavrelWorkspaceShellModel final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *focusModeKey = "kavrel.focusModeEnabled";
    static constexpr const char *sidebarCollapsedKey = "kavrel.sidebarCollapsed";

    explicit KavrelWorkspaceShellModel(UserDefaults &defaults, QObject *parent = nullptr);

    KavrelSidebarVisibilityState state() const;
    bool isSidebarHidden() const { return state().isSidebarHidden(); }
    KavrelAppSection selectedSection() const { return m_selectedSection; }

    void selectSection(KavrelAppSection section);
    void toggleSidebarVisibility();
    void revealSidebar();

Q_SIGNALS:
    void selectedSectionChanged(KavrelAppSection section);
    void sidebarHiddenChanged(bool hidden);
    // Any of the three inputs changed.
    void stateChanged();

private:
    void apply(const KavrelSidebarVisibilityState &next);
    void storedValueChanged(const QString &key);

    QPointer<UserDefaults> m_defaults;
    KavrelAppSection m_selectedSection = KavrelAppSection::workspace;
    bool m_lastHidden = false;
};
