#pragma once

#include "accounts/AppConfigurationKind.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class UserDefaults;

// Resolves the backend base URL and the default workspace id from, in this order, the
// process environment, a saved preference, the application's information table and a
// built-in value. Nothing is cached: every call reads its sources again, so a changed
// setting takes effect on the next request. Copies are cheap and read the same sources.
class AppConfigurationStore final
{
public:
    // Reads one variable of the process environment (nothing when it is unset).
    using EnvironmentReader = std::function<std::optional<QString>(const QString &name)>;
    // Reads one key of the information table (nothing when the table lacks it).
    using InfoTableReader = std::function<std::optional<QString>(const QString &key)>;

    static constexpr const char *savedAuthBackendBaseURLKey = "kavrel.savedAuthBackendBaseURL";
    static constexpr const char *savedDefaultWorkspaceIDKey = "kavrel.savedDefaultWorkspaceID";

    // Reads the real process environment and the compiled-in information table. The
    // defaults are not owned; a store whose defaults are gone reads no saved values.
    explicit AppConfigurationStore(UserDefaults *defaults);
    // Tests inject the environment and the information table.
    AppConfigurationStore(UserDefaults *defaults, EnvironmentReader environment, InfoTableReader infoTable);

    // The program's store: as the plain constructor, and it also removes two preference
    // keys that held provider keys in earlier builds and that nothing reads any more.
    static AppConfigurationStore createForApplication(UserDefaults *defaults);

    UserDefaults *defaults() const;

    // The first usable value among the item's environment variables.
    std::optional<QString> environmentValue(AppConfigurationKind kind) const;
    // The usable information-table value of the base URL or the Microsoft client id;
    // nothing for the default workspace id.
    std::optional<QString> bundledValue(AppConfigurationKind kind) const;
    // The value after the whole lookup chain. Defined for authBackendBaseURL and
    // defaultWorkspaceID; microsoftClientID has no saved key and no built-in value and
    // yields an empty string when environment and information table have none.
    QString resolvedValue(AppConfigurationKind kind) const;

    // The built-in production backend origin, https and without a trailing slash.
    static QString builtInBackendBaseURL();
    static QString builtInDefaultWorkspaceID();

    // Trimmed, non-empty and free of an unexpanded "$(" build variable; else nothing.
    static std::optional<QString> usableValue(const QString &candidate);

private:
    QPointer<UserDefaults> m_defaults;
    EnvironmentReader m_environment;
    InfoTableReader m_infoTable;
};
