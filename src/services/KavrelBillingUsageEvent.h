#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// One reported interval of listening. The session engine fills it; the times are ISO 8601
// texts the engine formats itself.
struct KavrelBillingUsageEvent
{
    QString eventId;
    std::optional<QString> meetingSessionId; // left out when absent; an empty text is sent as is
    QString clientSessionId;
    QString sourceApp;
    QString usageType;
    QString startedAt;
    QString endedAt;
    qint64 durationSeconds = 0;

    QJsonObject toJson() const;

    bool operator==(const KavrelBillingUsageEvent &) const = default;
};
