#pragma once

#include "screens/KavrelAppSection.h"

#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>
#include <memory>

class AuthSessionStore;
class KavrelAppearTransition;
class KavrelAvatarLoader;
class KavrelSidebarRevealTab;
class KavrelSidebarView;
class KavrelSidebarVisibilityButton;
class KavrelUpdateController;
class KavrelWorkspaceShellModel;
class QVBoxLayout;
class UserDefaults;

// The signed-in main window's content: the sidebar on the leading side and the selected
// section (listening workspace, profile, history) beside it. The user may collapse the
// sidebar, and the workspace's focus mode hides it over the workspace; the toolbar button
// and the tab on the leading edge bring it back.
//
// The section views come from factories, made anew each time their section is selected.
class KavrelWorkspaceShellView final : public QWidget
{
    Q_OBJECT

public:
    using SectionFactory = std::function<QWidget *()>;

    struct Dependencies
    {
        UserDefaults *defaults = nullptr;
        AuthSessionStore *authStore = nullptr;
        KavrelUpdateController *updateController = nullptr;
        // Without one the shell keeps its own.
        KavrelAvatarLoader *avatarLoader = nullptr;
        // Opens a window by its identifier ("kavrel-settings") and brings it forward.
        std::function<void(const QString &)> openWindow;
        // The sidebar's account menu offers Quit by this, when given.
        std::function<void()> quit;
        // The listening workspace (ContentView, made by the program over its session objects).
        SectionFactory makeWorkspace;
        // Without one, the profile section is KavrelProfileView over the store.
        SectionFactory makeProfile;
        // Without one, the history section is KavrelHistoryView over the store's auth service.
        SectionFactory makeHistory;
    };

    explicit KavrelWorkspaceShellView(Dependencies dependencies, QWidget *parent = nullptr);
    ~KavrelWorkspaceShellView() override;

    KavrelWorkspaceShellModel *model() const { return m_model.get(); }
    KavrelSidebarView *sidebar() const { return m_sidebar; }
    KavrelSidebarRevealTab *revealTab() const { return m_revealTab; }
    KavrelSidebarVisibilityButton *visibilityButton() const { return m_visibilityButton; }
    QWidget *currentSection() const { return m_section; }

    // Ends the sidebar's slide and the tab's transition at once (tests and screenshots).
    void finishAnimation();
    bool isAnimating() const;
    void setAnimationDuration(int milliseconds) { m_slide.setDuration(milliseconds); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showSection(KavrelAppSection section);
    void followSidebarHidden(bool hidden);
    void placeRevealTab();
    void placeSidebar();

    Dependencies m_dependencies;
    std::unique_ptr<KavrelAvatarLoader> m_ownAvatarLoader;
    std::unique_ptr<KavrelWorkspaceShellModel> m_model;
    QWidget *m_sidebarStrip = nullptr;
    KavrelSidebarView *m_sidebar = nullptr;
    KavrelSidebarRevealTab *m_revealTab = nullptr;
    KavrelSidebarVisibilityButton *m_visibilityButton = nullptr;
    QVBoxLayout *m_sectionSlot = nullptr;
    QPointer<QWidget> m_section;
    QVariantAnimation m_slide;
    KavrelAppearTransition *m_revealTabTransition = nullptr;
};
