#pragma once

#include "session/HandedOverMeeting.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

class BillingUsageReporter;
class MeetingHistoryMirror;
class UserDefaults;

// Keeps the meetings that Start New handed over to be saved in the background on this computer
// (under defaultsKey), from the moment they are handed over until the server confirms or refuses
// them, and hands the ones the last run left back to the mirror when it is made. Without it such a
// meeting lived only in memory once its draft was cleared: a quit or a crash before the server
// came back lost it.
//
// A meeting is written at once when it is handed over, before the caller clears the draft, and
// again when its server record becomes known. The usage events of its listening whose reports
// are still under way are kept with it until they are through, and sent again by the next run,
// with the meeting's account only.
// A meeting the server refuses is written out as a plain text file (writeMeetingText()), so that
// its text stays where the user can find it.
//
// Main thread only.
class HandedOverMeetingStore final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *defaultsKey = "kavrel.session.handedOverMeetings";

    // Reads what the last run left and gives it to the mirror to be saved again, and its usage
    // events to billing (which may be null) to be reported.
    HandedOverMeetingStore(UserDefaults &defaults, MeetingHistoryMirror *history, BillingUsageReporter *billing,
                           QObject *parent = nullptr);

    // Where the texts of refused meetings are written (tests pass their own).
    void setTextFolder(const QString &folder) { m_textFolder = folder; }
    // Writes the meeting's text to a new file in the text folder; the file's path, or nothing
    // when it could not be written.
    std::optional<QString> writeMeetingText(const HandedOverMeeting &meeting) const;

    QList<HandedOverMeeting> meetings() const { return m_meetings; }

private:
    void keep(const HandedOverMeeting &meeting);
    void forget(const QUuid &conversationGeneration);
    void forgetUsageEvent(const QString &eventId);
    void write();

    UserDefaults &m_defaults;
    BillingUsageReporter *m_billing;
    QList<HandedOverMeeting> m_meetings;
    QString m_textFolder;
};
