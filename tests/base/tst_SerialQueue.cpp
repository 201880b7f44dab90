#include "base/QueuedHandOff.h"
#include "base/SerialQueue.h"

#include <QTest>

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

class tst_SerialQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void syncHandsTheJobsFailureToTheCaller();
    void handOffGivesTheLatestValueOnce();
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

// Values a worker reports while the receiving thread is busy arrive in one call, as the newest
// of them; a later value makes a call of its own; nothing reaches a receiver that is gone.
void tst_SerialQueue::handOffGivesTheLatestValueOnce()
{
    auto receiver = std::make_unique<QObject>();
    std::vector<double> levels;
    const auto level = QueuedHandOff::latest<double>(receiver.get(), [&levels](double value) { levels.push_back(value); });

    std::thread([&] {
        for (int block = 0; block <= 500; ++block)
            level(block / 500.0);
    }).join();
    QCoreApplication::processEvents();
    QCOMPARE(levels, std::vector<double>{1.0});

    std::thread([&] { level(0); }).join();
    QCoreApplication::processEvents();
    QCOMPARE(levels, (std::vector<double>{1.0, 0.0}));

    std::thread([&] { level(0.5); }).join();
    receiver.reset();
    QCoreApplication::processEvents();
    std::thread([&] { level(0.7); }).join();
    QCoreApplication::processEvents();
    QCOMPARE(levels.size(), std::size_t(2));
}

QTEST_GUILESS_MAIN(tst_SerialQueue)
#include "tst_SerialQueue.moc"
