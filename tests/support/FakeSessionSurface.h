#pragma once

// A session view model surface for tests of the shell's windows: plain values the test sets
// (each set announces the change) and a record of the commands the windows sent.

#include "session/KavrelSessionSurface.h"

#include <QStringList>

class FakeSessionSurface final : public KavrelSessionSurface
{
    Q_OBJECT

public:
    struct State
    {
        bool hasActiveSession = false;
        SubtitleStatus status = SubtitleStatus::idle;
        bool isBusy = false;
        bool isMicrophoneBusy = false;
        bool isMicrophoneListening = false;
        bool isTranslationEnabled = true;
        bool startsWithMicrophoneEnabled = false;
        QString subtitlesText;
        QString liveSubtitlePreview;
        QString translatedText;
        QString liveTranslationPreview;
        int transcriptEntryCount = 0;
        int translationEntryCount = 0;
        QString translationPlaceholderText = QStringLiteral("Translation will appear here as final transcript chunks arrive.");
        QString translationPanelTitle = QStringLiteral("English translation");
        QList<MicrophoneInputDevice> availableMicrophones;
        QString selectedMicrophoneID;
        QString selectedMicrophoneName = QStringLiteral("Default microphone");
        std::optional<QString> errorMessage;
    };

    State state;
    // "promptAndStartListening(true)", "stopActiveSession()", "selectMicrophone(mic-2)", ...
    QStringList commands;

    // Changes the state and announces it.
    template<typename F>
    void update(F change)
    {
        const bool wasActive = state.hasActiveSession;
        change(state);
        Q_EMIT changed();
        if (wasActive != state.hasActiveSession)
            Q_EMIT hasActiveSessionChanged();
    }

    bool hasActiveSession() const override { return state.hasActiveSession; }
    SubtitleStatus status() const override { return state.status; }
    bool isBusy() const override { return state.isBusy; }
    bool isMicrophoneBusy() const override { return state.isMicrophoneBusy; }
    bool isMicrophoneListening() const override { return state.isMicrophoneListening; }
    bool isTranslationEnabled() const override { return state.isTranslationEnabled; }
    bool startsWithMicrophoneEnabled() const override { return state.startsWithMicrophoneEnabled; }
    QString subtitlesText() const override { return state.subtitlesText; }
    QString liveSubtitlePreview() const override { return state.liveSubtitlePreview; }
    QString translatedText() const override { return state.translatedText; }
    QString liveTranslationPreview() const override { return state.liveTranslationPreview; }
    int transcriptEntryCount() const override { return state.transcriptEntryCount; }
    int translationEntryCount() const override { return state.translationEntryCount; }
    QString translationPlaceholderText() const override { return state.translationPlaceholderText; }
    QString translationPanelTitle() const override { return state.translationPanelTitle; }
    QList<MicrophoneInputDevice> availableMicrophones() const override { return state.availableMicrophones; }
    QString selectedMicrophoneID() const override { return state.selectedMicrophoneID; }
    QString selectedMicrophoneName() const override { return state.selectedMicrophoneName; }

    void promptAndStartListening(bool includeMicrophone) override
    {
        commands << QStringLiteral("promptAndStartListening(%1)").arg(includeMicrophone ? "true" : "false");
    }
    void stopActiveSession() override { commands << QStringLiteral("stopActiveSession()"); }
    void toggleMicrophoneCapture() override { commands << QStringLiteral("toggleMicrophoneCapture()"); }
    void selectMicrophone(const QString &id) override { commands << QStringLiteral("selectMicrophone(%1)").arg(id); }
    void refreshAvailableMicrophones() override { commands << QStringLiteral("refreshAvailableMicrophones()"); }
    void setErrorMessage(const std::optional<QString> &message) override
    {
        state.errorMessage = message;
        Q_EMIT changed();
    }
};
