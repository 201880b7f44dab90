#pragma once

#include "services/MeetingSessionHistoryTypes.h"
#include "services/MeetingSessionHistorySnapshot.h"

#include <QString>

#include <qcoro/qcorotask.h>

// What the history browser needs of the backend: the meeting-history operations and the
// AI summary. The program uses KavrelHistoryRemoteClient; tests put their own in its place.
// Failures are thrown; their errorMessage() is what the screens show.
class KavrelHistoryClient
{
public:
    virtual ~KavrelHistoryClient() = default;

    virtual QCoro::Task<MeetingSessionHistoryListPage> fetchSessions(MeetingSessionHistoryListQuery query) = 0;
    virtual QCoro::Task<MeetingSessionHistoryDetail> fetchSessionDetail(QString id) = 0;
    virtual QCoro::Task<void> deleteSession(QString id) = 0;
    // Writes the snapshot at exactly this revision. A revision that is no longer the
    // server's fails (MeetingSessionHistoryService::isOutdatedRevisionError), so the caller
    // can rebuild the snapshot from the newer record instead of writing over it.
    virtual QCoro::Task<MeetingSessionHistoryRemoteState> updateSession(QString id, qint64 revision,
                                                                        MeetingSessionHistorySnapshot snapshot) = 0;
    // Language names are English words ("Russian").
    virtual QCoro::Task<QString> summarize(QString transcript, QString inputLanguageName,
                                           QString outputLanguageName) = 0;
};
