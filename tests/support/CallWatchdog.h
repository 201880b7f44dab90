#pragma once

// Ends the test process, naming the call, when a call into the program does not return within a
// limit: a call that spins the main thread fails its test at once, with what it was, instead of
// holding CTest until the test's time-out. One watchdog at a time, on any thread.

#include <QByteArray>

#include <chrono>

class CallWatchdog final
{
public:
    // Watches from here to the end of the scope; `call` says what was asked.
    explicit CallWatchdog(const QByteArray &call, std::chrono::milliseconds limit = std::chrono::seconds(10));
    ~CallWatchdog();

    CallWatchdog(const CallWatchdog &) = delete;
    CallWatchdog &operator=(const CallWatchdog &) = delete;
};
