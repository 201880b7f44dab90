#pragma once

#include <qcoro/qcorotask.h>

#include <optional>

// The platform's answer to "may this program record from a microphone", and the two things
// a user can do about it: be asked, or be sent to the desktop's sound settings.
// A seam: the program uses PulseAudioMicrophoneAuthorization; tests drive their own.
class MicrophoneAuthorization
{
public:
    enum class Status { notDetermined, restricted, denied, authorized };

    virtual ~MicrophoneAuthorization() = default;

    // The status as it can be read right now without waiting, or nothing when reading it
    // needs a round trip.
    virtual std::optional<Status> cachedStatus() const = 0;
    // The current status; never blocks the main thread and never prompts.
    virtual QCoro::Task<Status> status() = 0;
    // Asks the user (where the platform has a prompt); returns when the answer is in.
    virtual QCoro::Task<void> requestAccess() = 0;
    // Starts the desktop's sound settings without waiting for them; failures are ignored.
    virtual void openSettings() = 0;
};
