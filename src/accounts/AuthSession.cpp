#include "accounts/AuthSession.h"

#include "base/Dates.h"
#include "base/Json.h"

AuthSession AuthSession::fromJson(const QJsonObject &object, const QString &path)
{
    const JsonReader reader(object, path);
    AuthSession session;
    session.accessToken = reader.string(QStringLiteral("accessToken"));
    session.refreshToken = reader.string(QStringLiteral("refreshToken"));
    session.tokenType = reader.string(QStringLiteral("tokenType"));
    const QString expiresAtKey = QStringLiteral("expiresAt");
    if (!reader.has(expiresAtKey))
        reader.fail(expiresAtKey, QStringLiteral("missing key"));
    session.expiresAt = Dates::decodeBackendDate(object.value(expiresAtKey), reader.pathOf(expiresAtKey));
    session.user = AuthenticatedUser::fromJson(reader.object(QStringLiteral("user")).object(), reader.pathOf(QStringLiteral("user")));
    return session;
}

AuthSession AuthSession::fromJsonBytes(const QByteArray &bytes)
{
    return fromJson(JsonReader::parse(bytes).object());
}

QJsonObject AuthSession::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("accessToken"), accessToken);
    object.insert(QStringLiteral("refreshToken"), refreshToken);
    object.insert(QStringLiteral("tokenType"), tokenType);
    object.insert(QStringLiteral("expiresAt"), Dates::formatIso8601(expiresAt));
    object.insert(QStringLiteral("user"), user.toJson());
    return object;
}

QByteArray AuthSession::toJsonBytes() const
{
    return Json::toCompactBytes(toJson());
}
