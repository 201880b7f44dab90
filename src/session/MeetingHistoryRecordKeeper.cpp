#include "session/MeetingHistoryRecordKeeper.h"

#include "base/KavrelDiagnostics.h"
#include "platform/UserDefaults.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"

#include <exception>

namespace {

QString key()
{
    return QString::fromLatin1(MeetingHistoryRecord::defaultsKey);
}

} // namespace

MeetingHistoryRecordKeeper::MeetingHistoryRecordKeeper(UserDefaults &defaults, MeetingHistoryMirror *history,
                                                       BillingUsageReporter *billing, SessionTurnStore *turns,
                                                       SessionDraftStore *draft, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_history(history)
    , m_billing(billing)
    , m_turns(turns)
    , m_draft(draft)
{
    if (const std::optional<QByteArray> data = m_defaults.dataValue(key())) {
        try {
            m_kept = MeetingHistoryRecord::fromJson(*data);
        } catch (const std::exception &error) {
            qCInfo(KavrelDiagnostics::history()).noquote() << "stored meeting history record ignored:" << error.what();
        }
    }
    connect(history, &MeetingHistoryMirror::recordChanged, this, &MeetingHistoryRecordKeeper::store);
    connect(history, &MeetingHistoryMirror::conversationReset, this, &MeetingHistoryRecordKeeper::remove);
    // Set as the draft is handed over, the entry goes into the file with the draft, never after
    // it: a crash between the two would leave a draft that names no record.
    connect(draft, &SessionDraftStore::draftHandingOver, this, &MeetingHistoryRecordKeeper::store);
    connect(draft, &SessionDraftStore::draftApplied, this, &MeetingHistoryRecordKeeper::adoptForRestoredDraft);
}

void MeetingHistoryRecordKeeper::store()
{
    const std::vector<SessionTurn> &turns = m_turns->turns();
    if (turns.empty()) {
        // No draft can name this record: nothing to restore it with.
        remove();
        return;
    }
    MeetingHistoryRecord record = m_history->record();
    record.firstTurnID = turns.front().id;
    record.firstTurnTime = turns.front().timestamp;
    record.nextUsageEventSequence = m_billing->eventSequence();
    const QByteArray json = record.toJson();
    if (m_lastStored == json)
        return;
    m_defaults.setData(key(), json);
    m_lastStored = json;
}

void MeetingHistoryRecordKeeper::remove()
{
    if (m_lastStored && m_lastStored->isEmpty())
        return;
    m_defaults.remove(key());
    m_lastStored = QByteArray();
}

void MeetingHistoryRecordKeeper::adoptForRestoredDraft()
{
    const std::optional<MeetingHistoryRecord> kept = std::exchange(m_kept, std::nullopt);
    const std::vector<SessionTurn> &turns = m_turns->turns();
    bool adopted = false;
    if (kept && !turns.empty() && kept->belongsToDraft(turns.front().id, turns.front().timestamp))
        adopted = m_history->adoptRecord(*kept);
    if (adopted)
        m_billing->continueEventSequence(kept->nextUsageEventSequence);
    // A draft older than the settings kept with its record: from here on the meeting keeps
    // those in use when it came back, whatever the next meeting is started with.
    if (!turns.empty())
        m_history->noteMeetingSettingsIfUnknown();
    // The meeting stays with the account it was recorded under, which the draft names too.
    if (const std::optional<QString> account = m_draft->restoredAccountID(); account && !turns.empty())
        m_history->noteMeetingAccount(*account);
    // A meeting stopped before the quit keeps the end its record has.
    if (adopted && kept->endedAt) {
        m_history->saveAdoptedMeetingIfBehind();
        return;
    }
    // Otherwise it was cut off with its last turn: that is where it ended.
    std::optional<QDateTime> lastTurn;
    for (const SessionTurn &turn : turns) {
        if (!lastTurn || turn.timestamp > *lastTurn)
            lastTurn = turn.timestamp;
    }
    if (lastTurn)
        m_history->noteMeetingEndedAt(*lastTurn);
    // A draft that names no record cannot tell whether the server holds it: it waits for Start
    // New as before.
    if (adopted)
        m_history->saveAdoptedMeetingIfBehind();
}
