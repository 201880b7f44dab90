#include "session/MicrophoneControl.h"

#include "audio/MicrophoneCaptureError.h"
#include "audio/MixedAudioStreamMixer.h"
#include "base/KavrelDiagnostics.h"
#include "base/QueuedHandOff.h"
#include "base/TaskOutcome.h"
#include "session/ListeningSession.h"
#include "session/SessionCompanions.h"

#include <QPointer>

#include <algorithm>

namespace {

QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Counts an operation on a capture service as under way, so a replaced service is not
// destroyed beneath it.
class OperationScope
{
public:
    explicit OperationScope(int &counter) : m_counter(counter) { ++m_counter; }
    ~OperationScope() { --m_counter; }
    OperationScope(const OperationScope &) = delete;
    OperationScope &operator=(const OperationScope &) = delete;

private:
    int &m_counter;
};

void detachHandlers(MicrophoneSource &microphone)
{
    microphone.setLiveAudioDataHandler(nullptr);
    microphone.setErrorHandler(nullptr);
    microphone.setLevelHandler(nullptr);
}

} // namespace

MicrophoneControl::MicrophoneControl(MicrophoneDirectory *directory, MixedAudioStreamMixer *mixer, QObject *parent)
    : QObject(parent)
    , m_directory(directory)
    , m_mixer(mixer)
    , m_microphone(directory->makeMicrophone())
{
    // The device list is read from the audio server's cache, which fills and changes later.
    m_directory->setDevicesChangedHandler([this] { refreshAvailableMicrophones(); });
}

MicrophoneControl::~MicrophoneControl()
{
    m_directory->setDevicesChangedHandler(nullptr);
    detachHandlers(*m_microphone);
}

QString MicrophoneControl::selectedMicrophoneListName() const
{
    for (const MicrophoneInputDevice &device : m_availableMicrophones) {
        if (device.id == m_selectedMicrophoneID)
            return device.name;
    }
    return QString();
}

// MARK: State

void MicrophoneControl::setActivityFlag(bool &flag, bool value, void (MicrophoneControl::*changed)())
{
    if (flag == value)
        return;
    flag = value;
    Q_EMIT(this->*changed)();
    Q_EMIT activeSessionChanged();
}

void MicrophoneControl::setMicrophoneListening(bool listening)
{
    setActivityFlag(m_isMicrophoneListening, listening, &MicrophoneControl::isMicrophoneListeningChanged);
}

void MicrophoneControl::setMicrophoneTesting(bool testing)
{
    setActivityFlag(m_isMicrophoneTesting, testing, &MicrophoneControl::isMicrophoneTestingChanged);
}

void MicrophoneControl::setMicrophoneBusy(bool busy)
{
    if (m_isMicrophoneBusy == busy)
        return;
    m_isMicrophoneBusy = busy;
    Q_EMIT isMicrophoneBusyChanged();
}

void MicrophoneControl::setMicrophoneLevel(double level)
{
    const bool detected = level > signalThreshold;
    if (m_microphoneLevel != level) {
        m_microphoneLevel = level;
        Q_EMIT microphoneLevelChanged();
    }
    if (m_microphoneSignalDetected != detected) {
        m_microphoneSignalDetected = detected;
        Q_EMIT microphoneSignalDetectedChanged();
    }
}

void MicrophoneControl::setCaptureActive(bool active)
{
    m_isMicrophoneCaptureActive = active;
}

void MicrophoneControl::setSelectedMicrophoneID(const QString &id)
{
    if (m_selectedMicrophoneID == id)
        return;
    m_selectedMicrophoneID = id;
    Q_EMIT selectedMicrophoneIDChanged();
}

void MicrophoneControl::clearSessionState()
{
    setCaptureActive(false);
    setMicrophoneListening(false);
    setMicrophoneTesting(false);
    setMicrophoneLevel(0);
}

void MicrophoneControl::refreshAvailableMicrophones()
{
    // Half a list, or none while the server restarts, would make every device look unplugged.
    const std::optional<std::vector<MicrophoneInputDevice>> devices = m_directory->availableDevices();
    if (!devices)
        return;
    const QList<MicrophoneInputDevice> list(devices->begin(), devices->end());
    if (list != m_availableMicrophones) {
        m_availableMicrophones = list;
        Q_EMIT availableMicrophonesChanged();
    }
    if (list.isEmpty()) {
        setSelectedMicrophoneID(QString());
        return;
    }
    const auto isListed = [&list](const QString &id) {
        return std::any_of(list.begin(), list.end(), [&id](const MicrophoneInputDevice &device) { return device.id == id; });
    };
    if (!m_chosenMicrophoneID.isEmpty() && isListed(m_chosenMicrophoneID)) {
        if (m_selectedMicrophoneID == m_chosenMicrophoneID)
            return;
        // The chosen device is back after the default stood in for it.
        setSelectedMicrophoneID(m_chosenMicrophoneID);
        moveCaptureToSelection();
        return;
    }
    if (isListed(m_selectedMicrophoneID))
        return;
    setSelectedMicrophoneID(m_directory->defaultDeviceID().value_or(list.first().id));
}

// MARK: Handlers

template<typename Argument>
std::function<void(Argument)> MicrophoneControl::queuedForCurrentService(void (MicrophoneControl::*apply)(Argument))
{
    QPointer<MicrophoneControl> self(this);
    const quint64 serial = m_microphoneSerial;
    return [self, serial, apply](Argument argument) {
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(), [self, serial, apply, value = std::decay_t<Argument>(argument)] {
                if (self && self->m_microphoneSerial == serial)
                    (self.data()->*apply)(value);
            },
            Qt::QueuedConnection);
    };
}

void MicrophoneControl::prepareMicrophoneServiceHandlers()
{
    m_microphone->setErrorHandler(queuedForCurrentService(&MicrophoneControl::handleMicrophoneRuntimeError));
    // A level comes with every 10 ms of sound; the meter only needs the latest one each time the
    // main thread gets to it.
    // The call runs on this object's thread and never after it is gone.
    const quint64 serial = m_microphoneSerial;
    m_microphone->setLevelHandler(QueuedHandOff::latest<double>(this, [this, serial](double level) {
        if (m_microphoneSerial == serial)
            setMicrophoneLevel(level);
    }));
}

void MicrophoneControl::updateMicrophoneLiveHandler()
{
    // The mixer's feed keeps the chunks in capture order; the mixer ignores them while its
    // microphone lane is off.
    m_microphone->setLiveAudioDataHandler(m_mixer->microphoneAudioFeed());
}

// MARK: Capture

QCoro::Task<void> MicrophoneControl::startMicrophoneCaptureIfNeeded()
{
    refreshAvailableMicrophones();
    if (m_selectedMicrophoneID.isEmpty())
        throw MicrophoneCaptureError(MicrophoneCaptureError::Case::selectedDeviceUnavailable);
    if (m_isMicrophoneCaptureActive)
        co_return;
    QPointer<MicrophoneControl> self(this);
    const quint64 serial = m_microphoneSerial;
    {
        OperationScope scope(m_operationsInFlight);
        co_await m_microphone->startCapture(m_selectedMicrophoneID);
    }
    if (!self)
        co_return;
    if (m_microphoneSerial != serial)
        co_return; // the service was replaced meanwhile; the old one is stopped with it
    setCaptureActive(true);
    updateMicrophoneLiveHandler();
}

QCoro::Task<void> MicrophoneControl::enableMicrophoneListening()
{
    QPointer<MicrophoneControl> self(this);
    const quint64 serial = m_microphoneSerial;
    co_await startMicrophoneCaptureIfNeeded();
    if (!self)
        co_return;
    if (m_microphoneSerial != serial || !m_isMicrophoneCaptureActive)
        throw MicrophoneCaptureError(MicrophoneCaptureError::Case::inputUnavailable);
    m_mixer->setMicrophoneEnabled(true);
    setMicrophoneListening(true);
    if (m_session)
        m_session->setShouldShowMicrophoneOffWarning(false);
    setMicrophoneTesting(false);
    updateMicrophoneLiveHandler();
    if (m_session)
        m_session->setStatus(SubtitleStatus::listening);
    if (auto *billing = m_companions ? m_companions->billing : nullptr)
        billing->markBillingUsageStartedIfNeeded();
    if (m_session)
        m_session->setErrorMessage(std::nullopt);
}

QCoro::Task<void> MicrophoneControl::stopMicrophoneCaptureIfPossible(bool force)
{
    if (!m_isMicrophoneCaptureActive)
        co_return;
    if (!force && (m_isMicrophoneListening || m_isMicrophoneTesting))
        co_return;
    setCaptureActive(false);
    setMicrophoneLevel(0);
    QPointer<MicrophoneControl> self(this);
    {
        OperationScope scope(m_operationsInFlight);
        co_await m_microphone->stopCapture();
    }
    if (self)
        updateMicrophoneLiveHandler();
}

QCoro::Task<void> MicrophoneControl::resetMicrophoneService()
{
    if (m_operationsInFlight == 0)
        m_retiredMicrophones.clear();
    std::unique_ptr<MicrophoneSource> old = std::move(m_microphone);
    detachHandlers(*old);
    m_microphone = m_directory->makeMicrophone();
    ++m_microphoneSerial;
    MicrophoneSource *stopping = old.get();
    m_retiredMicrophones.push_back(std::move(old));
    QPointer<MicrophoneControl> self(this);
    {
        OperationScope scope(m_operationsInFlight);
        co_await stopping->stopCapture();
    }
    if (self && m_operationsInFlight == 0)
        m_retiredMicrophones.clear();
}

// MARK: Commands

void MicrophoneControl::toggleMicrophoneCapture()
{
    const bool systemListening = m_session && m_session->isSystemAudioListening();
    const bool busy = m_session && m_session->isBusy();
    qCInfo(KavrelDiagnostics::session()).noquote()
        << QStringLiteral("toggleMicrophoneCapture requested enabled=%1 system=%2 busy=%3 microphoneBusy=%4")
               .arg(flag(m_isMicrophoneListening), flag(systemListening), flag(busy), flag(m_isMicrophoneBusy));
    if (busy || m_isMicrophoneBusy || !m_session)
        return;
    setMicrophoneBusy(true);
    spawnOperation(m_isMicrophoneListening ? &MicrophoneControl::switchOff : &MicrophoneControl::switchOn);
}

void MicrophoneControl::spawnOperation(QCoro::Task<void> (MicrophoneControl::*operation)())
{
    QPointer<MicrophoneControl> self(this);
    spawnTask([self, operation](CancellationToken) -> QCoro::Task<void> {
        if (self)
            co_await (self.data()->*operation)();
    });
}

QCoro::Task<void> MicrophoneControl::switchOn()
{
    QPointer<MicrophoneControl> self(this);
    const bool bringsUpPipeline = !m_session->isStreamingSessionPrepared();
    TaskOutcome<void> outcome = co_await outcomeOf(m_session->ensureStreamingSessionStarted());
    if (self && outcome.succeeded())
        outcome = co_await outcomeOf(enableMicrophoneListening());
    if (!self)
        co_return;
    if (outcome.succeeded()) {
        auto *history = m_companions ? m_companions->history : nullptr;
        if (history) {
            history->noteListeningStarted(m_session->isSystemAudioListening() ? QStringLiteral("system_audio+microphone")
                                                                              : QStringLiteral("microphone"));
            history->scheduleSessionStartIfNeeded();
        }
        qCInfo(KavrelDiagnostics::session()).noquote()
            << QStringLiteral("microphone capture toggled enabled=true system=%1 device=%2")
                   .arg(flag(m_session->isSystemAudioListening()),
                        selectedMicrophoneListName().isEmpty() ? m_selectedMicrophoneID : selectedMicrophoneListName());
        setMicrophoneBusy(false);
        co_return;
    }
    m_mixer->setMicrophoneEnabled(false);
    co_await stopMicrophoneCaptureIfPossible(true);
    if (!self)
        co_return;
    setMicrophoneListening(false);
    updateMicrophoneLiveHandler();
    // A pipeline that this switch brought up only for the microphone goes down with it.
    if (bringsUpPipeline && m_session->isStreamingSessionPrepared() && !m_session->isSystemAudioListening()) {
        co_await m_session->cleanupFailedStreamingStartup();
        if (!self)
            co_return;
        m_session->setStatus(SubtitleStatus::idle);
    }
    m_session->setErrorMessage(outcome.errorText());
    setMicrophoneBusy(false);
}

QCoro::Task<void> MicrophoneControl::switchOff()
{
    QPointer<MicrophoneControl> self(this);
    m_mixer->setMicrophoneEnabled(false);
    setMicrophoneListening(false);
    m_session->setShouldShowMicrophoneOffWarning(m_session->isSystemAudioListening());
    updateMicrophoneLiveHandler();
    co_await stopMicrophoneCaptureIfPossible(false);
    if (!self)
        co_return;
    if (!m_session->isSystemAudioListening()) {
        // The microphone was the session's only source: the session ends and is saved.
        m_session->setShouldShowMicrophoneOffWarning(false);
        co_await m_session->stopStreamingSession(true, true);
        if (!self)
            co_return;
    } else {
        m_session->setStatus(SubtitleStatus::listening);
    }
    qCInfo(KavrelDiagnostics::session()).noquote()
        << QStringLiteral("microphone capture toggled enabled=false system=%1").arg(flag(m_session->isSystemAudioListening()));
    setMicrophoneBusy(false);
}

void MicrophoneControl::toggleMicrophoneTest()
{
    const bool busy = m_session && m_session->isBusy();
    if (busy || m_isMicrophoneBusy)
        return;
    setMicrophoneBusy(true);
    spawnOperation(m_isMicrophoneTesting ? &MicrophoneControl::stopTest : &MicrophoneControl::startTest);
}

QCoro::Task<void> MicrophoneControl::startTest()
{
    QPointer<MicrophoneControl> self(this);
    prepareMicrophoneServiceHandlers();
    const TaskOutcome<void> started = co_await outcomeOf(startMicrophoneCaptureIfNeeded());
    if (!self)
        co_return;
    if (started.succeeded()) {
        // The mixer's microphone lane stays off: test audio reaches neither recording nor speech.
        setMicrophoneTesting(true);
        finishCommand(std::nullopt);
        co_return;
    }
    co_await stopMicrophoneCaptureIfPossible(true);
    if (!self)
        co_return;
    setMicrophoneTesting(false);
    finishCommand(started.errorText());
}

QCoro::Task<void> MicrophoneControl::stopTest()
{
    QPointer<MicrophoneControl> self(this);
    setMicrophoneTesting(false);
    updateMicrophoneLiveHandler();
    co_await stopMicrophoneCaptureIfPossible(false);
    if (self)
        setMicrophoneBusy(false);
}

void MicrophoneControl::selectMicrophone(const QString &id)
{
    // Choosing the device that stands in for an absent choice makes it the choice.
    m_chosenMicrophoneID = id;
    if (id == m_selectedMicrophoneID)
        return;
    setSelectedMicrophoneID(id);
    moveCaptureToSelection();
}

void MicrophoneControl::moveCaptureToSelection()
{
    if (!m_isMicrophoneCaptureActive)
        return;
    // While a session starts or stops the choice is only stored: the capture that start or
    // stop leaves behind uses it next time.
    if (m_session && (m_session->isBusy() || m_session->isStopping()))
        return;
    setMicrophoneBusy(true);
    spawnOperation(&MicrophoneControl::switchDevice);
}

QCoro::Task<void> MicrophoneControl::switchDevice()
{
    QPointer<MicrophoneControl> self(this);
    const bool wasListening = m_isMicrophoneListening;
    const bool wasTesting = m_isMicrophoneTesting;
    const quint64 serial = m_microphoneSerial;
    // The mixer's microphone lane stays open across the switch: the new device's first audio,
    // which may come before the switch has finished, goes into the stream in its place, and the
    // lane is waited for no longer than for any source that pauses.
    setCaptureActive(false);
    setMicrophoneListening(false);
    setMicrophoneLevel(0);
    {
        OperationScope scope(m_operationsInFlight);
        co_await m_microphone->stopCapture();
    }
    if (!self)
        co_return;

    TaskOutcome<void> restart;
    if (m_microphoneSerial == serial) {
        restart = co_await outcomeOf(startMicrophoneCaptureIfNeeded());
        if (!self)
            co_return;
    }
    if (m_microphoneSerial != serial) {
        // A stop or a failure replaced the service meanwhile and left the microphone Off.
        setMicrophoneBusy(false);
        co_return;
    }
    if (restart.succeeded()) {
        setMicrophoneListening(wasListening);
        setMicrophoneTesting(wasTesting);
        m_mixer->setMicrophoneEnabled(wasListening);
        finishCommand(std::nullopt);
        co_return;
    }
    setMicrophoneTesting(false);
    m_mixer->setMicrophoneEnabled(false);
    co_await stopMicrophoneCaptureIfPossible(true);
    if (!self)
        co_return;
    finishCommand(restart.errorText());
}

void MicrophoneControl::finishCommand(std::optional<QString> error)
{
    updateMicrophoneLiveHandler();
    if (m_session)
        m_session->setErrorMessage(std::move(error));
    setMicrophoneBusy(false);
}

void MicrophoneControl::handleMicrophoneRuntimeError(const QString &message)
{
    clearSessionState();
    if (m_session)
        m_session->setErrorMessage(message);
    spawnOperation(&MicrophoneControl::recoverFromRuntimeError);
}

QCoro::Task<void> MicrophoneControl::recoverFromRuntimeError()
{
    QPointer<MicrophoneControl> self(this);
    // The failed service is replaced at once (the stop of the old one is awaited below).
    auto reset = resetMicrophoneService();
    updateMicrophoneLiveHandler();
    co_await std::move(reset);
    if (!self)
        co_return;
    m_mixer->setMicrophoneEnabled(false);
    if (!m_session)
        co_return;
    if (!m_session->isSystemAudioListening())
        co_await m_session->stopAfterFailure();
    else
        m_session->setStatus(SubtitleStatus::listening);
}
