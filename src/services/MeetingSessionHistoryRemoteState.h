#pragma once

#include <QString>

// The server's identifier and revision of a record after a start or an update; the next
// update quotes both.
struct MeetingSessionHistoryRemoteState
{
    QString id;
    qint64 revision = 0;
};
