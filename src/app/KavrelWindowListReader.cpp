#include "app/KavrelWindowListReader.h"

#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>

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
        watchConnection();
        return snapshot;
    }

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
            // A connection that broke is gone now; the next read makes a new one.
            watchConnection();
        });
    }

    double m_devicePixelRatio;
    std::unique_ptr<X11WindowList> m_list;
    std::unique_ptr<QSocketNotifier> m_reports;
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
    if (m_readInFlight)
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
