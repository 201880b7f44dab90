#include "platform/ApplicationInfo.h"
#include "base/ApplicationInfoTable.h"

namespace ApplicationInfo {

std::optional<QString> value(const QString &key)
{
    const char *raw = nullptr;
    if (key == QLatin1String(ShortVersionKey))
        raw = KAVREL_INFO_SHORT_VERSION;
    else if (key == QLatin1String(BuildVersionKey))
        raw = KAVREL_INFO_BUILD_VERSION;
    else if (key == QLatin1String(BundleIdentifierKey))
        raw = KAVREL_INFO_BUNDLE_IDENTIFIER;
    else if (key == QLatin1String(AuthBackendBaseURLKey))
        raw = KAVREL_INFO_AUTH_BACKEND_BASE_URL;
    else if (key == QLatin1String(MicrosoftClientIDKey))
        raw = KAVREL_INFO_MICROSOFT_CLIENT_ID;
    else if (key == QLatin1String(UpdateFeedURLKey))
        raw = KAVREL_INFO_UPDATE_FEED_URL;
    if (!raw || raw[0] == '\0')
        return std::nullopt;
    return QString::fromUtf8(raw);
}

QString bundleIdentifier()
{
    return QStringLiteral(KAVREL_INFO_BUNDLE_IDENTIFIER);
}

QString shortVersion()
{
    return QStringLiteral(KAVREL_INFO_SHORT_VERSION);
}

QString buildVersion()
{
    return QStringLiteral(KAVREL_INFO_BUILD_VERSION);
}

QString displayName()
{
    return QStringLiteral("КАВРЕЛ");
}

} // namespace ApplicationInfo
