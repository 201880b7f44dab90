#include "session/ListeningSession.h"

#include "audio/MixedAudioStreamMixer.h"
#include "audio/SystemAudioCaptureError.h"
#include "base/KavrelDiagnostics.h"
#include "base/TaskOutcome.h"
#include "session/MicrophoneControl.h"
#include "session/SessionDraftStore.h"
#include "session/SessionServices.h"
#include "session/SessionTurnStore.h"
#include "accounts/KavrelBackendProxyService.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/KavrelLiveTranslationV2Service.h"

#include <QElapsedTimer>
#include <QPointer>

namespace {

QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// The mixer's ordered output: the recording gets each chunk before the speech stream does, and
// the next chunk waits for both. A free coroutine, so a handler replaced while a chunk is under
// way leaves nothing dangling.
QCoro::Task<void> deliverMixedChunk(SessionRecorder *recorder, SpeechToTextStream *speech, QByteArray chunk)
{
    co_await recorder->appendMixedAudio(chunk);
    speech->sendAudio(std::move(chunk));
}

} // namespace

ListeningSession::ListeningSession(SessionServices &services, SessionTurnStore *turns, SessionDraftStore *draft,
                                   QObject *parent)
    : QObject(parent)
    , m_services(services)
    , m_turns(turns)
    , m_draft(draft)
{
}

ListeningSession::~ListeningSession()
{
    m_translationPreparationTask.cancel();
    m_services.systemAudio->setLiveAudioDataHandler(nullptr);
    m_services.systemAudio->setErrorHandler(nullptr);
}

bool ListeningSession::hasActiveSession() const
{
    return m_isStreamingSessionPrepared || m_isSystemAudioListening
           || (m_microphone && (m_microphone->isMicrophoneListening() || m_microphone->isMicrophoneTesting()));
}

void ListeningSession::setStatus(SubtitleStatus status)
{
    if (m_status == status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}

void ListeningSession::setBusy(bool busy)
{
    if (m_isBusy == busy)
        return;
    m_isBusy = busy;
    Q_EMIT isBusyChanged();
}

void ListeningSession::setShouldShowMicrophoneOffWarning(bool show)
{
    if (m_shouldShowMicrophoneOffWarning == show)
        return;
    m_shouldShowMicrophoneOffWarning = show;
    Q_EMIT shouldShowMicrophoneOffWarningChanged();
}

void ListeningSession::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

void ListeningSession::setTranslationMessage(std::optional<QString> message)
{
    if (m_translationMessage == message)
        return;
    m_translationMessage = std::move(message);
    Q_EMIT translationMessageChanged();
}

void ListeningSession::setSystemAudioListening(bool listening)
{
    if (m_isSystemAudioListening == listening)
        return;
    m_isSystemAudioListening = listening;
    Q_EMIT isSystemAudioListeningChanged();
    Q_EMIT activeSessionChanged();
}

void ListeningSession::setStreamingSessionPrepared(bool prepared)
{
    if (m_isStreamingSessionPrepared == prepared)
        return;
    m_isStreamingSessionPrepared = prepared;
    Q_EMIT activeSessionChanged();
}

void ListeningSession::setLastRecordingPath(std::optional<QString> path)
{
    if (m_lastRecordingPath == path)
        return;
    m_lastRecordingPath = std::move(path);
    Q_EMIT lastRecordingPathChanged();
}

// MARK: Commands

void ListeningSession::startListening(ListeningSessionStartMode mode, bool includeMicrophone)
{
    qCInfo(KavrelDiagnostics::session()).noquote()
        << QStringLiteral("startListening requested mode=%1 includeMicrophone=%2 isSystemListening=%3 isBusy=%4")
               .arg(ListeningSessionStartModes::caseName(mode), flag(includeMicrophone), flag(m_isSystemAudioListening),
                    flag(m_isBusy));
    if (m_isSystemAudioListening || m_isBusy) {
        qCWarning(KavrelDiagnostics::session()) << "startListening ignored because session is already active or busy";
        return;
    }
    setBusy(true);
    setErrorMessage(std::nullopt);
    setTranslationMessage(std::nullopt);
    QPointer<ListeningSession> self(this);
    m_startTask = spawnTask([self, mode, includeMicrophone](CancellationToken) -> QCoro::Task<void> {
        if (self)
            co_await self->runStart(mode, includeMicrophone);
    });
}

QCoro::Task<void> ListeningSession::runStart(ListeningSessionStartMode mode, bool includeMicrophone)
{
    QPointer<ListeningSession> self(this);
    TaskOutcome<void> outcome;
    if (mode == ListeningSessionStartMode::newSession)
        outcome = co_await outcomeOf(prepareNewListeningSession());
    if (self && outcome.succeeded())
        outcome = co_await outcomeOf(startSystemAudioListening(includeMicrophone));
    if (!self)
        co_return;
    if (outcome.failed()) {
        const QString message = outcome.errorText();
        qCWarning(KavrelDiagnostics::session()).noquote() << QStringLiteral("startListening failed error=%1").arg(message);
        setErrorMessage(message);
        if (!m_isSystemAudioListening && !(m_microphone && m_microphone->isMicrophoneListening()))
            setStatus(SubtitleStatus::idle);
    }
    setBusy(false);
}

void ListeningSession::stopActiveSession()
{
    const bool microphoneBusy = m_microphone && m_microphone->isMicrophoneBusy();
    qCInfo(KavrelDiagnostics::session()).noquote()
        << QStringLiteral("stopActiveSession requested active=%1 busy=%2 microphoneBusy=%3")
               .arg(flag(hasActiveSession()), flag(m_isBusy), flag(microphoneBusy));
    if (!hasActiveSession() || m_isBusy || microphoneBusy)
        return;
    setBusy(true);
    if (m_microphone)
        m_microphone->setMicrophoneBusy(true);
    setErrorMessage(std::nullopt);
    QPointer<ListeningSession> self(this);
    spawnTask([self](CancellationToken) -> QCoro::Task<void> {
        if (!self)
            co_return;
        co_await self->stopStreamingSession(true, true);
        if (!self)
            co_return;
        self->setBusy(false);
        if (self->m_microphone)
            self->m_microphone->setMicrophoneBusy(false);
    });
}

void ListeningSession::startNewSession()
{
    const bool microphoneBusy = m_microphone && m_microphone->isMicrophoneBusy();
    qCInfo(KavrelDiagnostics::session()).noquote()
        << QStringLiteral("startNewSession requested active=%1 busy=%2").arg(flag(hasActiveSession()), flag(m_isBusy));
    if (m_isBusy || microphoneBusy)
        return;
    setBusy(true);
    setErrorMessage(std::nullopt);
    setTranslationMessage(std::nullopt);
    QPointer<ListeningSession> self(this);
    m_startTask = spawnTask([self](CancellationToken) -> QCoro::Task<void> {
        if (!self)
            co_return;
        co_await self->prepareNewListeningSession();
        if (self)
            self->setBusy(false);
    });
}

QCoro::Task<void> ListeningSession::stopActiveSessionAndWait()
{
    QPointer<ListeningSession> self(this);
    const TaskHandle<void> start = m_startTask;
    if (start.isValid())
        co_await start.completion();
    if (!self)
        co_return;
    const TaskHandle<void> stop = m_stopTask;
    if (stop.isValid())
        co_await stop.completion();
    if (!self)
        co_return;
    if (hasActiveSession())
        co_await stopStreamingSession(true, true);
    if (self)
        m_draft->flushPendingAutosave();
}

// MARK: Start

QCoro::Task<void> ListeningSession::prepareNewListeningSession()
{
    QPointer<ListeningSession> self(this);
    if (hasActiveSession())
        co_await stopStreamingSession(false, false);
    if (!self)
        co_return;
    // The finished meeting is saved in the background: an offline save keeps retrying
    // without holding up the new session, and its notice stays its own.
    if (auto *history = m_companions ? m_companions->history : nullptr)
        history->finishConversation();
    clearCurrentSessionForNewSession();
}

void ListeningSession::clearCurrentSessionForNewSession()
{
    if (m_clearSubtitles)
        m_clearSubtitles();
    setLastRecordingPath(std::nullopt);
    setErrorMessage(std::nullopt);
    setTranslationMessage(std::nullopt);
    setShouldShowMicrophoneOffWarning(false);
    setStatus(SubtitleStatus::idle);
}

QCoro::Task<void> ListeningSession::startSystemAudioListening(bool includeMicrophone)
{
    QPointer<ListeningSession> self(this);
    const bool bringsUpPipeline = !m_isStreamingSessionPrepared;
    co_await ensureStreamingSessionStarted();
    if (!self)
        co_return;
    const QUuid generation = m_streamingSessionGeneration.current();

    const TaskOutcome<void> capture = co_await outcomeOf(m_services.systemAudio->startCapture());
    if (!self)
        co_return;
    if (capture.failed()) {
        // What this start brought up goes down with it: no socket or recording is left open.
        if (bringsUpPipeline && m_streamingSessionGeneration.isCurrent(generation))
            co_await cleanupFailedStreamingStartup();
        capture.rethrowIfFailed();
    }
    if (!m_streamingSessionGeneration.isCurrent(generation)) {
        // The pipeline ended while capture started (a speech stream failure stopped it); a
        // failure to stop changes nothing here.
        co_await outcomeOf(m_services.systemAudio->stopCapture());
        co_return;
    }

    setSystemAudioListening(true);
    setStatus(SubtitleStatus::listening);
    // A session continued without the question's microphone may have it on already (a
    // microphone-only session): what is captured counts, not the answer.
    const bool microphoneCaptured = includeMicrophone || (m_microphone && m_microphone->isMicrophoneListening());
    setShouldShowMicrophoneOffWarning(!microphoneCaptured);
    auto *history = m_companions ? m_companions->history : nullptr;
    if (history)
        history->noteListeningStarted(microphoneCaptured ? QStringLiteral("system_audio+microphone")
                                                         : QStringLiteral("system_audio"));
    if (auto *billing = m_companions ? m_companions->billing : nullptr)
        billing->markBillingUsageStartedIfNeeded();
    if (history)
        history->scheduleSessionStartIfNeeded();

    if (!includeMicrophone || !m_microphone || m_microphone->isMicrophoneListening())
        co_return;
    const TaskOutcome<void> microphone = co_await outcomeOf(m_microphone->enableMicrophoneListening());
    if (!self || microphone.succeeded())
        co_return;
    // The session goes on without the microphone.
    m_services.mixer->setMicrophoneEnabled(false);
    co_await m_microphone->stopMicrophoneCaptureIfPossible(true);
    if (!self)
        co_return;
    m_microphone->setMicrophoneListening(false);
    setShouldShowMicrophoneOffWarning(true);
    m_microphone->updateMicrophoneLiveHandler();
    setErrorMessage(microphone.errorText());
}

QCoro::Task<void> ListeningSession::ensureStreamingSessionStarted()
{
    if (m_isStreamingSessionPrepared)
        co_return;
    // Two starts at once (a session start and the microphone switch) share one bring-up.
    if (!m_bringUpTask.isValid() || m_bringUpTask.isFinished()) {
        QPointer<ListeningSession> self(this);
        m_bringUpTask = spawnTask([self](CancellationToken) -> QCoro::Task<void> {
            if (self)
                co_await self->bringUpStreamingSession();
        });
    }
    const TaskHandle<void> bringUp = m_bringUpTask;
    co_await bringUp.result();
}

QCoro::Task<void> ListeningSession::bringUpStreamingSession()
{
    QPointer<ListeningSession> self(this);
    QElapsedTimer elapsed;
    elapsed.start();
    const QUuid generation = m_streamingSessionGeneration.renew();
    m_transcriptionGeneration.renew();
    if (m_microphone)
        m_microphone->refreshAvailableMicrophones();
    const StreamingSettings settings = m_settings ? m_settings() : StreamingSettings{QStringLiteral("ru"), false};

    std::exception_ptr failure;
    try {
        m_services.recorder->startRecording(settings.recordAudio);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        co_await cleanupFailedStreamingStartup();
        std::rethrow_exception(failure);
    }

    m_services.mixer->reset();
    configureMixedAudioOutput();

    const QUuid transcription = m_transcriptionGeneration.current();
    QPointer<ListeningSession> weak(this);
    SpeechToTextStream::EventHandler onEvent = [weak, transcription](const DeepgramTranscriptEvent &event) {
        if (!weak || !weak->m_transcriptionGeneration.isCurrent(transcription))
            return;
        if (event.isFinal())
            weak->m_turns->applyFinalTranscript(event.result().transcript, event.result().speechFinal);
        else
            weak->m_turns->applyInterimTranscript(event.result().transcript);
    };
    SpeechToTextStream::ErrorHandler onError = [weak, transcription](const QString &message) {
        if (!weak)
            return;
        // Handled on a later turn: the speech client is still inside its own call here.
        QMetaObject::invokeMethod(
            weak.data(), [weak, message, transcription] {
                if (weak)
                    weak->handleLiveTranscriptionRuntimeError(message, transcription);
            },
            Qt::QueuedConnection);
    };
    const TaskOutcome<void> connected = co_await outcomeOf(m_services.speechToText->connect(
        settings.sourceLanguageCode, false, true, std::move(onEvent), std::move(onError)));
    if (!self)
        co_return;
    if (connected.failed()) {
        co_await cleanupFailedStreamingStartup();
        connected.rethrowIfFailed();
    }

    if (m_microphone)
        m_microphone->prepareMicrophoneServiceHandlers();
    configureSystemAudioRouting();
    if (m_microphone)
        m_microphone->updateMicrophoneLiveHandler();
    m_services.mixer->setMicrophoneEnabled(false);
    m_turns->setTranslationAvailable(false);
    m_turns->setLiveSubtitlePreview(QString());
    m_turns->setLiveTranslationPreview(QString());
    auto *translation = m_companions ? m_companions->translation : nullptr;
    setStreamingSessionPrepared(true);

    m_translationPreparationTask.cancel();
    m_translationPreparationTask = TaskHandle<void>();
    if (translation) {
        m_translationPreparationTask = spawnTask([translation, generation](CancellationToken) -> QCoro::Task<void> {
            co_await translation->prepareTranslationIfPossible(generation);
        });
    }
    qCInfo(KavrelDiagnostics::session()).noquote()
        << QStringLiteral("streaming session ready for audio durationMs=%1; translation continues in background")
               .arg(elapsed.elapsed());
}

QCoro::Task<void> ListeningSession::cleanupFailedStreamingStartup()
{
    QPointer<ListeningSession> self(this);
    m_translationPreparationTask.cancel();
    m_translationPreparationTask = TaskHandle<void>();
    m_streamingSessionGeneration.renew();
    m_transcriptionGeneration.renew();
    m_services.systemAudio->setLiveAudioDataHandler(nullptr);
    if (m_microphone)
        co_await m_microphone->resetMicrophoneService();
    if (!self)
        co_return;
    co_await m_services.speechToText->stop();
    if (!self)
        co_return;
    if (m_services.liveTranslation)
        co_await m_services.liveTranslation->resetSession();
    if (!self)
        co_return;
    co_await m_services.recorder->cancel();
    if (!self)
        co_return;
    m_services.mixer->reset();
    m_turns->setTranslationAvailable(false);
    if (m_isSystemAudioListening) {
        // A failure to stop changes nothing here: the session ends either way.
        co_await outcomeOf(m_services.systemAudio->stopCapture());
        if (!self)
            co_return;
    }
    setStreamingSessionPrepared(false);
    setSystemAudioListening(false);
    if (m_microphone)
        m_microphone->clearSessionState();
    m_turns->setLiveTranslationPreview(QString());
    if (auto *translation = m_companions ? m_companions->translation : nullptr)
        translation->clearPreviews();
    m_turns->forgetLastFinalTranscript();
}

// MARK: Stop

QCoro::Task<void> ListeningSession::stopStreamingSession(bool markStopped, bool persistHistory)
{
    if (!isStopping()) {
        QPointer<ListeningSession> self(this);
        m_stopTask = spawnTask([self, markStopped, persistHistory](CancellationToken) -> QCoro::Task<void> {
            if (self)
                co_await self->runStopSequence(markStopped, persistHistory);
        });
    }
    // A stop under way is joined: capture is stopped and the recording finished only once.
    const TaskHandle<void> stop = m_stopTask;
    co_await stop.completion();
}

QCoro::Task<void> ListeningSession::stopAfterFailure()
{
    if (!hasActiveSession() && !isStopping())
        co_return;
    QPointer<ListeningSession> self(this);
    const bool wasBusy = m_isBusy;
    setBusy(true);
    co_await stopStreamingSession(true, true);
    if (self && !wasBusy)
        setBusy(false);
}

QCoro::Task<void> ListeningSession::runStopSequence(bool markStopped, bool persistHistory)
{
    QPointer<ListeningSession> self(this);
    const bool microphoneListening = m_microphone && m_microphone->isMicrophoneListening();
    qCInfo(KavrelDiagnostics::session()).noquote()
        << QStringLiteral("stopStreamingSession begin markStopped=%1 persistHistory=%2 prepared=%3 system=%4 mic=%5")
               .arg(flag(markStopped), flag(persistHistory), flag(m_isStreamingSessionPrepared),
                    flag(m_isSystemAudioListening), flag(microphoneListening));

    m_translationPreparationTask.cancel();
    m_translationPreparationTask = TaskHandle<void>();
    m_streamingSessionGeneration.renew();

    // Microphone off.
    if (m_microphone) {
        co_await m_microphone->resetMicrophoneService();
        if (!self)
            co_return;
        m_microphone->clearSessionState();
    }
    setShouldShowMicrophoneOffWarning(false);
    // The microphone's lane is closed after the drain: what the microphone said last may still
    // wait there for the computer's audio of the same moment, which a busy machine hands on later.

    // System audio off.
    std::optional<QString> stopError;
    if (m_isSystemAudioListening) {
        const TaskOutcome<void> stopped = co_await outcomeOf(m_services.systemAudio->stopCapture());
        if (!self)
            co_return;
        if (stopped.failed())
            stopError = stopped.errorText();
    }
    setSystemAudioListening(false);
    m_services.systemAudio->setLiveAudioDataHandler(nullptr);

    // The last audio reaches the recording and the socket before they close.
    std::optional<QUrl> recordingURL;
    if (m_isStreamingSessionPrepared) {
        try {
            co_await sleepFor(m_timings.drainPause, CancellationToken());
        } catch (const CancellationError &) {
        }
        if (!self)
            co_return;
        co_await m_services.mixer->drainRemainingAudio();
        if (!self)
            co_return;
        m_services.mixer->setMicrophoneEnabled(false);
        if (m_isStreamingSessionPrepared) {
            const TaskOutcome<std::optional<QUrl>> finished = co_await outcomeOf(m_services.recorder->finishRecording());
            if (finished.succeeded()) {
                recordingURL = *finished.value;
            } else {
                // What was recorded before the failure is a recording too.
                const std::optional<SystemAudioCaptureError> failure = finished.errorAs<SystemAudioCaptureError>();
                if (failure && !failure->keptFile().isEmpty())
                    recordingURL = QUrl::fromLocalFile(failure->keptFile());
                if (!stopError)
                    stopError = finished.errorText();
            }
            if (!self)
                co_return;
        }
    }

    co_await m_services.speechToText->stop();
    if (!self)
        co_return;
    // Results of the ended stream have all arrived; anything later is stale.
    m_transcriptionGeneration.renew();

    auto *translation = m_companions ? m_companions->translation : nullptr;
    if (translation)
        translation->commitPendingTranslationDrafts();
    m_turns->finalizeCurrentTurnIfNeeded();

    if (m_services.liveTranslation) {
        co_await m_services.liveTranslation->resetSession();
        if (!self)
            co_return;
    }
    m_services.mixer->reset();
    m_turns->setTranslationAvailable(false);
    setStreamingSessionPrepared(false);
    setLastRecordingPath(recordingURL ? std::optional<QString>(recordingURL->toLocalFile()) : std::nullopt);

    m_turns->setLiveSubtitlePreview(QString());
    m_turns->setLiveTranslationPreview(QString());
    if (translation)
        translation->clearPreviews();
    m_turns->forgetLastFinalTranscript();

    if (auto *billing = m_companions ? m_companions->billing : nullptr)
        billing->scheduleBillingUsageEventSyncIfNeeded();
    setStatus(markStopped ? SubtitleStatus::stopped : SubtitleStatus::idle);
    m_draft->scheduleDraftAutosave();
    if (persistHistory) {
        if (auto *history = m_companions ? m_companions->history : nullptr)
            history->scheduleSnapshotSync(markStopped ? MeetingSessionHistoryStatus::completed
                                                      : MeetingSessionHistoryStatus::active);
    }
    if (stopError)
        setErrorMessage(stopError);
}

// MARK: Routing and speech-to-text failures

void ListeningSession::configureSystemAudioRouting()
{
    QPointer<ListeningSession> self(this);
    const QUuid generation = m_streamingSessionGeneration.current();
    m_services.systemAudio->setErrorHandler([self, generation](const QString &message) {
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(), [self, message, generation] {
                if (self)
                    self->handleSystemAudioRuntimeError(message, generation);
            },
            Qt::QueuedConnection);
    });
    // The mixer's feed keeps the chunks in capture order.
    m_services.systemAudio->setLiveAudioDataHandler(m_services.mixer->systemAudioFeed());
}

void ListeningSession::configureMixedAudioOutput()
{
    SessionRecorder *recorder = m_services.recorder.get();
    SpeechToTextStream *speech = m_services.speechToText.get();
    m_services.mixer->setOutputHandler(
        [recorder, speech](QByteArray chunk) { return deliverMixedChunk(recorder, speech, std::move(chunk)); });
    QPointer<ListeningSession> self(this);
    const QUuid generation = m_streamingSessionGeneration.current();
    recorder->setFailureHandler([self, generation](const QString &reason) {
        if (self)
            self->handleRecordingStopped(reason, generation);
    });
}

// The recording ended early (a full disk); listening, the transcript and the history go on.
// The user hears of it now, not only at the stop, which then names the file that was kept.
void ListeningSession::handleRecordingStopped(const QString &reason, const QUuid &generation)
{
    if (!m_streamingSessionGeneration.isCurrent(generation))
        return;
    qCWarning(KavrelDiagnostics::session()).noquote() << QStringLiteral("recording stopped reason=%1").arg(reason);
    setErrorMessage(QStringLiteral("Recording stopped: ") + reason);
}

void ListeningSession::handleSystemAudioRuntimeError(const QString &message, const QUuid &generation)
{
    if (!m_streamingSessionGeneration.isCurrent(generation) || !m_isSystemAudioListening)
        return;
    qCWarning(KavrelDiagnostics::session()).noquote() << QStringLiteral("system audio lost message=%1").arg(message);
    // Without the computer's audio the session has nothing to listen to: it ends and is saved.
    setErrorMessage(message);
    QPointer<ListeningSession> self(this);
    spawnTask([self, message](CancellationToken) -> QCoro::Task<void> {
        if (!self)
            co_return;
        co_await self->stopAfterFailure();
        if (self)
            self->setErrorMessage(message);
    });
}

void ListeningSession::handleLiveTranscriptionRuntimeError(const QString &message, const QUuid &generation)
{
    if (!m_transcriptionGeneration.isCurrent(generation)) {
        qCInfo(KavrelDiagnostics::transcription()).noquote()
            << QStringLiteral("runtime error of an ended stream ignored message=%1").arg(message);
        return;
    }
    qCWarning(KavrelDiagnostics::transcription()).noquote()
        << QStringLiteral("runtime error message=%1 prepared=%2").arg(message, flag(m_isStreamingSessionPrepared));
    const QString text = QStringLiteral("Live transcription was interrupted: ") + message;
    setErrorMessage(text);
    if (!m_isStreamingSessionPrepared || m_isHandlingLiveTranscriptionRuntimeError)
        return;
    m_isHandlingLiveTranscriptionRuntimeError = true;
    QPointer<ListeningSession> self(this);
    spawnTask([self, text](CancellationToken) -> QCoro::Task<void> {
        if (!self)
            co_return;
        co_await self->stopAfterFailure();
        if (!self)
            co_return;
        self->setErrorMessage(text);
        self->m_isHandlingLiveTranscriptionRuntimeError = false;
    });
}
