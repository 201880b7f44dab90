#pragma once

#include "audio/MicrophoneInputDevice.h"
#include "session/SessionPorts.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ListeningSession;
class MixedAudioStreamMixer;
struct SessionCompanions;

// The microphone as the second, optional source of a session: switched into and out of a
// session, tested outside one (level meter only), moved to another device while it runs, and
// brought back to Off after a failure at run time. It owns the device list and choice, the
// microphone flags and level, the busy flag of the microphone commands and the capture service
// itself, which is replaced by a fresh one after every session and every run-time failure.
//
// The device in use is the user's choice while it is listed; while it is not, the default input
// stands in, and the choice comes back with its device (capture moves back to it). A list that
// cannot be read whole (the audio server restarting) changes neither the list nor the choice.
//
// States: Off, Testing (capture on, mixer lane off), Listening (capture on, lane on),
// Listening and testing. While a microphone command runs, further toggles are ignored; while
// a session start or stop runs, choosing another device only stores the choice.
//
// Main thread only. The capture service's handlers run on its capture thread and reach this
// object through queued calls and the mixer through its feed, in capture order.
class MicrophoneControl final : public QObject
{
    Q_OBJECT

public:
    static constexpr double signalThreshold = 0.015;

    MicrophoneControl(MicrophoneDirectory *directory, MixedAudioStreamMixer *mixer, QObject *parent = nullptr);
    ~MicrophoneControl() override;

    void setListeningSession(ListeningSession *session) { m_session = session; }
    void setCompanions(const SessionCompanions *companions) { m_companions = companions; }

    QList<MicrophoneInputDevice> availableMicrophones() const { return m_availableMicrophones; }
    QString selectedMicrophoneID() const { return m_selectedMicrophoneID; }
    bool isMicrophoneListening() const { return m_isMicrophoneListening; }
    bool isMicrophoneTesting() const { return m_isMicrophoneTesting; }
    bool isMicrophoneBusy() const { return m_isMicrophoneBusy; }
    double microphoneLevel() const { return m_microphoneLevel; }
    bool microphoneSignalDetected() const { return m_microphoneSignalDetected; }
    bool isMicrophoneCaptureActive() const { return m_isMicrophoneCaptureActive; }
    // The selected device's name; empty when it is not in the list.
    QString selectedMicrophoneListName() const;

    // Commands.
    void refreshAvailableMicrophones();
    void toggleMicrophoneCapture();
    void toggleMicrophoneTest();
    void selectMicrophone(const QString &id);

    // Operations of the session lifecycle.
    void prepareMicrophoneServiceHandlers();
    void updateMicrophoneLiveHandler();
    QCoro::Task<void> enableMicrophoneListening();
    QCoro::Task<void> startMicrophoneCaptureIfNeeded();
    QCoro::Task<void> stopMicrophoneCaptureIfPossible(bool force);
    // Takes the handlers off the current service, stops it and puts a fresh one in its place
    // (at once; the old one's stop is awaited).
    QCoro::Task<void> resetMicrophoneService();
    // Clears capture, listening, testing and the level (the session ended).
    void clearSessionState();
    void setMicrophoneListening(bool listening);
    void setMicrophoneBusy(bool busy);

Q_SIGNALS:
    void availableMicrophonesChanged();
    void selectedMicrophoneIDChanged();
    void isMicrophoneListeningChanged();
    void isMicrophoneTestingChanged();
    void isMicrophoneBusyChanged();
    void microphoneLevelChanged();
    void microphoneSignalDetectedChanged();
    // hasActiveSession may have changed.
    void activeSessionChanged();

private:
    // Runs one of the operations below as a detached task, unless this object is gone.
    void spawnOperation(QCoro::Task<void> (MicrophoneControl::*operation)());
    QCoro::Task<void> switchOn();
    QCoro::Task<void> switchOff();
    QCoro::Task<void> startTest();
    QCoro::Task<void> stopTest();
    QCoro::Task<void> switchDevice();
    QCoro::Task<void> recoverFromRuntimeError();
    // Ends a test or device switch: routes the audio anew, shows the failure or clears the
    // last one, and frees the microphone commands.
    void finishCommand(std::optional<QString> error);
    void handleMicrophoneRuntimeError(const QString &message);
    // A handler for the current capture service that calls `apply` on this object's thread,
    // in capture order, and is ignored once that service has been replaced.
    template<typename Argument>
    std::function<void(Argument)> queuedForCurrentService(void (MicrophoneControl::*apply)(Argument));
    void setActivityFlag(bool &flag, bool value, void (MicrophoneControl::*changed)());
    void setMicrophoneTesting(bool testing);
    void setMicrophoneLevel(double level);
    void setCaptureActive(bool active);
    void setSelectedMicrophoneID(const QString &id);
    // Moves running capture to the selected device, unless a session start or stop is under way.
    void moveCaptureToSelection();

    MicrophoneDirectory *m_directory;
    MixedAudioStreamMixer *m_mixer;
    ListeningSession *m_session = nullptr;
    const SessionCompanions *m_companions = nullptr;
    std::unique_ptr<MicrophoneSource> m_microphone;
    // Identifies the current service; handlers of a replaced one are ignored.
    quint64 m_microphoneSerial = 0;
    // Replaced services whose stop may still be under way.
    std::vector<std::unique_ptr<MicrophoneSource>> m_retiredMicrophones;
    int m_operationsInFlight = 0;

    QList<MicrophoneInputDevice> m_availableMicrophones;
    QString m_selectedMicrophoneID;
    // What the user chose last (empty before any choice); selected again whenever it is listed.
    QString m_chosenMicrophoneID;
    bool m_isMicrophoneListening = false;
    bool m_isMicrophoneTesting = false;
    bool m_isMicrophoneBusy = false;
    double m_microphoneLevel = 0;
    bool m_microphoneSignalDetected = false;
    bool m_isMicrophoneCaptureActive = false;
};
