#include "services/KavrelBillingUsageBatchResponse.h"

#include "base/Json.h"
#include "base/Dates.h"

#include <QJsonArray>

KavrelBillingUsageBatchResponse KavrelBillingUsageBatchResponse::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelBillingUsageBatchResponse response;
    response.acceptedEvents = reader.integer(QStringLiteral("acceptedEvents"));
    response.duplicateEvents = reader.integer(QStringLiteral("duplicateEvents"));
    const QJsonArray rejected = reader.array(QStringLiteral("rejectedEvents"));
    const QString rejectedPath = reader.pathOf(QStringLiteral("rejectedEvents"));
    for (qsizetype i = 0; i < rejected.size(); ++i)
        response.rejectedEvents.append(KavrelBillingRejectedEvent::fromJson(rejected.at(i), QStringLiteral("%1[%2]").arg(rejectedPath).arg(i)));
    response.serverTime = Dates::decodeBackendDate(reader.object().value(QStringLiteral("serverTime")),
                                                                  reader.pathOf(QStringLiteral("serverTime")));
    response.subscription = KavrelBillingSubscription::fromJson(reader.object().value(QStringLiteral("subscription")),
                                                                reader.pathOf(QStringLiteral("subscription")));
    response.usage = KavrelBillingUsage::fromJson(reader.object().value(QStringLiteral("usage")),
                                                  reader.pathOf(QStringLiteral("usage")));
    return response;
}
