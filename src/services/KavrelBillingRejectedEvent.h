#pragma once

#include <QJsonValue>
#include <QString>

#include <optional>

// A usage event the backend did not accept, and why.
struct KavrelBillingRejectedEvent
{
    std::optional<QString> eventId;
    std::optional<QString> reason;
    std::optional<QString> detail;

    // Throws JsonDecodeError.
    static KavrelBillingRejectedEvent fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingRejectedEvent &) const = default;
};
