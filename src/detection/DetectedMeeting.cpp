#include "detection/DetectedMeeting.h"

#include "base/Text.h"

QString rawValue(MeetingDetectionSource source)
{
    return source == MeetingDetectionSource::windowSignal ? QStringLiteral("windowSignal")
                                                          : QStringLiteral("audioOutput");
}

QString DetectedMeeting::key() const
{
    return MeetingApps::rawValue(meetingApp) + QLatin1Char(':') + QString::number(processID);
}

QString DetectedMeeting::displayName() const
{
    const QString trimmed = Text::trimmed(appName);
    return trimmed.isEmpty() ? MeetingApps::displayName(meetingApp) : trimmed;
}
