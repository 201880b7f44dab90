#include "screens/KavrelSettingsModel.h"

#include "platform/UserDefaults.h"

namespace {

KavrelAppearanceMode readAppearance(const UserDefaults *defaults)
{
    if (!defaults)
        return KavrelAppearanceMode::system;
    const QString stored = defaults->stringValue(QString::fromLatin1(KavrelAppearance::defaultsKey), QStringLiteral("system"));
    return KavrelAppearance::fromRawValue(stored).value_or(KavrelAppearanceMode::system);
}

bool readMiniWindowEnabled(const UserDefaults *defaults)
{
    return defaults ? defaults->boolValue(QString::fromLatin1(KavrelSettingsModel::miniWindowEnabledKey), true) : true;
}

} // namespace

KavrelSettingsModel::KavrelSettingsModel(UserDefaults &defaults, std::function<void()> closeMiniWindow, QObject *parent)
    : QObject(parent),
      m_defaults(&defaults),
      m_closeMiniWindow(std::move(closeMiniWindow)),
      m_appearanceMode(readAppearance(&defaults)),
      m_isMiniWindowEnabled(readMiniWindowEnabled(&defaults))
{
    connect(&defaults, &UserDefaults::valueChanged, this, &KavrelSettingsModel::storedValueChanged);
}

KavrelAppearanceMode KavrelSettingsModel::appearanceMode() const
{
    return m_appearanceMode;
}

void KavrelSettingsModel::setAppearanceMode(KavrelAppearanceMode mode)
{
    if (m_defaults)
        m_defaults->setString(QString::fromLatin1(KavrelAppearance::defaultsKey), KavrelAppearance::rawValue(mode));
}

bool KavrelSettingsModel::isMiniWindowEnabled() const
{
    return m_isMiniWindowEnabled;
}

void KavrelSettingsModel::setMiniWindowEnabled(bool enabled)
{
    if (m_defaults)
        m_defaults->setBool(QString::fromLatin1(miniWindowEnabledKey), enabled);
}

void KavrelSettingsModel::storedValueChanged(const QString &key)
{
    if (key == QLatin1String(KavrelAppearance::defaultsKey)) {
        const KavrelAppearanceMode mode = readAppearance(m_defaults);
        if (mode != m_appearanceMode) {
            m_appearanceMode = mode;
            Q_EMIT appearanceModeChanged(mode);
        }
    } else if (key == QLatin1String(miniWindowEnabledKey)) {
        const bool enabled = readMiniWindowEnabled(m_defaults);
        if (enabled == m_isMiniWindowEnabled)
            return;
        m_isMiniWindowEnabled = enabled;
        if (!enabled && m_closeMiniWindow)
            m_closeMiniWindow();
        Q_EMIT miniWindowEnabledChanged(enabled);
    }
}
