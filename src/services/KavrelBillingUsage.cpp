#include "services/KavrelBillingUsage.h"

#include "base/Json.h"

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
