#include "services/KavrelBillingSummary.h"

#include "base/Json.h"
#include "base/Dates.h"

KavrelBillingSummary KavrelBillingSummary::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelBillingSummary summary;
    summary.serverTime = Dates::decodeBackendDate(reader.object().value(QStringLiteral("serverTime")),
                                                                 reader.pathOf(QStringLiteral("serverTime")));
    summary.subscription = KavrelBillingSubscription::fromJson(reader.object().value(QStringLiteral("subscription")),
                                                               reader.pathOf(QStringLiteral("subscription")));
    summary.usage = KavrelBillingUsage::fromJson(reader.object().value(QStringLiteral("usage")),
                                                 reader.pathOf(QStringLiteral("usage")));
    return summary;
}
