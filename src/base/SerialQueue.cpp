#include "base/SerialQueue.h"

#include "base/KavrelError.h"

#include <QDebug>

#include <exception>

#include <pthread.h>

SerialQueue::SerialQueue(QString label)
    : m_label(std::move(label))
{
    m_thread = std::thread([this] { loop(); });
    // Thread names are limited to 15 bytes; keep the tail, which is the distinctive part,
    // and never cut a UTF-8 sequence in half.
    QByteArray name = m_label.toUtf8();
    while (name.size() > 15) {
        name.remove(0, 1);
        while (!name.isEmpty() && (static_cast<unsigned char>(name.at(0)) & 0xC0) == 0x80)
            name.remove(0, 1);
    }
    pthread_setname_np(m_thread.native_handle(), name.constData());
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_condition.notify_all();
    if (m_thread.joinable()) {
        if (isCurrent())
            m_thread.detach();
        else
            m_thread.join();
    }
}

void SerialQueue::async(std::function<void()> job)
{
    enqueue(std::move(job));
}

bool SerialQueue::enqueue(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return false;
        m_jobs.push_back(std::move(job));
    }
    m_condition.notify_one();
    return true;
}

void SerialQueue::sync(const std::function<void()> &job)
{
    if (isCurrent()) {
        job();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneCondition;
    bool done = false;
    std::exception_ptr failure;
    const bool queued = enqueue([&] {
        // A failing job must still release the caller, which then gets its exception.
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(doneMutex);
        done = true;
        doneCondition.notify_one();
    });
    // A queue that is being destroyed takes no more jobs; there is nothing to wait for.
    if (!queued)
        return;
    std::unique_lock lock(doneMutex);
    doneCondition.wait(lock, [&] { return done; });
    if (failure)
        std::rethrow_exception(failure);
}

bool SerialQueue::isCurrent() const
{
    return std::this_thread::get_id() == m_thread.get_id();
}

void SerialQueue::loop()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_condition.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        try {
            job();
        } catch (...) {
            // A job's failure is its own; the queue goes on with the next one.
            qWarning().noquote() << m_label << "job failed:" << errorMessage(std::current_exception());
        }
    }
}
