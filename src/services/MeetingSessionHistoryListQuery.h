#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// One page request of the history list.
struct MeetingSessionHistoryListQuery
{
    qint64 limit = 20;
    std::optional<QString> cursor;      // the previous page's nextCursor
    std::optional<QString> searchQuery;
    std::optional<QDateTime> dateFrom;
    std::optional<QDateTime> dateTo;

    bool operator==(const MeetingSessionHistoryListQuery &) const = default;
};
