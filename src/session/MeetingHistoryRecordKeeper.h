#pragma once

#include "session/MeetingHistoryRecord.h"

#include <QByteArray>
#include <QObject>

#include <optional>

class BillingUsageReporter;
class MeetingHistoryMirror;
class SessionDraftStore;
class SessionTurnStore;
class UserDefaults;

// Keeps the current meeting's history record beside the session draft (under
// MeetingHistoryRecord::defaultsKey), and hands it back to the mirror when that draft is
// restored. Without it a restored meeting began a new conversation: Start New after a clean
// quit uploaded it a second time, and after a crash its final save made a second record
// beside the active one the crashed run left. A restored meeting whose record is behind its
// turns is saved then, without waiting for Start New.
//
// The entry is written when a fact of the record changes or the draft is handed over to be
// written (so it names the draft's first turn, and reaches the file no later than the draft),
// and removed when a new conversation begins or no turns are left.
// It is read once, when the keeper is made, before anything can overwrite it.
//
// Main thread only.
class MeetingHistoryRecordKeeper final : public QObject
{
    Q_OBJECT

public:
    MeetingHistoryRecordKeeper(UserDefaults &defaults, MeetingHistoryMirror *history, BillingUsageReporter *billing,
                               SessionTurnStore *turns, SessionDraftStore *draft, QObject *parent = nullptr);

private:
    void store();
    void remove();
    void adoptForRestoredDraft();

    UserDefaults &m_defaults;
    MeetingHistoryMirror *m_history;
    BillingUsageReporter *m_billing;
    SessionTurnStore *m_turns;
    SessionDraftStore *m_draft;
    // The entry the last run left, until a draft is restored.
    std::optional<MeetingHistoryRecord> m_kept;
    // What this run last wrote (empty: removed); nothing until the first write.
    std::optional<QByteArray> m_lastStored;
};
