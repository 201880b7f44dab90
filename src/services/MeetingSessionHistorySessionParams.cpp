#include "services/MeetingSessionHistorySessionParams.h"

#include "base/Json.h"

MeetingSessionHistorySessionParams MeetingSessionHistorySessionParams::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionHistorySessionParams params;
    params.client = reader.string(QStringLiteral("client"));
    params.source = reader.string(QStringLiteral("source"));
    params.appVersion = reader.optionalString(QStringLiteral("appVersion"));
    params.focusMode = reader.optionalBoolean(QStringLiteral("focusMode"));
    params.clientSessionId = reader.optionalString(QStringLiteral("clientSessionId"));
    return params;
}

QJsonObject MeetingSessionHistorySessionParams::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("client"), client);
    object.insert(QStringLiteral("source"), source);
    Json::putOptional(object, QStringLiteral("appVersion"), appVersion);
    Json::putOptional(object, QStringLiteral("focusMode"), focusMode);
    Json::putOptional(object, QStringLiteral("clientSessionId"), clientSessionId);
    return object;
}
