#include "X11PrivateDisplay.h"

#include <QByteArray>
#include <QList>
#include <QStandardPaths>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString &unavailableReason()
{
    static QString reason = QStringLiteral("the test's own X server was not started");
    return reason;
}

// Starts a child that ends with this process: a test killed at its time-out leaves no server
// behind. Its output goes nowhere; descriptors stay open across exec, as -displayfd needs.
pid_t spawn(const QList<QByteArray> &arguments)
{
    std::vector<char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child != 0)
        return child;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
    const int nowhere = open("/dev/null", O_RDWR);
    dup2(nowhere, STDIN_FILENO);
    dup2(nowhere, STDOUT_FILENO);
    dup2(nowhere, STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
}

bool windowManagerIsUp()
{
    return std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'") == 0;
}

} // namespace

QString X11PrivateDisplay::unavailable()
{
    return unavailableReason();
}

void X11PrivateDisplay::setUnavailable(const QString &reason)
{
    unavailableReason() = reason;
}

X11PrivateDisplay::X11PrivateDisplay(QSize size)
{
    for (const char *tool : {"Xvfb", "openbox", "xrandr", "xdotool", "xprop"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            m_failure = QStringLiteral("%1 is not installed (scripts/install-deps installs it)").arg(QLatin1String(tool));
            return;
        }
    }
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        m_failure = QStringLiteral("no pipe for the display number");
        return;
    }
    // Xvfb picks a free display itself and writes its number once it accepts clients.
    m_server = spawn({"Xvfb", "-displayfd", QByteArray::number(pipeEnds[1]), "-screen", "0",
                      QByteArray::number(size.width()) + 'x' + QByteArray::number(size.height()) + "x24", "-nolisten", "tcp"});
    close(pipeEnds[1]);
    QByteArray number;
    pollfd readable{pipeEnds[0], POLLIN, 0};
    char c = 0;
    while (poll(&readable, 1, 10000) > 0 && read(pipeEnds[0], &c, 1) == 1 && c != '\n')
        number.append(c);
    close(pipeEnds[0]);
    if (number.isEmpty()) {
        m_failure = QStringLiteral("Xvfb did not come up");
        stop(m_server);
        return;
    }
    qputenv("DISPLAY", ':' + number);
    m_windowManager = spawn({"openbox"});
    for (int i = 0; i < 100 && !windowManagerIsUp(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!windowManagerIsUp()) {
        m_failure = QStringLiteral("openbox did not come up");
        stop(m_windowManager);
        stop(m_server);
    }
}

X11PrivateDisplay::~X11PrivateDisplay()
{
    stop(m_windowManager);
    stop(m_server);
}

void X11PrivateDisplay::stop(pid_t &process)
{
    if (process <= 0)
        return;
    kill(process, SIGTERM);
    int status = 0;
    for (int i = 0; i < 40; ++i) {
        if (waitpid(process, &status, WNOHANG) == process) {
            process = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(process, SIGKILL);
    waitpid(process, &status, 0);
    process = -1;
}
