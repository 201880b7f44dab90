#include "session/SessionDraftWriter.h"

SessionDraftWriter::SessionDraftWriter(UserDefaults &defaults, QString key, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_key(std::move(key))
    , m_filePath(defaults.filePath())
{
    m_thread.setObjectName(QStringLiteral("SessionDraftWriter"));
    m_workerContext = new QObject;
    m_workerContext->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_workerContext, &QObject::deleteLater);
    m_thread.start();
}

SessionDraftWriter::~SessionDraftWriter()
{
    {
        // The draft that waits is the newest one, handed over as the program ends (a quit cut
        // short by its time limit among them): it is written, not dropped.
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return !m_isWriting; });
    }
    m_thread.quit();
    m_thread.wait();
    // The session's edits are folded into the settings file at the end with the encoding at
    // hand: cheaper than the settings layer replaying every edit since the last whole write.
    // Through a writer that tells no reader: the program is ending.
    if (m_storedIsEncoded && m_storedHasEdits) {
        if (!m_fileWriter)
            m_fileWriter = std::make_unique<UserDefaults::WorkerWriter>(m_filePath);
        m_fileWriter->setData(m_key, m_encoder.json());
    }
    // The thread has ended, so its settings object can go from here.
    m_fileWriter.reset();
}

void SessionDraftWriter::submit(SessionDraftChange change)
{
    const std::lock_guard lock(m_mutex);
    enqueue(std::move(change), false);
}

void SessionDraftWriter::takeStored(SessionDraftChange change)
{
    const std::lock_guard lock(m_mutex);
    enqueue(std::move(change), true);
}

void SessionDraftWriter::enqueue(SessionDraftChange change, bool stored)
{
    // Every change reaches the encoder, each after the one before it: a waiting one is not
    // dropped but taken into the newer.
    if (m_waiting)
        change.includeEarlier(std::move(m_waiting->change));
    m_waiting = Waiting{std::move(change), m_generation, stored};
    if (m_isWriting)
        return; // the worker takes it after the write on its way
    m_isWriting = true;
    QMetaObject::invokeMethod(m_workerContext, [this] { writeWaitingDrafts(); }, Qt::QueuedConnection);
}

template<typename Target>
bool SessionDraftWriter::store(Target &target, const SessionDraftEncoder::Result &result)
{
    m_storedHasEdits = m_storedIsEncoded && target.editData(m_key, result.previousLength, result.edits);
    return m_storedHasEdits || target.setData(m_key, m_encoder.json());
}

bool SessionDraftWriter::writeNow(SessionDraftChange change)
{
    std::unique_lock lock(m_mutex);
    if (m_waiting) {
        change.includeEarlier(std::move(m_waiting->change));
        m_waiting.reset();
    }
    m_idle.wait(lock, [this] { return !m_isWriting; });
    const Outcome outcome = take(Waiting{std::move(change), m_generation, false}, lock,
                                 [this](const SessionDraftEncoder::Result &result) {
                                     // A small draft is kept in memory until the next turn of the
                                     // event loop; this write is on the disk when the call returns.
                                     const bool stored = store(m_defaults, result);
                                     return m_defaults.sync() && stored;
                                 });
    lock.unlock();
    announce(outcome);
    return outcome == Outcome::written;
}

void SessionDraftWriter::forget()
{
    const std::lock_guard lock(m_mutex);
    // A waiting change still goes into the encoder, which follows the session, but it is not
    // written: it was taken before the removal.
    ++m_generation;
    m_storedIsEncoded = false;
    m_storedIsJudgedSame = false;
}

bool SessionDraftWriter::isBusy() const
{
    const std::lock_guard lock(m_mutex);
    return m_isWriting;
}

QString SessionDraftWriter::lastWrittenFingerprint() const
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_isWriting; });
    return m_storedIsJudgedSame ? m_encoder.fingerprint() : QString();
}

void SessionDraftWriter::announce(Outcome outcome)
{
    if (outcome == Outcome::written)
        Q_EMIT draftWritten();
    else if (outcome == Outcome::failed)
        Q_EMIT draftWriteFailed();
}

SessionDraftWriter::Outcome SessionDraftWriter::take(Waiting waiting, std::unique_lock<std::mutex> &lock,
                                                     const std::function<bool(const SessionDraftEncoder::Result &)> &write)
{
    lock.unlock();
    const SessionDraftEncoder::Result result = m_encoder.apply(waiting.change);
    lock.lock();
    if (waiting.generation != m_generation) {
        // A removal of the stored draft since the change was taken wins over it.
        m_storedIsEncoded = false;
        return Outcome::skipped;
    }
    if (waiting.stored) {
        m_storedIsEncoded = false;
        m_storedIsJudgedSame = true;
        return Outcome::skipped;
    }
    if (m_storedIsJudgedSame && !result.judgedChanged) {
        // Not written, so the stored bytes are no longer the encoder's.
        if (!result.edits.empty())
            m_storedIsEncoded = false;
        return Outcome::skipped;
    }
    // Under the lock: a removal waits for the write, or the write sees the removal.
    if (!write(result)) {
        // Unsaved: the settings layer keeps the value and retries it, but until a write of ours
        // succeeds the next change is written whole, even one the fingerprint finds the same.
        m_storedIsEncoded = false;
        m_storedIsJudgedSame = false;
        return Outcome::failed;
    }
    m_storedIsEncoded = true;
    m_storedIsJudgedSame = true;
    return Outcome::written;
}

void SessionDraftWriter::writeWaitingDrafts()
{
    std::unique_lock lock(m_mutex);
    while (m_waiting) {
        Waiting waiting = std::move(*m_waiting);
        m_waiting.reset();
        if (!m_fileWriter)
            m_fileWriter = std::make_unique<UserDefaults::WorkerWriter>(m_filePath);
        const Outcome outcome = take(std::move(waiting), lock, [this](const SessionDraftEncoder::Result &result) {
            // A small draft waits in the settings layer until this sync.
            const bool stored = store(*m_fileWriter, result);
            return m_fileWriter->sync() && stored;
        });
        if (outcome != Outcome::skipped)
            QMetaObject::invokeMethod(this, [this, outcome] { announce(outcome); }, Qt::QueuedConnection);
    }
    m_isWriting = false;
    m_idle.notify_all();
}
