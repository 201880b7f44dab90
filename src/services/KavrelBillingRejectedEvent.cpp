#include "services/KavrelBillingRejectedEvent.h"

#include "base/Json.h"

KavrelBillingRejectedEvent KavrelBillingRejectedEvent::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelBillingRejectedEvent event;
    event.eventId = reader.optionalString(QStringLiteral("eventId"));
    event.reason = reader.optionalString(QStringLiteral("reason"));
    event.detail = reader.optionalString(QStringLiteral("detail"));
    return event;
}
