#include "workspace/WorkspaceStartRoad.h"

#include "accounts/AuthSessionStore.h"
#include "app/KavrelListeningStarter.h"
#include "app/KavrelSessionSurface.h"
#include "base/Async.h"
#include "base/KavrelDiagnostics.h"

WorkspaceStartRoad::WorkspaceStartRoad(AuthSessionStore *authStore, KavrelSessionSurface *session,
                                       KavrelListeningStarter *starter, QObject *parent)
    : QObject(parent), m_authStore(authStore), m_session(session), m_starter(starter)
{
}

void WorkspaceStartRoad::prepareListeningSetupAfterAuthRefresh()
{
    QPointer<WorkspaceStartRoad> self(this);
    QPointer<AuthSessionStore> authStore = m_authStore;
    QPointer<KavrelSessionSurface> session = m_session;
    spawnTask([self, authStore, session](CancellationToken) -> QCoro::Task<void> {
        std::optional<QString> failure;
        try {
            if (!authStore)
                throw CancellationError();
            co_await authStore->ensureActiveSession();
        } catch (...) {
            failure = errorMessage(std::current_exception());
        }
        try {
            if (!failure) {
                // The window may have closed while the refresh ran.
                if (self)
                    self->setListeningSetupPresented(true);
            } else if (session) {
                const std::optional<QString> storeMessage = authStore ? authStore->errorMessage() : std::nullopt;
                session->setErrorMessage(storeMessage ? storeMessage : failure);
            }
        } catch (...) {
            qCWarning(KavrelDiagnostics::app()).noquote() << "opening the listening setup failed:"
                                                         << errorMessage(std::current_exception());
        }
    });
}

void WorkspaceStartRoad::startFromSetup()
{
    m_shouldStartListeningAfterSetup = true;
    setListeningSetupPresented(false);
}

void WorkspaceStartRoad::setListeningSetupPresented(bool presented)
{
    if (m_isListeningSetupPresented == presented)
        return;
    m_isListeningSetupPresented = presented;
    Q_EMIT listeningSetupPresentedChanged(presented);
    if (!presented && m_shouldStartListeningAfterSetup) {
        m_shouldStartListeningAfterSetup = false;
        startListeningAfterAuthRefresh();
    }
}

void WorkspaceStartRoad::startListeningAfterAuthRefresh()
{
    if (m_starter)
        m_starter->startListeningAfterAuthRefresh({});
}
