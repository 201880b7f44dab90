#include "base/QueuedHandOff.h"

#include <QTest>

#include <memory>
#include <thread>
#include <vector>

class tst_QueuedHandOff : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void givesTheLatestValueOnce();
};

// Values a worker reports while the receiving thread is busy arrive in one call, as the newest
// of them; a later value makes a call of its own; nothing reaches a receiver that is gone.
void tst_QueuedHandOff::givesTheLatestValueOnce()
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

QTEST_GUILESS_MAIN(tst_QueuedHandOff)
#include "tst_QueuedHandOff.moc"
