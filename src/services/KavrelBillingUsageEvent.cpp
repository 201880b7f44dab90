#include "services/KavrelBillingUsageEvent.h"

#include "base/Json.h"

QJsonObject KavrelBillingUsageEvent::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("eventId"), eventId);
    Json::putOptional(object, QStringLiteral("meetingSessionId"), meetingSessionId);
    object.insert(QStringLiteral("clientSessionId"), clientSessionId);
    object.insert(QStringLiteral("sourceApp"), sourceApp);
    object.insert(QStringLiteral("usageType"), usageType);
    object.insert(QStringLiteral("startedAt"), startedAt);
    object.insert(QStringLiteral("endedAt"), endedAt);
    object.insert(QStringLiteral("durationSeconds"), durationSeconds);
    return object;
}
