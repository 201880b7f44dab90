#pragma once

#include "services/BillingMessages.h"
#include "services/MeetingSessionHistorySnapshot.h"
#include "session/MeetingHistoryRecord.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// A finished meeting whose record the server has not confirmed yet, as it is kept on this
// computer until it lands: its final record as it is to be sent, and what is known of the server
// record (generation, so its client session id, server id, revision, times, signatures). The
// account it belongs to is known once a save has asked who is signed in; another account never
// sends it. Its usage events ride along while their reports are not through.
struct HandedOverMeeting
{
    MeetingHistoryRecord record;
    MeetingSessionHistorySnapshot finalSnapshot;
    std::optional<QString> accountID;
    QList<KavrelBillingUsageEvent> usageEvents;

    QJsonObject toJson() const;
    // Throws JsonDecodeError.
    static HandedOverMeeting fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const HandedOverMeeting &) const = default;
};
