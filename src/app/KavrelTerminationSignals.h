#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a signal on the main thread (through a self-pipe), so the
// program can stop its session before it ends. One per process; the handlers are removed again
// when it goes.
class KavrelTerminationSignals final : public QObject
{
    Q_OBJECT

public:
    explicit KavrelTerminationSignals(QObject *parent = nullptr);
    ~KavrelTerminationSignals() override;

    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readSignals();

    std::unique_ptr<QSocketNotifier> m_notifier;
};
