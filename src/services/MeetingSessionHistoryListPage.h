#pragma once

#include "services/MeetingSessionHistoryListItem.h"

#include <QList>
#include <QString>

#include <optional>

// One page of the history list, in the server's order.
struct MeetingSessionHistoryListPage
{
    QList<MeetingSessionHistoryListItem> items;
    std::optional<QString> nextCursor; // absent on the last page
};
