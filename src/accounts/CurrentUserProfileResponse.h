#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// The reply of the current-user profile endpoint. Every field is optional and read as it
// stands, under one key each.
struct CurrentUserProfileResponse
{
    std::optional<QString> id;
    std::optional<QString> email;
    std::optional<QString> displayName;
    std::optional<QString> avatarURL;
    std::optional<bool> newbie;

    // Throws JsonDecodeError on a value of the wrong type.
    static CurrentUserProfileResponse fromJson(const QJsonObject &object);

    bool operator==(const CurrentUserProfileResponse &) const = default;
};
