#pragma once

#include <QString>
#include <QStringList>

// The configurable items of the backend configuration.
enum class AppConfigurationKind {
    authBackendBaseURL,
    microsoftClientID,
    defaultWorkspaceID,
};

namespace AppConfiguration {

// The environment variables consulted for the item, in lookup order.
QStringList environmentKeys(AppConfigurationKind kind);

} // namespace AppConfiguration
