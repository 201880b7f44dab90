#include "app/KavrelTerminationSignals.h"

#include "base/KavrelDiagnostics.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// [0] is written by the handler, [1] read on the main thread.
int signalPipe[2] = {-1, -1};

void handleSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

void setHandler(int signalNumber, void (*handler)(int))
{
    struct sigaction action{};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

} // namespace

KavrelTerminationSignals::KavrelTerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        qCWarning(KavrelDiagnostics::app()) << "termination signals are not handled: no signal pipe";
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &KavrelTerminationSignals::readSignals);
    setHandler(SIGTERM, handleSignal);
    setHandler(SIGINT, handleSignal);
}

KavrelTerminationSignals::~KavrelTerminationSignals()
{
    if (!m_notifier)
        return;
    setHandler(SIGTERM, SIG_DFL);
    setHandler(SIGINT, SIG_DFL);
    m_notifier.reset();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void KavrelTerminationSignals::readSignals()
{
    unsigned char byte = 0;
    while (::read(signalPipe[1], &byte, 1) == 1) {
        qCInfo(KavrelDiagnostics::app()) << "termination signal" << int(byte) << "received";
        Q_EMIT terminationRequested(int(byte));
    }
}
