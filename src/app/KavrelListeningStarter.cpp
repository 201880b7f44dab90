#include "app/KavrelListeningStarter.h"

#include "accounts/AuthSessionStore.h"
#include "app/KavrelSessionSurface.h"
#include "base/Async.h"
#include "base/KavrelDiagnostics.h"

KavrelListeningStarter::KavrelListeningStarter(AuthSessionStore *authStore, KavrelSessionSurface *session, QObject *parent)
    : QObject(parent), m_authStore(authStore), m_session(session)
{
}

void KavrelListeningStarter::startListeningAfterAuthRefresh(std::function<void()> afterwards)
{
    QPointer<AuthSessionStore> authStore = m_authStore;
    QPointer<KavrelSessionSurface> session = m_session;
    spawnTask([authStore, session, afterwards](CancellationToken) -> QCoro::Task<void> {
        std::optional<QString> failure;
        try {
            if (!authStore)
                throw CancellationError();
            co_await authStore->ensureActiveSession();
        } catch (...) {
            failure = errorMessage(std::current_exception());
        }
        // The stores may have gone while the refresh ran.
        try {
            if (!failure) {
                if (session)
                    session->promptAndStartListening(session->startsWithMicrophoneEnabled());
            } else if (session) {
                const std::optional<QString> storeMessage = authStore ? authStore->errorMessage() : std::nullopt;
                session->setErrorMessage(storeMessage ? storeMessage : failure);
            }
            if (afterwards)
                afterwards();
        } catch (...) {
            qCWarning(KavrelDiagnostics::app()).noquote() << "starting to listen failed:" << errorMessage(std::current_exception());
        }
    });
}
