#include "session/KavrelListeningStarter.h"

#include "accounts/AuthSessionStore.h"
#include "session/KavrelSessionSurface.h"
#include "base/Async.h"
#include "base/KavrelDiagnostics.h"

KavrelListeningStarter::KavrelListeningStarter(AuthSessionStore *authStore, KavrelSessionSurface *session, QObject *parent)
    : QObject(parent), m_authStore(authStore), m_session(session)
{
}

void KavrelListeningStarter::startListeningAfterAuthRefresh(std::function<void()> afterwards)
{
    QPointer<KavrelSessionSurface> session = m_session;
    runAfterAuthRefresh(
        m_authStore, session,
        [session] {
            if (session)
                session->promptAndStartListening(session->startsWithMicrophoneEnabled());
        },
        std::move(afterwards), "starting to listen failed:");
}

void KavrelListeningStarter::runAfterAuthRefresh(QPointer<AuthSessionStore> authStore, QPointer<KavrelSessionSurface> session,
                                                 std::function<void()> refreshed, std::function<void()> afterwards,
                                                 const char *failureLog)
{
    spawnTask([authStore, session, refreshed, afterwards, failureLog](CancellationToken) -> QCoro::Task<void> {
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
                if (refreshed)
                    refreshed();
            } else if (session) {
                const std::optional<QString> storeMessage = authStore ? authStore->errorMessage() : std::nullopt;
                session->setErrorMessage(storeMessage ? storeMessage : failure);
            }
            if (afterwards)
                afterwards();
        } catch (...) {
            qCWarning(KavrelDiagnostics::app()).noquote() << failureLog << errorMessage(std::current_exception());
        }
    });
}
