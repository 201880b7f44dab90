#pragma once

// An X server of a test's own (Xvfb on a free display, with openbox), for tests that change
// what the shared test server's other clients rely on, such as its monitors. It is started
// before the QApplication and points DISPLAY at itself, so the program, xdotool, xrandr and
// child processes all meet it. The server and the window manager end with the test process,
// however it ends.

#include "TestChildProcess.h"

#include <QApplication>
#include <QSize>
#include <QString>
#include <QTest>

#include <sys/types.h>

class X11PrivateDisplay
{
public:
    // Starts the server with one screen of `size`; isRunning() tells whether it came up, and
    // failure() why not.
    explicit X11PrivateDisplay(QSize size);
    ~X11PrivateDisplay();
    X11PrivateDisplay(const X11PrivateDisplay &) = delete;
    X11PrivateDisplay &operator=(const X11PrivateDisplay &) = delete;

    bool isRunning() const { return m_failure.isEmpty(); }
    QString failure() const { return m_failure; }

    // Why the test's own server is not there (empty when it is), for the test to skip loudly.
    static QString unavailable();
    static void setUnavailable(const QString &reason);

private:
    void stop(pid_t &process);

    pid_t m_server = -1;
    pid_t m_windowManager = -1;
    QString m_failure;
};

// A test's main() that runs it on an X server of its own of `size` (X11PrivateDisplay), with the
// role of a child process (TestChildProcess.h) before anything else. Without Xvfb, openbox,
// xrandr or xdotool the test runs offscreen and its initTestCase() is told by
// X11PrivateDisplay::unavailable().
#define KAVREL_X11_PRIVATE_DISPLAY_TEST_MAIN(TestClass, width, height)                             \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        if (const auto childStatus = TestChildProcess::runIfChild(argc, argv))                     \
            return *childStatus;                                                                   \
        X11PrivateDisplay display(QSize(width, height));                                           \
        X11PrivateDisplay::setUnavailable(display.failure());                                      \
        if (display.isRunning())                                                                   \
            qputenv("QT_QPA_PLATFORM", "xcb");                                                     \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
