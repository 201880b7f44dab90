#pragma once

#include "screens/KavrelAppSection.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class AuthSessionStore;
class KavrelAppearTransition;
class KavrelAvatarLoader;
class KavrelAvatarView;
class KavrelSidebarButton;
class KavrelSidebarUpdateButton;
class KavrelUpdateController;
class KavrelWorkspaceShellModel;
class QVBoxLayout;

// The shell's narrow column: the application mark, a button per section, Settings, the
// Update button while a newer version is known, and the signed-in user's avatar, whose
// context menu signs out. Where the column is too short for all of it, the mark gives way and
// the gaps narrow (its compact form); it takes its roomy form back only with room to spare, so a
// height at the border keeps whichever form it has.
class KavrelSidebarView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int columnWidth = 138;
    // How far above the height the roomy form needs a compact column must be before it turns
    // roomy again.
    static constexpr int formMargin = 16;

    struct Dependencies
    {
        KavrelWorkspaceShellModel *model = nullptr;
        AuthSessionStore *authStore = nullptr;
        KavrelUpdateController *updateController = nullptr;
        KavrelAvatarLoader *avatarLoader = nullptr;
        // Opens the settings window and brings it forward.
        std::function<void()> openSettings;
        // Where the program has no other Quit (no tray shows it), the account menu quits by this.
        std::function<void()> quit;
    };

    explicit KavrelSidebarView(Dependencies dependencies, QWidget *parent = nullptr);

    QList<KavrelSidebarButton *> sectionButtons() const { return m_sectionButtons; }
    KavrelSidebarButton *settingsButton() const { return m_settingsButton; }
    KavrelSidebarUpdateButton *updateButton() const { return m_updateButton; }
    QWidget *accountPanel() const { return m_accountPanel; }
    KavrelAvatarView *avatar() const { return m_avatar; }
    // The Update button's coming and going.
    KavrelAppearTransition *updateButtonTransition() const { return m_updateTransition; }

    // The menu the account panel shows on a secondary click.
    void showAccountMenu(const QPoint &globalPosition);

    bool isCompact() const { return m_compact; }
    // The least height of the column in either form with what it shows now (the Update button
    // counted from when it is on its way in until it has left).
    int heightNeeded(bool compact) const;

Q_SIGNALS:
    void compactChanged(bool compact);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *makeAppMark();
    void fitColumn();
    void setCompact(bool compact);
    QWidget *makeAccountPanel();
    void followSelection();
    void followUpdate();
    void followUser();

    Dependencies m_dependencies;
    QWidget *m_appMark = nullptr;
    QVBoxLayout *m_buttonColumn = nullptr;
    bool m_compact = false;
    QList<KavrelSidebarButton *> m_sectionButtons;
    KavrelSidebarButton *m_settingsButton = nullptr;
    KavrelSidebarUpdateButton *m_updateButton = nullptr;
    KavrelAppearTransition *m_updateTransition = nullptr;
    QWidget *m_accountPanel = nullptr;
    KavrelAvatarView *m_avatar = nullptr;
};
