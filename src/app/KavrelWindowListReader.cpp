#include "app/KavrelWindowListReader.h"

#include <QMetaObject>
#include <QPointer>

#include <memory>

// Lives on the worker thread; owns the X11 connection.
class KavrelWindowListReader::Worker final : public QObject
{
public:
    explicit Worker(double devicePixelRatio) : m_devicePixelRatio(devicePixelRatio) {}

    std::optional<X11WindowListSnapshot> read()
    {
        if (!m_list)
            m_list = std::make_unique<X11WindowList>(QByteArray(), m_devicePixelRatio);
        return m_list->read();
    }

private:
    double m_devicePixelRatio;
    std::unique_ptr<X11WindowList> m_list;
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
