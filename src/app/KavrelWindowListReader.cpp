#include "app/KavrelWindowListReader.h"

#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>

#include <atomic>
#include <memory>

// Lives on the worker thread; owns the X11 connection. The list follows the server's reports
// of changes, so a read while nothing moved costs no round trip; the reports are taken as they
// come, also while no one reads (no session runs), so they never pile up.
class KavrelWindowListReader::Worker final : public QObject
{
public:
    explicit Worker(double devicePixelRatio) : m_devicePixelRatio(devicePixelRatio) {}

    std::optional<X11WindowListSnapshot> read()
    {
        if (!m_list) {
            m_list = std::make_unique<X11WindowList>(QByteArray(), m_devicePixelRatio);
            m_list->setFollowsChanges(true);
        }
        auto snapshot = m_list->read();
        // Reports that came in while the read's answers were awaited sit in the connection's
        // queue, where the socket's notifier does not see them: taken now, they make the list
        // out of date at once.
        m_list->takeChanges();
        watchConnection();
        m_current = m_list->isCurrent();
        return snapshot;
    }

    // Whether a read now would answer the last list again; asked from the main thread.
    bool isCurrent() const { return m_current; }

private:
    void watchConnection()
    {
        const int descriptor = m_list->connectionDescriptor();
        if (m_reports && m_reports->socket() == descriptor)
            return;
        if (m_reports) {
            // This may run inside the notifier's own signal.
            m_reports->setEnabled(false);
            m_reports.release()->deleteLater();
        }
        if (descriptor < 0)
            return;
        m_reports = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
        connect(m_reports.get(), &QSocketNotifier::activated, this, [this] {
            m_list->takeChanges();
            m_current = m_list->isCurrent();
            // A connection that broke is gone now; the next read makes a new one.
            watchConnection();
        });
    }

    double m_devicePixelRatio;
    std::unique_ptr<X11WindowList> m_list;
    std::unique_ptr<QSocketNotifier> m_reports;
    std::atomic<bool> m_current = false;
};

KavrelWindowListReader::KavrelWindowListReader(double devicePixelRatio, QObject *parent)
    : QObject(parent), m_worker(new Worker(devicePixelRatio))
{
    m_thread.setObjectName(QStringLiteral("KavrelWindowList"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

KavrelWindowListReader::~KavrelWindowListReader()
{
    // The worker finishes its read, then goes with the thread; answers it posts after that are
    // dropped with this object.
    m_thread.quit();
    m_thread.wait();
}

void KavrelWindowListReader::requestRead()
{
    // While nothing on the screen changed, the latest answer is what a read would give: no
    // trip to the worker and back (four a second while a session runs).
    if (m_readInFlight || (m_hasRead && m_worker->isCurrent()))
        return;
    m_readInFlight = true;
    Worker *worker = m_worker;
    KavrelWindowListReader *reader = this;
    QMetaObject::invokeMethod(worker, [worker, reader] {
        auto snapshot = worker->read();
        // Back to the main thread; `reader` outlives the worker's thread (see the destructor).
        QMetaObject::invokeMethod(reader, [reader, snapshot = std::move(snapshot)]() mutable {
            reader->m_latest = std::move(snapshot);
            reader->m_hasRead = true;
            reader->m_readInFlight = false;
            Q_EMIT reader->snapshotRead();
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}
