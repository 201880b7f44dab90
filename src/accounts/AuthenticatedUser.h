#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

struct CurrentUserProfileResponse;

// The signed-in user. Backend replies spell its keys in several ways, so reading tries
// alternative keys in a fixed order; writing uses one spelling per field, all of which
// reading accepts, so a saved user reads back unchanged.
struct AuthenticatedUser
{
    struct WorkspaceReference
    {
        QString id;

        // Throws JsonDecodeError when "id" is missing or not a string.
        static WorkspaceReference fromJson(const QJsonValue &value, const QString &path = QString());
        QJsonObject toJson() const;
        bool operator==(const WorkspaceReference &) const = default;
    };

    QString id;
    QString email;
    QString displayName;
    std::optional<QString> avatarURL;
    std::optional<QString> workspaceID;
    std::optional<QString> defaultWorkspaceID;
    std::optional<QString> currentWorkspaceID;
    std::optional<bool> newbie;
    std::optional<WorkspaceReference> workspace;
    std::optional<WorkspaceReference> defaultWorkspace;
    std::optional<WorkspaceReference> currentWorkspace;
    std::optional<QList<WorkspaceReference>> workspaces;

    // Throws JsonDecodeError on a missing or blank id or e-mail and on any value of the
    // wrong type.
    static AuthenticatedUser fromJson(const QJsonObject &object, const QString &path = QString());
    QJsonObject toJson() const;

    // Up to two avatar letters: the first character of each of the first two words of the
    // display name, else the first character of the e-mail; upper-cased.
    QString initials() const;

    // The user with the profile's non-blank texts and its newbie flag merged in.
    AuthenticatedUser updating(const CurrentUserProfileResponse &profile) const;

    bool operator==(const AuthenticatedUser &) const = default;
};
