#pragma once

#include <QString>
#include <optional>

// The application's information table, fixed at build time.
namespace ApplicationInfo {

inline constexpr const char *ShortVersionKey = "CFBundleShortVersionString";
inline constexpr const char *BuildVersionKey = "CFBundleVersion";
inline constexpr const char *BundleIdentifierKey = "CFBundleIdentifier";
inline constexpr const char *AuthBackendBaseURLKey = "KavrelAuthBackendBaseURL";
inline constexpr const char *MicrosoftClientIDKey = "KavrelMicrosoftClientID";
// Where the update controller reads the newest version; absent when updates come only from the package.
inline constexpr const char *UpdateFeedURLKey = "KavrelUpdateFeedURL";

// The value of a key, or nothing when the table lacks it.
std::optional<QString> value(const QString &key);

QString bundleIdentifier();
QString shortVersion();
QString buildVersion();
// The display name of the program.
QString displayName();

} // namespace ApplicationInfo
