#include "accounts/AppConfigurationKind.h"

namespace AppConfiguration {

QStringList environmentKeys(AppConfigurationKind kind)
{
    switch (kind) {
    case AppConfigurationKind::authBackendBaseURL:
        return {QStringLiteral("KAVREL_AUTH_BASE_URL")};
    case AppConfigurationKind::microsoftClientID:
        return {QStringLiteral("KAVREL_MICROSOFT_CLIENT_ID"), QStringLiteral("MICROSOFT_CLIENT_ID"),
                QStringLiteral("VITE_MICROSOFT_CLIENT_ID_PROD"), QStringLiteral("VITE_MICROSOFT_CLIENT_ID")};
    case AppConfigurationKind::defaultWorkspaceID:
        return {QStringLiteral("KAVREL_DEFAULT_WORKSPACE_ID")};
    }
    return {};
}

} // namespace AppConfiguration
