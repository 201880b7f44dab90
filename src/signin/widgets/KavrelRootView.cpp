#include "signin/widgets/KavrelRootView.h"

#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/PulseAudioContext.h"
#include "platform/UserDefaults.h"
#include "signin/PulseAudioMicrophoneAuthorization.h"
#include "signin/widgets/AuthenticationLoadingView.h"
#include "signin/widgets/AuthenticationView.h"
#include "signin/widgets/PermissionsOnboardingView.h"

#include <QVBoxLayout>

KavrelRootView::KavrelRootView(Dependencies dependencies, QWidget *parent)
    : QWidget(parent)
    , m_dependencies(std::move(dependencies))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    const QString key = QString::fromLatin1(onboardingVersionKey);
    if (AuthSessionStore *store = m_dependencies.authStore) {
        connect(store, &AuthSessionStore::sessionChanged, this, &KavrelRootView::reevaluate);
        connect(store, &AuthSessionStore::isRestoringSessionChanged, this, &KavrelRootView::reevaluate);
    }
    if (UserDefaults *defaults = m_dependencies.defaults) {
        connect(defaults, &UserDefaults::valueChanged, this, [this, key](const QString &changed) {
            if (changed == key)
                reevaluate();
        });
    }
    // A new language rebuilds whatever is shown, from its initial state.
    connect(&KavrelLocalizationStore::shared(), &KavrelLocalizationStore::languageChanged, this,
            [this] { showBranch(m_branch); });

    showBranch(branchFor(m_dependencies.authStore ? m_dependencies.authStore->isRestoringSession() : true,
                   m_dependencies.authStore && m_dependencies.authStore->isAuthenticated(),
                   m_dependencies.defaults ? m_dependencies.defaults->integerValue(key, 0) : 0));
}

KavrelRootView::~KavrelRootView() = default;

KavrelRootView::Branch KavrelRootView::branchFor(bool isRestoringSession, bool isAuthenticated, qint64 onboardingVersion)
{
    if (isRestoringSession)
        return Branch::restoring;
    if (!isAuthenticated)
        return Branch::signedOut;
    return onboardingVersion < 1 ? Branch::onboarding : Branch::workspace;
}

void KavrelRootView::reevaluate()
{
    const AuthSessionStore *store = m_dependencies.authStore;
    const qint64 version = m_dependencies.defaults
        ? m_dependencies.defaults->integerValue(QString::fromLatin1(onboardingVersionKey), 0)
        : 0;
    const Branch branch = branchFor(!store || store->isRestoringSession(), store && store->isAuthenticated(), version);
    if (branch != m_branch || !m_screen)
        showBranch(branch);
}

void KavrelRootView::showBranch(Branch branch)
{
    // The old screen may be the sender of what brought us here (a button of the onboarding),
    // so it goes on the next turn; nothing of it is shown or heard from meanwhile.
    if (m_screen) {
        m_screen->hide();
        layout()->removeWidget(m_screen);
        m_screen->deleteLater();
    }
    m_branch = branch;
    m_screen = makeScreen(branch);
    layout()->addWidget(m_screen);
    m_screen->show();
}

QWidget *KavrelRootView::makeScreen(Branch branch)
{
    switch (branch) {
    case Branch::restoring:
        return new AuthenticationLoadingView(this);
    case Branch::signedOut:
        return new AuthenticationView(m_dependencies.authStore, this);
    case Branch::onboarding: {
        std::unique_ptr<AppPermissionsController> controller =
            m_dependencies.makePermissionsController
                ? m_dependencies.makePermissionsController()
                : std::make_unique<AppPermissionsController>(
                      std::make_shared<PulseAudioMicrophoneAuthorization>(m_dependencies.audioServer));
        return new PermissionsOnboardingView(std::move(controller), [this] { finishOnboarding(); }, this);
    }
    case Branch::workspace:
        if (m_dependencies.makeWorkspace) {
            QWidget *workspace = m_dependencies.makeWorkspace();
            workspace->setParent(this);
            return workspace;
        }
        return new QWidget(this);
    }
    return new QWidget(this);
}

void KavrelRootView::finishOnboarding()
{
    // Ends the onboarding for good: the value outlives sign-outs, other accounts and relaunches.
    if (m_dependencies.defaults)
        m_dependencies.defaults->setInteger(QString::fromLatin1(onboardingVersionKey), 1);
}
