#include "accounts/AppConfigurationStore.h"

#include "base/Text.h"
#include "platform/ApplicationInfo.h"
#include "platform/UserDefaults.h"

#include <QProcessEnvironment>

namespace {

std::optional<QString> readProcessEnvironment(const QString &name)
{
    // Read afresh on every call: the environment may change while the program runs.
    const QByteArray key = name.toLocal8Bit();
    if (!qEnvironmentVariableIsSet(key.constData()))
        return std::nullopt;
    return qEnvironmentVariable(key.constData());
}

std::optional<QString> savedKey(AppConfigurationKind kind)
{
    switch (kind) {
    case AppConfigurationKind::authBackendBaseURL:
        return QString::fromLatin1(AppConfigurationStore::savedAuthBackendBaseURLKey);
    case AppConfigurationKind::defaultWorkspaceID:
        return QString::fromLatin1(AppConfigurationStore::savedDefaultWorkspaceIDKey);
    case AppConfigurationKind::microsoftClientID:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

AppConfigurationStore::AppConfigurationStore(UserDefaults *defaults)
    : AppConfigurationStore(defaults, &readProcessEnvironment, &ApplicationInfo::value)
{
}

AppConfigurationStore::AppConfigurationStore(UserDefaults *defaults, EnvironmentReader environment, InfoTableReader infoTable)
    : m_defaults(defaults)
    , m_environment(std::move(environment))
    , m_infoTable(std::move(infoTable))
{
}

AppConfigurationStore AppConfigurationStore::createForApplication(UserDefaults *defaults)
{
    if (defaults) {
        defaults->remove(QStringLiteral("kavrel.savedDeepgramAPIKey"));
        defaults->remove(QStringLiteral("kavrel.savedDeepSeekAPIKey"));
    }
    return AppConfigurationStore(defaults);
}

UserDefaults *AppConfigurationStore::defaults() const
{
    return m_defaults.data();
}

std::optional<QString> AppConfigurationStore::usableValue(const QString &candidate)
{
    const QString value = Text::trimmed(candidate);
    if (value.isEmpty() || value.contains(QLatin1String("$(")))
        return std::nullopt;
    return value;
}

std::optional<QString> AppConfigurationStore::environmentValue(AppConfigurationKind kind) const
{
    if (!m_environment)
        return std::nullopt;
    for (const QString &name : AppConfiguration::environmentKeys(kind)) {
        const std::optional<QString> raw = m_environment(name);
        if (!raw)
            continue;
        if (auto value = usableValue(*raw))
            return value;
    }
    return std::nullopt;
}

std::optional<QString> AppConfigurationStore::bundledValue(AppConfigurationKind kind) const
{
    QString key;
    switch (kind) {
    case AppConfigurationKind::authBackendBaseURL:
        key = QString::fromLatin1(ApplicationInfo::AuthBackendBaseURLKey);
        break;
    case AppConfigurationKind::microsoftClientID:
        key = QString::fromLatin1(ApplicationInfo::MicrosoftClientIDKey);
        break;
    case AppConfigurationKind::defaultWorkspaceID:
        return std::nullopt;
    }
    if (!m_infoTable)
        return std::nullopt;
    const std::optional<QString> raw = m_infoTable(key);
    if (!raw)
        return std::nullopt;
    return usableValue(*raw);
}

QString AppConfigurationStore::resolvedValue(AppConfigurationKind kind) const
{
    if (auto value = environmentValue(kind))
        return *value;
    if (const auto key = savedKey(kind); key && m_defaults) {
        if (const auto saved = m_defaults->stringValue(*key)) {
            if (auto value = usableValue(*saved))
                return *value;
        }
    }
    if (auto value = bundledValue(kind))
        return *value;
    switch (kind) {
    case AppConfigurationKind::authBackendBaseURL:
        return builtInBackendBaseURL();
    case AppConfigurationKind::defaultWorkspaceID:
        return builtInDefaultWorkspaceID();
    case AppConfigurationKind::microsoftClientID:
        return QString();
    }
    return QString();
}

QString AppConfigurationStore::builtInBackendBaseURL()
{
    return QStringLiteral("https://api.kavrel.app");
}

QString AppConfigurationStore::builtInDefaultWorkspaceID()
{
    return QStringLiteral("9e4b7c21-3f6a-4d85-b0e2-71c5a8d3f690");
}
