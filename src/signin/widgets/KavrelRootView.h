#pragma once

#include "signin/AppPermissionsController.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class AuthSessionStore;
class PulseAudioContext;
class UserDefaults;

// The main window's content. It shows, in this order of precedence: the session-restore screen
// while the saved session is restored, the sign-in screen while nobody is signed in, the
// permissions onboarding until "kavrel.permissions.onboarding.version" is 1 or more, else the
// workspace shell.
//
// It holds one screen and makes a new one only when the choice changes, so a store signal
// that leaves the choice alone never resets a half-filled form; a change of the interface
// language rebuilds the screen in the new language. The screen that is left is discarded with
// its state.
class KavrelRootView final : public QWidget
{
    Q_OBJECT

public:
    enum class Branch { restoring, signedOut, onboarding, workspace };
    Q_ENUM(Branch)

    static constexpr const char *onboardingVersionKey = "kavrel.permissions.onboarding.version";

    struct Dependencies
    {
        AuthSessionStore *authStore = nullptr;
        UserDefaults *defaults = nullptr;
        // Makes the workspace shell each time it is shown; without one the branch is empty.
        std::function<QWidget *()> makeWorkspace;
        // Makes the onboarding's permission controller each time the onboarding is shown;
        // without one the onboarding asks audioServer.
        std::function<std::unique_ptr<AppPermissionsController>()> makePermissionsController;
        std::shared_ptr<PulseAudioContext> audioServer;
    };

    explicit KavrelRootView(Dependencies dependencies, QWidget *parent = nullptr);
    ~KavrelRootView() override;

    static Branch branchFor(bool isRestoringSession, bool isAuthenticated, qint64 onboardingVersion);

    Branch branch() const { return m_branch; }
    QWidget *currentScreen() const { return m_screen; }

private:
    void reevaluate();
    void showBranch(Branch branch);
    QWidget *makeScreen(Branch branch);
    void finishOnboarding();

    Dependencies m_dependencies;
    Branch m_branch = Branch::restoring;
    QPointer<QWidget> m_screen;
};
