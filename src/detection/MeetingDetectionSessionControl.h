#pragma once

// What meeting detection reads of the listening session and asks of it. The program's
// session view model stands behind it; detection holds it weakly: isAlive() turns false once
// the view model is gone, and the store then treats it as absent. Used on the main thread.
class MeetingDetectionSessionControl
{
public:
    virtual ~MeetingDetectionSessionControl() = default;

    virtual bool isAlive() const = 0;

    // A streaming session is being prepared, or system audio, the microphone or the
    // microphone test runs.
    virtual bool hasActiveSession() const = 0;
    virtual bool isSystemAudioListening() const = 0;
    virtual bool isMicrophoneListening() const = 0;
    // A start or stop of the session, respectively of the microphone, is in progress.
    virtual bool isBusy() const = 0;
    virtual bool isMicrophoneBusy() const = 0;
    // The stored preference to start with the microphone.
    virtual bool startsWithMicrophoneEnabled() const = 0;

    // The start entry of every start control; does nothing while listening or busy.
    virtual void promptAndStartListening(bool includeMicrophone) = 0;
    // The user's stop; does nothing unless a session is active and nothing is busy.
    virtual void stopActiveSession() = 0;
};
