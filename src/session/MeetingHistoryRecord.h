#pragma once

#include "session/SessionModel.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

// What the history mirror knows of the current meeting's server record, kept beside the
// session draft so that a meeting restored after a restart goes on with its own record
// instead of being uploaded again as a second one. Stored as JSON under its own key; the
// draft itself is left as it is.
struct MeetingHistoryRecord
{
    static constexpr const char *defaultsKey = "kavrel.session.historyRecord";

    QUuid conversationGeneration;
    std::optional<QString> sessionID;
    std::optional<qint64> sessionRevision;
    std::optional<QDateTime> startedAt;
    std::optional<QDateTime> endedAt;
    QString source;
    bool focusMode = false;
    std::optional<QString> lastSavedSignature;
    std::optional<QString> lastCompletedSignature;
    // A start of the record went out and its answer was never read: the server may hold the
    // record already, so the next start looks it up by the client session id first.
    bool startUncertain = false;
    // The number of the conversation's next usage event (its event ids go on from there).
    int nextUsageEventSequence = 1;
    // The draft the record belongs to, known by its first turn: an entry left from another
    // meeting is never adopted.
    std::optional<QUuid> firstTurnID;
    std::optional<QDateTime> firstTurnTime;
    // The account signed in when the meeting was recorded: it is saved to that account's history
    // only. An entry written before accounts were kept has none.
    std::optional<QString> accountID;
    // The settings the meeting was recorded with. An entry written before they were kept has
    // none.
    std::optional<MeetingSettings> settings;

    // True when the draft's first turn is the one this record was written for. The draft keeps
    // whole seconds, so the times are compared at that precision.
    bool belongsToDraft(const QUuid &turnID, const QDateTime &turnTime) const;

    QByteArray toJson() const;
    // Throws JsonDecodeError.
    static MeetingHistoryRecord fromJson(const QByteArray &json);

    bool operator==(const MeetingHistoryRecord &) const = default;
};
