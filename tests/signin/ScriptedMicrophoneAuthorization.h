#pragma once

// The microphone permission as a test wants it: a status, a prompt that stays open until the
// test releases it, and counters of what the code asked for.

#include "signin/MicrophoneAuthorization.h"

#include <QTimer>

#include <qcoro/qcorotimer.h>

// Holds whoever waits on it until the test opens it (they resume on the next event-loop turn);
// once open it stays open.
struct Gate
{
    QTimer timer;

    Gate()
    {
        timer.setSingleShot(true);
        timer.start(std::chrono::hours(1));
    }
    void open() { timer.start(0); }
    QCoro::Task<void> wait() { return qCoro(&timer).waitForTimeout(); }
};

class ScriptedAuthorization final : public MicrophoneAuthorization
{
public:
    Status current = Status::notDetermined;
    std::optional<Status> cached;
    // The status the user leaves behind in the prompt.
    Status afterPrompt = Status::authorized;
    bool holdPrompt = false;
    bool holdReads = false;
    int reads = 0;
    int prompts = 0;
    int settingsOpened = 0;
    Gate gate;

    std::optional<Status> cachedStatus() const override { return cached; }

    QCoro::Task<Status> status() override
    {
        ++reads;
        const Status value = current; // read now, delivered later
        if (holdReads)
            co_await gate.wait();
        co_return value;
    }

    QCoro::Task<void> requestAccess() override
    {
        ++prompts;
        if (holdPrompt)
            co_await gate.wait();
        current = afterPrompt;
    }

    void openSettings() override { ++settingsOpened; }
};

