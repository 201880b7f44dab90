#pragma once

#include <QDateTime>
#include <QJsonValue>
#include <QString>

#include <optional>

// The user's plan as the billing backend reports it.
struct KavrelBillingSubscription
{
    std::optional<QString> planCode;
    std::optional<QString> planName;
    QString status; // "active", "trialing", "past_due", "canceled", "expired", "none", ...
    std::optional<QDateTime> startedAt;
    std::optional<QDateTime> lastSuccessfulPaymentAt;
    std::optional<QDateTime> currentPeriodStart;
    std::optional<QDateTime> currentPeriodEnd;
    bool cancelAtPeriodEnd = false;

    // Throws JsonDecodeError.
    static KavrelBillingSubscription fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingSubscription &) const = default;
};
