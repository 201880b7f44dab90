// Measures what meeting detection costs while the program sits in the tray: one scan every
// 2 s, all day.
//
// The scan (window list, process table, PulseAudio cache, the decision) runs with 200 extra
// processes of the user and 40 windows on the X server (two of the processes named like the
// meeting application, one window titled as a meeting). It reports the CPU time per scan, per
// hour of polling and as a share of one core, against the same information gathered with
// `ps` and `xprop` in the same run (the children's CPU time).
//
// Needs an X server with a window manager and a PulseAudio server, e.g.:
//   scripts/with-test-services build-release/bench/bench_meeting_detection
// Usage: bench_meeting_detection [--scans N]

#include "detection/MeetingSignalScan.h"
#include "platform/PulseAudioContext.h"
#include "platform/X11WindowList.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int extraProcesses = 200;
constexpr int windowCount = 40;
constexpr double pollSeconds = 2.0;

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A child that only waits, under the given name.
pid_t startSleeper(const char *name)
{
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_NAME, name, 0, 0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (;;)
            pause();
    }
    return pid;
}

// A child named "zoom" that opens the windows, the first titled as a meeting.
pid_t startWindowOwner()
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_NAME, "zoom", 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        _exit(2);
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const auto atom = [c](const char *name) {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
        free(reply);
        return value;
    };
    const xcb_atom_t netWmName = atom("_NET_WM_NAME");
    const xcb_atom_t utf8 = atom("UTF8_STRING");
    const xcb_atom_t netWmPid = atom("_NET_WM_PID");
    const quint32 ownPid = quint32(getpid());
    for (int i = 0; i < windowCount; ++i) {
        const xcb_window_t window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 10 * i, 10 * i, 480, 320, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const QByteArray title = i == 0 ? QByteArray("Zoom Meeting") : "Document " + QByteArray::number(i);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netWmName, utf8, 8, quint32(title.size()), title.constData());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netWmPid, XCB_ATOM_CARDINAL, 32, 1, &ownPid);
        static constexpr char wmClass[] = "zoom\0Zoom";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass, wmClass);
        xcb_map_window(c, window);
    }
    xcb_flush(c);
    for (;;)
        pause();
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// The same information the hard way: the process table with ps, the stacking list and every
// window's owner, title, class, type and state with xprop.
void scanWithTools()
{
    run(QStringLiteral("ps"), {QStringLiteral("-u"), QString::number(getuid()), QStringLiteral("-o"),
                               QStringLiteral("pid=,ppid=,comm=")});
    const QString list = run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    const QString ids = list.section(QLatin1Char('#'), 1);
    for (const QString &id : ids.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        run(QStringLiteral("xprop"), {QStringLiteral("-id"), id.trimmed(), QStringLiteral("_NET_WM_PID"),
                                      QStringLiteral("_NET_WM_NAME"), QStringLiteral("WM_CLASS"),
                                      QStringLiteral("_NET_WM_WINDOW_TYPE"), QStringLiteral("_NET_WM_STATE"),
                                      QStringLiteral("_NET_FRAME_EXTENTS")});
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int scans = 1000;
    const QStringList arguments = app.arguments();
    if (const int at = int(arguments.indexOf(QStringLiteral("--scans"))); at >= 0 && at + 1 < arguments.size())
        scans = std::max(1, arguments.at(at + 1).toInt());

    // The window manager may still be starting.
    X11WindowList probe;
    for (int attempt = 0; attempt < 250 && !probe.read(); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!probe.read()) {
        std::fprintf(stderr, "no X11 window list: run under scripts/with-test-services\n");
        return 2;
    }
    // The children are forked before any thread starts here.
    std::vector<pid_t> children;
    for (int i = 0; i < extraProcesses; ++i)
        children.push_back(startSleeper(i < 2 ? "zoom" : "helper"));
    children.push_back(startWindowOwner());
    for (int attempt = 0; attempt < 500; ++attempt) {
        const auto snapshot = probe.read();
        if (snapshot && snapshot->windows.size() >= std::size_t(windowCount))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    auto pulse = PulseAudioContext::shared();
    for (int attempt = 0; attempt < 500 && pulse->state() == PulseAudioContext::State::Connecting; ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (pulse->state() != PulseAudioContext::State::Ready)
        std::fprintf(stderr, "no PulseAudio server: audio activity reads as silent\n");
    MeetingSignalScan scan(pulse);
    const auto found = scan.detectMeeting(true);
    const std::size_t processCount = RunningProcessList::readUserProcesses().size();
    const std::size_t windows = probe.read() ? probe.read()->windows.size() : 0;

    const double before = cpuSeconds(RUSAGE_SELF);
    for (int i = 0; i < scans; ++i)
        scan.detectMeeting(true);
    const double perScan = (cpuSeconds(RUSAGE_SELF) - before) / scans;

    constexpr int toolScans = 10;
    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double selfBefore = cpuSeconds(RUSAGE_SELF);
    for (int i = 0; i < toolScans; ++i)
        scanWithTools();
    const double toolsPerScan =
        ((cpuSeconds(RUSAGE_CHILDREN) - childrenBefore) + (cpuSeconds(RUSAGE_SELF) - selfBefore)) / toolScans;

    for (const pid_t child : children)
        kill(child, SIGKILL);
    for (const pid_t child : children)
        waitpid(child, nullptr, 0);

    const double scansPerHour = 3600.0 / pollSeconds;
    std::printf("meeting detection scan: %zu processes of the user, %zu windows, result: %s\n", processCount, windows,
                found ? qPrintable(found->key()) : "none");
    std::printf("  CPU per scan            %8.3f ms (%d scans)\n", perScan * 1e3, scans);
    std::printf("  CPU per hour of polling %8.3f s\n", perScan * scansPerHour);
    std::printf("  share of one core       %8.4f %%   (target <= 0.1 %%)\n", perScan / pollSeconds * 100);
    std::printf("  ps + xprop per scan     %8.3f ms (%d scans)\n", toolsPerScan * 1e3, toolScans);
    std::printf("  ratio scan / tools      %8.4f\n", perScan / toolsPerScan);
    return 0;
}
