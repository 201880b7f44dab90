#pragma once

#include "platform/UserDefaults.h"
#include "session/SessionDraft.h"
#include "session/SessionDraftEncoder.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// Writes session drafts into the user defaults on a worker thread. The main thread hands over
// what changed (SessionDraftChange); the worker takes it into its encoder, judges it, and writes
// the edits of the stored value (a journal beside the settings file) or, when the stored value
// is not the encoder's last one or the journal is due to be folded, the whole value. Every step
// costs in proportion to what changed, except the whole writes, which come about once per half
// the value's size of edits.
//
// At most one write is on its way and one change waits behind it: a newer change takes the
// waiting one into itself, so a burst of changes never piles up writes, and the newest content is
// always the last to land. A change that leaves what a fingerprint covers as it was last written
// (or restored) is not written.
//
// Everything but the writes runs on the main thread; draftWritten and draftWriteFailed are
// emitted there.
class SessionDraftWriter final : public QObject
{
    Q_OBJECT

public:
    SessionDraftWriter(UserDefaults &defaults, QString key, QObject *parent = nullptr);
    // Lets the write on its way finish and writes the draft that waits. A value written by edits
    // is written whole once more, so the settings file holds it whole.
    ~SessionDraftWriter() override;

    // Hands the change to the worker; it takes a change still waiting there into itself.
    void submit(SessionDraftChange change);
    void submit(SessionDraft draft) { submit(SessionDraftChange::whole(std::move(draft))); }
    // Writes the change on the calling thread once the write on its way is done, unless it
    // leaves the judged content as it was; a waiting change is taken into it. True when written
    // (false too when the write failed).
    bool writeNow(SessionDraftChange change);
    bool writeNow(const SessionDraft &draft) { return writeNow(SessionDraftChange::whole(draft)); }
    // The stored draft is the one this change makes, as far as a fingerprint can tell (it was
    // just restored from it): it is taken in without a write.
    void takeStored(SessionDraftChange change);
    // The stored draft is about to be removed: no change taken before lands, and nothing of
    // what was written is remembered.
    void forget();

    // A change is waiting or being written.
    bool isBusy() const;
    // The fingerprint of what was last written or restored; empty after forget(). Waits for the
    // write on its way.
    QString lastWrittenFingerprint() const;

Q_SIGNALS:
    void draftWritten();
    // A write failed; the settings layer keeps the value and tries again.
    void draftWriteFailed();

private:
    enum class Outcome { skipped, written, failed };
    struct Waiting
    {
        SessionDraftChange change;
        quint64 generation = 0;
        bool stored = false;
    };
    // Hands over a change; with the mutex held.
    void enqueue(SessionDraftChange change, bool stored);
    // On the worker: writes waiting changes until none is left.
    void writeWaitingDrafts();
    // Takes the change into the encoder and writes it (`write` true when written); with the
    // mutex held, which it lets go while encoding.
    Outcome take(Waiting waiting, std::unique_lock<std::mutex> &lock,
                 const std::function<bool(const SessionDraftEncoder::Result &)> &write);
    // With the mutex held: edits the stored value when it is the encoder's last one, else writes
    // it whole. `Target` is the main thread's settings or the worker's writer. True when written.
    template<typename Target>
    bool store(Target &target, const SessionDraftEncoder::Result &result);
    // Main thread.
    void announce(Outcome outcome);

    UserDefaults &m_defaults;
    const QString m_key;
    const QString m_filePath;
    QThread m_thread;
    QObject *m_workerContext = nullptr;
    // Made, used and (after the thread ended) destroyed for the worker only.
    std::unique_ptr<UserDefaults::WorkerWriter> m_fileWriter;
    // Used by whoever writes: the worker, or writeNow() once the worker is idle.
    SessionDraftEncoder m_encoder;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_idle;
    // Guarded by m_mutex.
    std::optional<Waiting> m_waiting;
    bool m_isWriting = false;
    quint64 m_generation = 0;
    // The stored value is the encoder's last encoding, so edits of it can be written.
    bool m_storedIsEncoded = false;
    // The stored draft has the judged content of the encoder's last draft.
    bool m_storedIsJudgedSame = false;
    // Edits of the stored value were written since it was last written whole.
    bool m_storedHasEdits = false;
};
