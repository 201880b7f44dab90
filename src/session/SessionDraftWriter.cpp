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
        const std::lock_guard lock(m_mutex);
        m_waiting.reset();
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
void SessionDraftWriter::store(Target &target, const SessionDraftEncoder::Result &result)
{
    m_storedHasEdits = m_storedIsEncoded && target.editData(m_key, result.previousLength, result.edits);
    if (!m_storedHasEdits)
        target.setData(m_key, m_encoder.json());
}

bool SessionDraftWriter::writeNow(SessionDraftChange change)
{
    std::unique_lock lock(m_mutex);
    if (m_waiting) {
        change.includeEarlier(std::move(m_waiting->change));
        m_waiting.reset();
    }
    m_idle.wait(lock, [this] { return !m_isWriting; });
    const bool written = take(Waiting{std::move(change), m_generation, false}, lock,
                              [this](const SessionDraftEncoder::Result &result) {
                                  store(m_defaults, result);
                                  // A small draft is kept in memory until the next turn of the
                                  // event loop; this write is on the disk when the call returns.
                                  m_defaults.sync();
                              });
    lock.unlock();
    if (written)
        Q_EMIT draftWritten();
    return written;
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

bool SessionDraftWriter::take(Waiting waiting, std::unique_lock<std::mutex> &lock,
                              const std::function<void(const SessionDraftEncoder::Result &)> &write)
{
    lock.unlock();
    const SessionDraftEncoder::Result result = m_encoder.apply(waiting.change);
    lock.lock();
    if (waiting.generation != m_generation) {
        // A removal of the stored draft since the change was taken wins over it.
        m_storedIsEncoded = false;
        return false;
    }
    if (waiting.stored) {
        m_storedIsEncoded = false;
        m_storedIsJudgedSame = true;
        return false;
    }
    if (m_storedIsJudgedSame && !result.judgedChanged) {
        // Not written, so the stored bytes are no longer the encoder's.
        if (!result.edits.empty())
            m_storedIsEncoded = false;
        return false;
    }
    // Under the lock: a removal waits for the write, or the write sees the removal.
    write(result);
    m_storedIsEncoded = true;
    m_storedIsJudgedSame = true;
    return true;
}

void SessionDraftWriter::writeWaitingDrafts()
{
    std::unique_lock lock(m_mutex);
    while (m_waiting) {
        Waiting waiting = std::move(*m_waiting);
        m_waiting.reset();
        if (!m_fileWriter)
            m_fileWriter = std::make_unique<UserDefaults::WorkerWriter>(m_filePath);
        const bool written = take(std::move(waiting), lock,
                                  [this](const SessionDraftEncoder::Result &result) { store(*m_fileWriter, result); });
        if (!written)
            continue;
        lock.unlock();
        m_fileWriter->sync();
        QMetaObject::invokeMethod(this, [this] { Q_EMIT draftWritten(); }, Qt::QueuedConnection);
        lock.lock();
    }
    m_isWriting = false;
    m_idle.notify_all();
}
