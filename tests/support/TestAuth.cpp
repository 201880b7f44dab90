#include "support/TestAuth.h"

#include "accounts/AuthService.h"
#include "platform/InMemorySecretStore.h"

#include <QTimeZone>

namespace TestAuth {

AuthSession defaultSession()
{
    AuthSession session;
    session.accessToken = QStringLiteral("test-access-token");
    session.refreshToken = QStringLiteral("test-refresh-token");
    session.tokenType = QStringLiteral("Bearer");
    session.expiresAt = QDateTime(QDate(2099, 1, 1), QTime(0, 0), Qt::UTC);
    session.user.id = QStringLiteral("user-1");
    session.user.email = QStringLiteral("ada@example.com");
    session.user.displayName = QStringLiteral("Ada Lovelace");
    session.user.workspaceID = QStringLiteral("workspace-1");
    return session;
}

AuthSession secondSession()
{
    AuthSession session = defaultSession();
    session.accessToken = QStringLiteral("second-access-token");
    session.refreshToken = QStringLiteral("second-refresh-token");
    session.user.id = QStringLiteral("user-2");
    session.user.email = QStringLiteral("grace@example.com");
    session.user.displayName = QStringLiteral("Grace Hopper");
    session.user.workspaceID = QStringLiteral("workspace-2");
    return session;
}

AppConfigurationStore configurationFor(const QUrl &baseUrl)
{
    const QString base = baseUrl.toString();
    return AppConfigurationStore(
        nullptr,
        [base](const QString &name) -> std::optional<QString> {
            if (name == QLatin1String("KAVREL_AUTH_BASE_URL"))
                return base;
            return std::nullopt;
        },
        [](const QString &) -> std::optional<QString> { return std::nullopt; });
}

std::unique_ptr<AuthService> signedInService(const QUrl &baseUrl, std::optional<AuthSession> session)
{
    auto *store = new InMemorySecretStore();
    if (session)
        store->setValue(QString::fromLatin1(AuthService::sessionAccount), session->toJsonBytes());
    return std::make_unique<AuthService>(configurationFor(baseUrl), store);
}

InMemorySecretStore *secretStoreOf(AuthService *service)
{
    return qobject_cast<InMemorySecretStore *>(service->secretStore());
}

} // namespace TestAuth
