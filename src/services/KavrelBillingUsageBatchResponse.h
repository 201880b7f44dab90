#pragma once

#include "services/KavrelBillingRejectedEvent.h"
#include "services/KavrelBillingSubscription.h"
#include "services/KavrelBillingUsage.h"

#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QString>

// The backend's answer to a batch of usage events.
struct KavrelBillingUsageBatchResponse
{
    qint64 acceptedEvents = 0;
    qint64 duplicateEvents = 0;
    QList<KavrelBillingRejectedEvent> rejectedEvents;
    QDateTime serverTime;
    KavrelBillingSubscription subscription;
    KavrelBillingUsage usage;

    // Throws JsonDecodeError.
    static KavrelBillingUsageBatchResponse fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingUsageBatchResponse &) const = default;
};
