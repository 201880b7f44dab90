#include "session/MeetingsInUse.h"

#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "session/SubtitleViewModel.h"

MeetingsInUse MeetingsInUse::of(const SubtitleViewModel &engine)
{
    MeetingsInUse inUse;
    const SessionCompanionSet *companions = engine.companionSet();
    const MeetingHistoryMirror *history = companions ? companions->history() : nullptr;
    if (!history)
        return inUse;
    // A start or a stop under way counts as recording: the meeting's record is written next.
    if (engine.status() == SubtitleStatus::listening || engine.isBusy())
        inUse.recordingID = history->sessionID();
    inUse.waitingIDs = history->waitingSessionIDs();
    return inUse;
}
