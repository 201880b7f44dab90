#include "services/BillingMessages.h"

#include "base/Dates.h"
#include "base/Json.h"

#include <QJsonArray>

namespace {

// A member read with the member type's own reader. A missing key reaches that reader as an
// undefined value, which it rejects.
template<typename T>
T member(const JsonReader &reader, const QString &key)
{
    return T::fromJson(reader.object().value(key), reader.pathOf(key));
}

QDateTime date(const JsonReader &reader, const QString &key)
{
    return Dates::decodeBackendDate(reader.object().value(key), reader.pathOf(key));
}

std::optional<QDateTime> optionalDate(const JsonReader &reader, const QString &key)
{
    if (!reader.has(key))
        return std::nullopt;
    return date(reader, key);
}

// Every answer that reports the account's state ends with the same three members.
template<typename Answer>
void readAccountState(const JsonReader &reader, Answer &answer)
{
    answer.serverTime = date(reader, QStringLiteral("serverTime"));
    answer.subscription = member<KavrelBillingSubscription>(reader, QStringLiteral("subscription"));
    answer.usage = member<KavrelBillingUsage>(reader, QStringLiteral("usage"));
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

KavrelBillingUsage KavrelBillingUsage::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelBillingUsage usage;
    usage.meteringUnit = reader.string(QStringLiteral("meteringUnit"));
    usage.includedSeconds = reader.integer(QStringLiteral("includedSeconds"));
    usage.usedSeconds = reader.integer(QStringLiteral("usedSeconds"));
    usage.remainingSeconds = reader.integer(QStringLiteral("remainingSeconds"));
    usage.includedMinutes = reader.integer(QStringLiteral("includedMinutes"));
    usage.usedMinutes = reader.integer(QStringLiteral("usedMinutes"));
    usage.remainingMinutes = reader.integer(QStringLiteral("remainingMinutes"));
    usage.isLimitReached = reader.boolean(QStringLiteral("isLimitReached"));
    usage.canUseTranscription = reader.boolean(QStringLiteral("canUseTranscription"));
    return usage;
}

KavrelBillingSummary KavrelBillingSummary::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelBillingSummary summary;
    readAccountState(reader, summary);
    return summary;
}

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

KavrelBillingUsageEvent KavrelBillingUsageEvent::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelBillingUsageEvent event;
    event.eventId = reader.string(QStringLiteral("eventId"));
    event.meetingSessionId = reader.optionalString(QStringLiteral("meetingSessionId"));
    event.clientSessionId = reader.string(QStringLiteral("clientSessionId"));
    event.sourceApp = reader.string(QStringLiteral("sourceApp"));
    event.usageType = reader.string(QStringLiteral("usageType"));
    event.startedAt = reader.string(QStringLiteral("startedAt"));
    event.endedAt = reader.string(QStringLiteral("endedAt"));
    event.durationSeconds = reader.integer(QStringLiteral("durationSeconds"));
    return event;
}

KavrelBillingRejectedEvent KavrelBillingRejectedEvent::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelBillingRejectedEvent event;
    event.eventId = reader.optionalString(QStringLiteral("eventId"));
    event.reason = reader.optionalString(QStringLiteral("reason"));
    event.detail = reader.optionalString(QStringLiteral("detail"));
    return event;
}

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
    readAccountState(reader, response);
    return response;
}
