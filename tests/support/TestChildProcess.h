#pragma once

// Child processes for tests that need another process on the private services: the test
// executable starts itself again in a child role. A test using them ends with
// KAVREL_TEST_MAIN_WITH_CHILDREN(...) instead of QTEST_MAIN.
//
// Roles:
//  - "x11-windows": opens X11 windows described as "title|width|height|flags" (flags, comma-separated:
//    "above-utility" a stays-on-top utility window, "minimised" starts iconic, "desktop=N" on
//    desktop N, "opacity=0.5", "strut-bottom=N", "strut-top=N", "strut-left=N" and "strut-right=N" a
//    panel that reserves N pixels along that edge of the screen, "at=X,Y" made there as the user placed it
//    (at 40,40, placed by the window manager, without it), "activate" made active once the window manager has it,
//    as a user's click on it in a taskbar does). It sets _NET_WM_PID and WM_CLASS "zoom"/"Zoom".
//  - "pulse-player": plays silence into the default sink of the private PulseAudio; the lines
//    "cork" and "uncork" on its input cork and uncork the stream, answered by "corked"/"uncorked".
// Each child writes "ready" once it is set up, and ends when its input is closed.

#include <QByteArray>
#include <QProcessEnvironment>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <memory>
#include <optional>

namespace TestChildProcess {

// When argv names a child role, runs it and gives its exit code.
std::optional<int> runIfChild(int argc, char **argv);

// Starts this executable in a child role and waits for its "ready" line; null when it failed.
// A process name, when given, is what the process table shows as the child's name; the
// environment entries ("NAME=value") are set for the child only.
std::unique_ptr<QProcess> start(const QString &role, const QStringList &arguments, const QString &processName = {},
                                const QStringList &environment = {});

// The role and arguments this process was started with as a child, if it was.
std::optional<QStringList> childRole(int argc, char **argv);

// Waits for a line that starts with `prefix` and gives it whole.
std::optional<QByteArray> readLineStartingWith(QProcess &child, const QByteArray &prefix);

// Sends a command line and waits for the expected answer line.
bool command(QProcess &child, const QByteArray &line, const QByteArray &answer);

// Closes the child's input and waits for its end.
void finish(QProcess &child);

} // namespace TestChildProcess

#define KAVREL_TEST_MAIN_WITH_CHILDREN(TestObject, ApplicationType) \
    int main(int argc, char **argv) \
    { \
        if (const auto childStatus = TestChildProcess::runIfChild(argc, argv)) \
            return *childStatus; \
        ApplicationType app(argc, argv); \
        TestObject test; \
        QTEST_SET_MAIN_SOURCE_PATH \
        return QTest::qExec(&test, argc, argv); \
    }
