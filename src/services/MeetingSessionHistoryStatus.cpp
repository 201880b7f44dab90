#include "services/MeetingSessionHistoryStatus.h"

namespace MeetingSessionHistoryStatusValue {

QString rawValue(MeetingSessionHistoryStatus status)
{
    switch (status) {
    case MeetingSessionHistoryStatus::active:
        return QStringLiteral("active");
    case MeetingSessionHistoryStatus::completed:
        return QStringLiteral("completed");
    }
    return QString();
}

std::optional<MeetingSessionHistoryStatus> fromRawValue(const QString &raw)
{
    if (raw == QLatin1String("active"))
        return MeetingSessionHistoryStatus::active;
    if (raw == QLatin1String("completed"))
        return MeetingSessionHistoryStatus::completed;
    return std::nullopt;
}

} // namespace MeetingSessionHistoryStatusValue
