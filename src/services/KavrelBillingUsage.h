#pragma once

#include <QJsonValue>
#include <QString>

// Listening time included in the plan, used and left, in seconds and in minutes.
struct KavrelBillingUsage
{
    QString meteringUnit;
    qint64 includedSeconds = 0;
    qint64 usedSeconds = 0;
    qint64 remainingSeconds = 0;
    qint64 includedMinutes = 0;
    qint64 usedMinutes = 0;
    qint64 remainingMinutes = 0;
    bool isLimitReached = false;
    bool canUseTranscription = false;

    // Throws JsonDecodeError.
    static KavrelBillingUsage fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingUsage &) const = default;
};
