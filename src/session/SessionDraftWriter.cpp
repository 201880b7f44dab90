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
    // The thread has ended, so its settings object can go from here.
    m_fileWriter.reset();
}

void SessionDraftWriter::submit(SessionDraft draft)
{
    const std::lock_guard lock(m_mutex);
    m_waiting = std::move(draft);
    if (m_isWriting)
        return; // the worker takes it after the write on its way
    m_isWriting = true;
    QMetaObject::invokeMethod(m_workerContext, [this] { writeWaitingDrafts(); }, Qt::QueuedConnection);
}

bool SessionDraftWriter::writeNow(const SessionDraft &draft)
{
    std::unique_lock lock(m_mutex);
    m_waiting.reset();
    m_idle.wait(lock, [this] { return !m_isWriting; });
    const QString fingerprint = draft.fingerprint();
    if (fingerprint == m_lastWrittenFingerprint)
        return false;
    m_defaults.setData(m_key, m_encoder.encode(draft));
    m_lastWrittenFingerprint = fingerprint;
    lock.unlock();
    Q_EMIT draftWritten();
    return true;
}

void SessionDraftWriter::forget()
{
    const std::lock_guard lock(m_mutex);
    m_waiting.reset();
    ++m_generation;
    m_lastWrittenFingerprint.clear();
}

bool SessionDraftWriter::isBusy() const
{
    const std::lock_guard lock(m_mutex);
    return m_isWriting;
}

QString SessionDraftWriter::lastWrittenFingerprint() const
{
    const std::lock_guard lock(m_mutex);
    return m_lastWrittenFingerprint;
}

void SessionDraftWriter::setLastWrittenFingerprint(const QString &fingerprint)
{
    const std::lock_guard lock(m_mutex);
    m_lastWrittenFingerprint = fingerprint;
}

void SessionDraftWriter::writeWaitingDrafts()
{
    std::unique_lock lock(m_mutex);
    while (m_waiting) {
        const SessionDraft draft = std::move(*m_waiting);
        m_waiting.reset();
        const quint64 generation = m_generation;
        lock.unlock();
        const QString fingerprint = draft.fingerprint();
        lock.lock();
        if (generation != m_generation || fingerprint == m_lastWrittenFingerprint)
            continue;
        lock.unlock();
        const QByteArray json = m_encoder.encode(draft);
        if (!m_fileWriter)
            m_fileWriter = std::make_unique<UserDefaults::WorkerWriter>(m_filePath);
        lock.lock();
        // A removal of the stored draft since the draft was taken wins over it.
        if (generation != m_generation)
            continue;
        m_fileWriter->setData(m_key, json);
        m_lastWrittenFingerprint = fingerprint;
        lock.unlock();
        m_fileWriter->sync();
        QMetaObject::invokeMethod(this, [this] { Q_EMIT draftWritten(); }, Qt::QueuedConnection);
        lock.lock();
    }
    m_isWriting = false;
    m_idle.notify_all();
}
