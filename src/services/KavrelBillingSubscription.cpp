#include "services/KavrelBillingSubscription.h"

#include "base/Json.h"
#include "base/Dates.h"

namespace {

std::optional<QDateTime> optionalDate(const JsonReader &reader, const QString &key)
{
    if (!reader.has(key))
        return std::nullopt;
    return Dates::decodeBackendDate(reader.object().value(key), reader.pathOf(key));
}

} // namespace

KavrelBillingSubscription KavrelBillingSubscription::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelBillingSubscription subscription;
    subscription.planCode = reader.optionalString(QStringLiteral("planCode"));
    subscription.planName = reader.optionalString(QStringLiteral("planName"));
    subscription.status = reader.string(QStringLiteral("status"));
    subscription.startedAt = optionalDate(reader, QStringLiteral("startedAt"));
    subscription.lastSuccessfulPaymentAt = optionalDate(reader, QStringLiteral("lastSuccessfulPaymentAt"));
    subscription.currentPeriodStart = optionalDate(reader, QStringLiteral("currentPeriodStart"));
    subscription.currentPeriodEnd = optionalDate(reader, QStringLiteral("currentPeriodEnd"));
    subscription.cancelAtPeriodEnd = reader.boolean(QStringLiteral("cancelAtPeriodEnd"));
    return subscription;
}
