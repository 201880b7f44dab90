#pragma once

#include <QString>

#include <optional>

// The state of a saved meeting. It travels as its raw value.
enum class MeetingSessionHistoryStatus {
    active,    // still being recorded, more updates follow
    completed, // stopped; this is the final content
};

namespace MeetingSessionHistoryStatusValue {

QString rawValue(MeetingSessionHistoryStatus status);
// Exact, case-sensitive match of "active" or "completed"; anything else is no status.
std::optional<MeetingSessionHistoryStatus> fromRawValue(const QString &raw);

} // namespace MeetingSessionHistoryStatusValue
