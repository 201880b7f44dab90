#pragma once

#include "session/MeetingHistoryMirror.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>

class AIResultPanelSet;
class BillingUsageReporter;
class HandedOverMeetingStore;
class LiveTranslationRouter;
class SignedInAccountFollower;
class StableReconstructionScheduler;
class SubtitleViewModel;

// The parts of the engine that work on the dialogue in the background: live translation,
// the rewriting of closed turns into stable text, the meeting history record, the usage
// reports and the AI panels. Made by SubtitleViewModel, which they plug into as companions;
// this class wires them to the view model's state and to each other.
//
// Main thread only.
class SessionCompanionSet final : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    struct Timings
    {
        std::chrono::milliseconds stableRewriteDebounce{2000};
        MeetingHistoryMirror::Timings history;
    };

    explicit SessionCompanionSet(SubtitleViewModel &viewModel);
    ~SessionCompanionSet() override;

    void setTimings(const Timings &timings);
    // The clock of history dates and usage stretches (tests pass their own).
    void setClock(Clock clock) { m_clock = std::move(clock); }

    LiveTranslationRouter *translation() const { return m_translation; }
    StableReconstructionScheduler *stableRewrite() const { return m_stableRewrite; }
    MeetingHistoryMirror *history() const { return m_history; }
    BillingUsageReporter *billing() const { return m_billing.get(); }
    HandedOverMeetingStore *handedOverMeetings() const { return m_handedOverMeetings; }
    AIResultPanelSet *panels() const { return m_panels; }
    SignedInAccountFollower *accounts() const { return m_accounts; }

    // The AI commands of both columns.
    void summarizeSourceText();
    void summarizeTranslatedText();
    void generateSourceProtocol();
    void generateTranslatedProtocol();
    void suggestSourceAnswer();
    // A summary saved from the history browser for the current meeting's record becomes its
    // transcript summary, unless that column has one of its own; others are not this meeting's.
    void keepSummarySavedFromHistory(const QString &sessionID, const QString &summary);
    // One line per turn ("label: text" when the turn has a speaker label); the transcript
    // text when that is blank.
    QString transcriptForAnswerAssist() const;
    // Whether that text is non-blank, without building it.
    bool hasTranscriptForAnswerAssist() const;

private:
    QDateTime now() const;
    // The settings chosen now, as a meeting that starts listening is recorded with.
    MeetingSettings chosenSettings() const;
    std::optional<MeetingSessionHistorySnapshot> historySnapshot(MeetingSessionHistoryStatus status,
                                                                 bool allowEmptySession) const;
    void wireDraftPanelTexts();

    SubtitleViewModel &m_viewModel;
    Clock m_clock;
    LiveTranslationRouter *m_translation = nullptr;
    StableReconstructionScheduler *m_stableRewrite = nullptr;
    MeetingHistoryMirror *m_history = nullptr;
    std::unique_ptr<BillingUsageReporter> m_billing;
    AIResultPanelSet *m_panels = nullptr;
    HandedOverMeetingStore *m_handedOverMeetings = nullptr;
    SignedInAccountFollower *m_accounts = nullptr;
};
