#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class SubtitleViewModel;

// The server records of meetings that the session engine still writes: the one being recorded,
// and the ones waiting for the server (a save queued, under way or failed; a finished meeting
// handed over). Deleted from under the engine, such a record answers its next save with "not
// found", so the history browser asks before it deletes one.
struct MeetingsInUse
{
    std::optional<QString> recordingID;
    QStringList waitingIDs;

    // What the engine holds now; nothing for an engine without its history companion.
    static MeetingsInUse of(const SubtitleViewModel &engine);

    bool operator==(const MeetingsInUse &) const = default;
};
