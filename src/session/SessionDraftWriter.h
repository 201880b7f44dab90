#pragma once

#include "platform/UserDefaults.h"
#include "session/SessionDraft.h"
#include "session/SessionDraftEncoder.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

// Writes session drafts into the user defaults on a worker thread. Judging a draft against the
// last write and writing the settings file take time in proportion to the whole session (the
// encoding only in proportion to what changed: SessionDraftEncoder); the main thread only hands
// over a copy, whose texts are shared, not copied.
//
// At most one write is on its way and one draft waits behind it: a newer draft replaces the
// waiting one, so a burst of changes never piles up writes, and the newest content is always
// the last to land. A draft whose fingerprint equals the last one written (or restored) is not
// written.
//
// Everything but the writes runs on the main thread; draftWritten is emitted there.
class SessionDraftWriter final : public QObject
{
    Q_OBJECT

public:
    SessionDraftWriter(UserDefaults &defaults, QString key, QObject *parent = nullptr);
    // Lets the write on its way finish; a waiting draft is dropped (writeNow() keeps it).
    ~SessionDraftWriter() override;

    // Hands the draft to the worker; it replaces a draft still waiting there.
    void submit(SessionDraft draft);
    // Writes the draft on the calling thread once the write on its way is done, unless it
    // equals the last one; a waiting draft is dropped, as this one is newer. True when written.
    bool writeNow(const SessionDraft &draft);
    // The stored draft is about to be removed: the waiting draft is dropped, the one on its way
    // will not land, and the fingerprint of the last write is forgotten.
    void forget();

    // A draft is waiting or being written.
    bool isBusy() const;
    QString lastWrittenFingerprint() const;
    void setLastWrittenFingerprint(const QString &fingerprint);

Q_SIGNALS:
    void draftWritten();

private:
    // On the worker: writes waiting drafts until none is left.
    void writeWaitingDrafts();

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
    std::condition_variable m_idle;
    // Guarded by m_mutex.
    std::optional<SessionDraft> m_waiting;
    bool m_isWriting = false;
    quint64 m_generation = 0;
    QString m_lastWrittenFingerprint;
};
