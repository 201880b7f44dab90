#include "accounts/SessionResponse.h"

#include "accounts/AuthJsonReading.h"
#include "base/Dates.h"
#include "base/Json.h"

namespace {

QDateTime readDate(const QJsonValue &value, const QString &path)
{
    return Dates::decodeBackendDate(value, path);
}

qint64 readInteger(const QJsonValue &value, const QString &path)
{
    return Json::toInteger(value, path);
}

} // namespace

SessionResponse SessionResponse::fromJson(const QJsonObject &object, const QDateTime &now)
{
    using namespace AuthJson;
    SessionResponse response;
    response.accessToken = decodeRequiredTrimmedString(object, {QStringLiteral("access_token"), QStringLiteral("accessToken")});
    response.refreshToken = decodeTrimmedStringIfPresent(object, {QStringLiteral("refresh_token"), QStringLiteral("refreshToken")});
    response.tokenType = decodeTrimmedStringIfPresent(object, {QStringLiteral("token_type"), QStringLiteral("tokenType")})
                             .value_or(QStringLiteral("Bearer"));
    if (auto date = decodeIfPresent<QDateTime>(object, {QStringLiteral("expires_at"), QStringLiteral("expiresAt")}, &readDate)) {
        response.expiresAt = *date;
    } else if (auto seconds = decodeIfPresent<qint64>(object, {QStringLiteral("expires_in"), QStringLiteral("expiresIn")}, &readInteger)) {
        response.expiresAt = now.addSecs(*seconds);
        // A lifetime that lands outside the dates the session item can hold would be saved
        // in a form that never loads again.
        if (!Dates::isWritable(response.expiresAt))
            throw JsonDecodeError(QStringLiteral("expires_in"), QStringLiteral("Expiry out of range."));
    } else {
        throw JsonDecodeError(QStringLiteral("expires_at"), QStringLiteral("Expected expires_at, expiresAt, expires_in, or expiresIn."));
    }
    const JsonReader reader(object);
    response.user = AuthenticatedUser::fromJson(reader.object(QStringLiteral("user")).object(), QStringLiteral("user"));
    return response;
}
