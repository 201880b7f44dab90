#include "accounts/CurrentUserProfileResponse.h"

#include "base/Json.h"

CurrentUserProfileResponse CurrentUserProfileResponse::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    CurrentUserProfileResponse profile;
    profile.id = reader.optionalString(QStringLiteral("id"));
    profile.email = reader.optionalString(QStringLiteral("email"));
    profile.displayName = reader.optionalString(QStringLiteral("display_name"));
    profile.avatarURL = reader.optionalString(QStringLiteral("avatar_url"));
    profile.newbie = reader.optionalBoolean(QStringLiteral("newbie"));
    return profile;
}
