#include "base/SerialQueue.h"

#include <QTest>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

class tst_SerialQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void syncHandsTheJobsFailureToTheCaller();
};

// A caller waiting in sync() for a job that throws must get the exception, not wait forever;
// the queue goes on with the next job.
void tst_SerialQueue::syncHandsTheJobsFailureToTheCaller()
{
    // Leaked when the caller hangs: its thread still uses the queue.
    auto *queue = new SerialQueue(QStringLiteral("test.queue"));
    auto outcome = std::make_shared<std::promise<QString>>();
    std::future<QString> answer = outcome->get_future();
    std::thread([queue, outcome] {
        try {
            queue->sync([] { throw std::runtime_error("job failed"); });
            outcome->set_value(QStringLiteral("no exception"));
        } catch (const std::runtime_error &error) {
            outcome->set_value(QString::fromUtf8(error.what()));
        }
    }).detach();
    if (answer.wait_for(5s) != std::future_status::ready)
        QFAIL("sync() never returned after its job threw");
    QCOMPARE(answer.get(), QStringLiteral("job failed"));

    int ran = 0;
    queue->sync([&ran] { ++ran; });
    QCOMPARE(ran, 1);
    delete queue;
}

QTEST_GUILESS_MAIN(tst_SerialQueue)
#include "tst_SerialQueue.moc"
