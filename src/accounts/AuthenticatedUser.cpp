#include "accounts/AuthenticatedUser.h"

#include "accounts/AuthMessages.h"
#include "base/Json.h"
#include "base/Text.h"

#include <QJsonArray>

namespace {

AuthenticatedUser::WorkspaceReference readWorkspace(const QJsonValue &value, const QString &path)
{
    return AuthenticatedUser::WorkspaceReference::fromJson(value, path);
}

QList<AuthenticatedUser::WorkspaceReference> readWorkspaces(const QJsonValue &value, const QString &path)
{
    if (!value.isArray())
        throw JsonDecodeError(path, QStringLiteral("expected an array"));
    const QJsonArray array = value.toArray();
    QList<AuthenticatedUser::WorkspaceReference> result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        result.append(readWorkspace(array.at(i), QStringLiteral("%1[%2]").arg(path).arg(i)));
    return result;
}

bool readBool(const QJsonValue &value, const QString &path)
{
    return Json::toBoolean(value, path);
}

// The first grapheme cluster of the text, upper-cased.
QString firstCharacterUpper(const QString &text)
{
    return Text::graphemePrefix(text, 1).toUpper();
}

} // namespace

AuthenticatedUser::WorkspaceReference AuthenticatedUser::WorkspaceReference::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    WorkspaceReference reference;
    reference.id = reader.string(QStringLiteral("id"));
    return reference;
}

QJsonObject AuthenticatedUser::WorkspaceReference::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    return object;
}

AuthenticatedUser AuthenticatedUser::fromJson(const QJsonObject &object, const QString &path)
{
    using namespace AuthJson;
    AuthenticatedUser user;
    user.id = decodeRequiredTrimmedString(object, {QStringLiteral("id")}, path);
    user.email = decodeRequiredTrimmedString(object, {QStringLiteral("email")}, path);
    user.displayName = decodeTrimmedStringIfPresent(
                           object, {QStringLiteral("display_name"), QStringLiteral("displayName"), QStringLiteral("name")}, path)
                           .value_or(user.email);
    user.avatarURL = decodeTrimmedStringIfPresent(object, {QStringLiteral("avatar_url"), QStringLiteral("avatarUrl")}, path);
    user.workspaceID = decodeTrimmedStringIfPresent(object, {QStringLiteral("workspaceId"), QStringLiteral("workspace_id")}, path);
    user.defaultWorkspaceID = decodeTrimmedStringIfPresent(
        object, {QStringLiteral("defaultWorkspaceId"), QStringLiteral("default_workspace_id")}, path);
    user.currentWorkspaceID = decodeTrimmedStringIfPresent(
        object, {QStringLiteral("currentWorkspaceId"), QStringLiteral("current_workspace_id")}, path);
    user.newbie = decodeIfPresent<bool>(object, {QStringLiteral("newbie")}, &readBool, path);
    user.workspace = decodeIfPresent<WorkspaceReference>(object, {QStringLiteral("workspace")}, &readWorkspace, path);
    user.defaultWorkspace = decodeIfPresent<WorkspaceReference>(
        object, {QStringLiteral("defaultWorkspace"), QStringLiteral("default_workspace")}, &readWorkspace, path);
    user.currentWorkspace = decodeIfPresent<WorkspaceReference>(
        object, {QStringLiteral("currentWorkspace"), QStringLiteral("current_workspace")}, &readWorkspace, path);
    user.workspaces = decodeIfPresent<QList<WorkspaceReference>>(object, {QStringLiteral("workspaces")}, &readWorkspaces, path);
    return user;
}

QJsonObject AuthenticatedUser::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("email"), email);
    object.insert(QStringLiteral("display_name"), displayName);
    Json::putOptional(object, QStringLiteral("avatar_url"), avatarURL);
    Json::putOptional(object, QStringLiteral("workspaceId"), workspaceID);
    Json::putOptional(object, QStringLiteral("defaultWorkspaceId"), defaultWorkspaceID);
    Json::putOptional(object, QStringLiteral("currentWorkspaceId"), currentWorkspaceID);
    Json::putOptional(object, QStringLiteral("newbie"), newbie);
    if (workspace)
        object.insert(QStringLiteral("workspace"), workspace->toJson());
    if (defaultWorkspace)
        object.insert(QStringLiteral("defaultWorkspace"), defaultWorkspace->toJson());
    if (currentWorkspace)
        object.insert(QStringLiteral("currentWorkspace"), currentWorkspace->toJson());
    if (workspaces) {
        QJsonArray array;
        for (const WorkspaceReference &reference : *workspaces)
            array.append(reference.toJson());
        object.insert(QStringLiteral("workspaces"), array);
    }
    return object;
}

QString AuthenticatedUser::initials() const
{
    QString letters;
    int words = 0;
    qsizetype i = 0;
    const qsizetype length = displayName.size();
    while (i < length && words < 2) {
        while (i < length && displayName.at(i).isSpace())
            ++i;
        if (i >= length)
            break;
        qsizetype end = i;
        while (end < length && !displayName.at(end).isSpace())
            ++end;
        letters += Text::graphemePrefix(displayName.mid(i, end - i), 1);
        ++words;
        i = end;
    }
    if (!letters.isEmpty())
        return letters.toUpper();
    return firstCharacterUpper(email);
}

AuthenticatedUser AuthenticatedUser::updating(const CurrentUserProfileResponse &profile) const
{
    AuthenticatedUser user = *this;
    if (auto value = Text::nilIfEmpty(profile.id))
        user.id = *value;
    if (auto value = Text::nilIfEmpty(profile.email))
        user.email = *value;
    if (auto value = Text::nilIfEmpty(profile.displayName))
        user.displayName = *value;
    if (auto value = Text::nilIfEmpty(profile.avatarURL))
        user.avatarURL = *value;
    if (profile.newbie)
        user.newbie = profile.newbie;
    return user;
}
