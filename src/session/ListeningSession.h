#pragma once

#include "base/Async.h"
#include "session/SessionCompanions.h"
#include "session/SessionModel.h"

#include <QObject>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

class MicrophoneControl;
class SessionDraftStore;
class SessionTurnStore;
struct SessionServices;

// Starts and stops listening sessions. It owns the session status, the busy flag of the
// session commands, system-audio listening, the streaming pipeline (recording, mixer, speech
// stream, audio routing) and its generation, the error and translation notices and the path
// of the last recording.
//
// A listening session is what the user starts and stops; a streaming session is one bring-up
// of the pipeline. Bring-up happens at most once per streaming session (concurrent callers
// share it); a stop tears down in a fixed order: microphone, system audio, a short pause and
// the mixer drain (so the recording and the socket get every chunk), the recording, the speech
// stream, then the open turn is closed. Only one stop runs at a time: a stop requested while
// one runs (a run-time failure during a user stop, two failures together) waits for it.
//
// Speech-to-text events and errors carry the generation of the stream they came from; those
// of an ended stream change nothing.
//
// Main thread only; commands return at once and run their work as tasks.
class ListeningSession final : public QObject
{
    Q_OBJECT

public:
    struct Timings
    {
        // Pause before the mixer is drained at a stop, so the capture threads' last chunks arrive.
        std::chrono::milliseconds drainPause{50};
    };
    // What a bring-up needs to know of the settings at that moment.
    struct StreamingSettings
    {
        QString sourceLanguageCode;
        bool recordAudio = false;
    };

    ListeningSession(SessionServices &services, SessionTurnStore *turns, SessionDraftStore *draft,
                     QObject *parent = nullptr);
    ~ListeningSession() override;

    void setMicrophoneControl(MicrophoneControl *microphone) { m_microphone = microphone; }
    void setCompanions(const SessionCompanions *companions) { m_companions = companions; }
    void setSettingsProvider(std::function<StreamingSettings()> provider) { m_settings = std::move(provider); }
    // Clears the visible session (turns, texts, panels, the stored draft).
    void setSubtitleClearer(std::function<void()> clearer) { m_clearSubtitles = std::move(clearer); }
    void setTimings(const Timings &timings) { m_timings = timings; }
    const Timings &timings() const { return m_timings; }

    SubtitleStatus status() const { return m_status; }
    bool isBusy() const { return m_isBusy; }
    bool isSystemAudioListening() const { return m_isSystemAudioListening; }
    bool isStreamingSessionPrepared() const { return m_isStreamingSessionPrepared; }
    bool shouldShowMicrophoneOffWarning() const { return m_shouldShowMicrophoneOffWarning; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    std::optional<QString> translationMessage() const { return m_translationMessage; }
    std::optional<QString> lastRecordingPath() const { return m_lastRecordingPath; }
    QUuid streamingSessionGeneration() const { return m_streamingSessionGeneration.current(); }
    // Something runs: the pipeline, system audio, the microphone or its test.
    bool hasActiveSession() const;
    bool isStopping() const { return m_stopTask.isValid() && !m_stopTask.isFinished(); }

    // Written by the other session concerns too.
    void setStatus(SubtitleStatus status);
    void setBusy(bool busy);
    void setShouldShowMicrophoneOffWarning(bool show);
    void setErrorMessage(std::optional<QString> message);
    void setTranslationMessage(std::optional<QString> message);

    // Commands.
    void startListening(ListeningSessionStartMode mode, bool includeMicrophone);
    void stopActiveSession();
    void startNewSession();
    // For the application's quit: waits for a start or stop under way, stops what is active
    // (the recording is finished, the transcript closed) and writes the draft.
    QCoro::Task<void> stopActiveSessionAndWait();

    // Operations shared with the microphone control.
    QCoro::Task<void> ensureStreamingSessionStarted();
    QCoro::Task<void> cleanupFailedStreamingStartup();
    QCoro::Task<void> stopStreamingSession(bool markStopped, bool persistHistory);
    // A stop caused by a failure rather than the user: it keeps the session commands refused
    // until the teardown is over, and does nothing when nothing runs.
    QCoro::Task<void> stopAfterFailure();

Q_SIGNALS:
    void statusChanged();
    void isBusyChanged();
    void isSystemAudioListeningChanged();
    void shouldShowMicrophoneOffWarningChanged();
    void errorMessageChanged();
    void translationMessageChanged();
    void lastRecordingPathChanged();
    // hasActiveSession may have changed.
    void activeSessionChanged();

private:
    QCoro::Task<void> runStart(ListeningSessionStartMode mode, bool includeMicrophone);
    QCoro::Task<void> prepareNewListeningSession();
    void clearCurrentSessionForNewSession();
    QCoro::Task<void> startSystemAudioListening(bool includeMicrophone);
    QCoro::Task<void> bringUpStreamingSession();
    QCoro::Task<void> runStopSequence(bool markStopped, bool persistHistory);
    void configureSystemAudioRouting();
    void configureMixedAudioOutput();
    void installSpeechHandlersFor(const QUuid &generation);
    void handleLiveTranscriptionRuntimeError(const QString &message, const QUuid &generation);
    void handleSystemAudioRuntimeError(const QString &message, const QUuid &generation);
    void handleRecordingStopped(const QString &reason, const QUuid &generation);
    void setSystemAudioListening(bool listening);
    void setStreamingSessionPrepared(bool prepared);
    void setLastRecordingPath(std::optional<QString> path);

    SessionServices &m_services;
    SessionTurnStore *m_turns;
    SessionDraftStore *m_draft;
    MicrophoneControl *m_microphone = nullptr;
    const SessionCompanions *m_companions = nullptr;
    std::function<StreamingSettings()> m_settings;
    std::function<void()> m_clearSubtitles;
    Timings m_timings;

    SubtitleStatus m_status = SubtitleStatus::idle;
    bool m_isBusy = false;
    bool m_isSystemAudioListening = false;
    bool m_isStreamingSessionPrepared = false;
    bool m_shouldShowMicrophoneOffWarning = false;
    std::optional<QString> m_errorMessage;
    std::optional<QString> m_translationMessage;
    std::optional<QString> m_lastRecordingPath;
    bool m_isHandlingLiveTranscriptionRuntimeError = false;

    GenerationId m_streamingSessionGeneration;
    // The speech stream whose events are applied; renewed once a stream has ended.
    GenerationId m_transcriptionGeneration;
    TaskHandle<void> m_translationPreparationTask;
    TaskHandle<void> m_startTask;
    TaskHandle<void> m_bringUpTask;
    TaskHandle<void> m_stopTask;
};
