#pragma once

// A session view model surface for tests of the shell's windows: plain values the test sets
// (each set announces the change), the dialogue as real closed turns published in rows, and a
// record of the commands the windows sent.

#include "session/KavrelSessionSurface.h"
#include "session/PublishedTranscript.h"
#include "session/SessionTurnStore.h"

#include <QStringList>
#include <QUuid>

#include <utility>
#include <vector>

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
        bool isAskingStartQuestions = false;
        QString liveSubtitlePreview;
        QString liveTranslationPreview;
        QString translationPlaceholderText = QStringLiteral("Translation will appear here as final transcript chunks arrive.");
        QString translationPanelTitle = QStringLiteral("English translation");
        QList<MicrophoneInputDevice> availableMicrophones;
        QString selectedMicrophoneID;
        QString selectedMicrophoneName = QStringLiteral("Default microphone");
        std::optional<QString> errorMessage;
    };

    State state;
    SessionTurnStore turns;
    PublishedTranscript published{&turns};
    // "promptAndStartListening(true)", "stopActiveSession()", "selectMicrophone(mic-2)", ...
    QStringList commands;

    // Replaces the dialogue with closed turns of these texts and translations (an empty text
    // or translation gives no row in that column), seven seconds apart from 09:05:07.
    void setTurns(const std::vector<std::pair<QString, QString>> &texts)
    {
        std::vector<SessionTurn> closed;
        for (const auto &[text, translation] : texts)
            closed.push_back(closedTurn(text, translation, int(closed.size())));
        turns.replaceAll(std::move(closed));
        Q_EMIT changed();
    }

    static SessionTurn closedTurn(const QString &text, const QString &translation, int index)
    {
        SessionTurn turn;
        turn.id = QUuid::createUuid();
        turn.text = text;
        turn.translationText = translation;
        turn.timestamp = QDateTime(QDate(2026, 3, 2), QTime(9, 5, 7)).addSecs(index * 7);
        turn.isClosed = true;
        return turn;
    }

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
    bool isAskingStartQuestions() const override { return state.isAskingStartQuestions; }
    SubtitleStatus status() const override { return state.status; }
    bool isBusy() const override { return state.isBusy; }
    bool isMicrophoneBusy() const override { return state.isMicrophoneBusy; }
    bool isMicrophoneListening() const override { return state.isMicrophoneListening; }
    bool isTranslationEnabled() const override { return state.isTranslationEnabled; }
    bool startsWithMicrophoneEnabled() const override { return state.startsWithMicrophoneEnabled; }
    PublishedTranscript *publishedTranscript() const override { return const_cast<PublishedTranscript *>(&published); }
    QString subtitlesText() const override { return published.subtitlesText(); }
    QString liveSubtitlePreview() const override { return state.liveSubtitlePreview; }
    QString translatedText() const override { return published.translatedText(); }
    QString liveTranslationPreview() const override { return state.liveTranslationPreview; }
    int transcriptEntryCount() const override { return published.rowCount(PublishedTranscript::Column::transcript); }
    int translationEntryCount() const override { return published.rowCount(PublishedTranscript::Column::translation); }
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
