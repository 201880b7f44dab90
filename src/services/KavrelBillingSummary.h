#pragma once

#include "services/KavrelBillingSubscription.h"
#include "services/KavrelBillingUsage.h"

#include <QDateTime>
#include <QJsonValue>
#include <QString>

// The signed-in user's plan and usage, read by the profile screen.
struct KavrelBillingSummary
{
    QDateTime serverTime;
    KavrelBillingSubscription subscription;
    KavrelBillingUsage usage;

    // Throws JsonDecodeError.
    static KavrelBillingSummary fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingSummary &) const = default;
};
