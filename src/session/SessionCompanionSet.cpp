#include "session/SessionCompanionSet.h"

#include "localization/KavrelLocalizationStore.h"
#include "accounts/AuthService.h"
#include "base/Text.h"
#include "services/DeepSeekAnswerAssistService.h"
#include "services/DeepSeekMeetingProtocolService.h"
#include "services/DeepSeekSummaryService.h"
#include "services/KavrelBillingService.h"
#include "services/MeetingSessionHistoryService.h"
#include "session/AIResultPanelSet.h"
#include "session/BillingUsageReporter.h"
#include "session/HandedOverMeetingStore.h"
#include "session/LiveTranslationRouter.h"
#include "session/MeetingHistoryRecordKeeper.h"
#include "session/MeetingHistorySnapshotBuilder.h"
#include "session/MicrophoneControl.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "session/SignedInAccountFollower.h"
#include "session/StableReconstructionScheduler.h"
#include "session/SubtitleViewModel.h"

SessionCompanionSet::SessionCompanionSet(SubtitleViewModel &viewModel)
    : QObject(&viewModel)
    , m_viewModel(viewModel)
{
    SessionServices &services = viewModel.services();
    SessionTurnStore *turns = viewModel.turnStore();
    ListeningSession *session = viewModel.listeningSession();

    m_translation = new LiveTranslationRouter(
        services.liveTranslation.get(), turns, viewModel.localization(),
        [&viewModel] {
            return LiveTranslationRouter::Settings{viewModel.isTranslationEnabled(), viewModel.selectedSourceLanguage(),
                                                   viewModel.selectedTranslationLanguage()};
        },
        [session](const QUuid &generation) {
            return session->isStreamingSessionPrepared() && session->streamingSessionGeneration() == generation;
        },
        [session](const std::optional<QString> &message) { session->setTranslationMessage(message); }, this);

    m_stableRewrite = new StableReconstructionScheduler(turns, services.aiProxy, services.liveTranslation.get(),
                                                        m_translation, this);
    // A restored draft's closed turns count as stable; a cleared session starts from nothing.
    m_stableRewrite->setNextStableTurnIndex(turns->closedTurnCount());
    connect(turns, &SessionTurnStore::turnsReset, m_stableRewrite, &StableReconstructionScheduler::reset);
    connect(viewModel.draftStore(), &SessionDraftStore::draftApplied, m_stableRewrite,
            &StableReconstructionScheduler::setNextStableTurnIndex);

    m_history = new MeetingHistoryMirror(services.history.get(), [this] { return now(); }, this);
    m_history->setSnapshotProvider(
        [this](MeetingSessionHistoryStatus status, bool allowEmptySession) { return historySnapshot(status, allowEmptySession); });
    m_history->setSettingsReader([this] { return chosenSettings(); });
    m_history->setErrorMessageAccess([session] { return session->errorMessage(); },
                                     [session](const std::optional<QString> &message) { session->setErrorMessage(message); });

    m_billing = std::make_unique<BillingUsageReporter>(services.billing.get(), [this] { return now(); });
    MicrophoneControl *microphone = viewModel.microphoneControl();
    m_billing->setContext(BillingUsageReporter::Context{
        [session, microphone] { return session->isSystemAudioListening() || microphone->isMicrophoneListening(); },
        [this] { return m_history->conversationGeneration(); }, [this] { return m_history->sessionID(); },
        [this] { return m_history->accountID(); }});
    connect(m_history, &MeetingHistoryMirror::conversationReset, this, [this] { m_billing->resetForNewConversation(); });
    // The draft names the account of its meeting.
    viewModel.draftStore()->setAccountAccess([history = m_history] { return history->accountID(); });
    // A restored meeting goes on with its own record, or ends with its last turn.
    new MeetingHistoryRecordKeeper(viewModel.defaults(), m_history, m_billing.get(), turns, viewModel.draftStore(), this);
    // A meeting is sent for the account it was made under, and waits for it.
    if (AuthService *auth = services.authService) {
        m_history->setAccountReader(
            [auth = QPointer<AuthService>(auth)] { return SignedInAccountFollower::savedAccount(auth); });
    }
    // The meetings handed over by Start New stay on disk until the server has them; the last
    // run's are taken up again here.
    m_handedOverMeetings = new HandedOverMeetingStore(viewModel.defaults(), m_history, m_billing.get(), this);
    m_accounts = new SignedInAccountFollower(services.authService, viewModel, m_history, m_billing.get(), this);

    m_panels = new AIResultPanelSet(services.summary.get(), services.meetingProtocol.get(), services.answerAssist.get(),
                                    viewModel.localization(), [this] { return m_history->conversationGeneration(); }, this);
    connect(m_panels, &AIResultPanelSet::historySaveRequested, this,
            [this] { m_history->scheduleSnapshotSync(MeetingSessionHistoryStatus::active); });
    wireDraftPanelTexts();

    SessionCompanions companions;
    companions.translation = m_translation;
    companions.history = m_history;
    companions.billing = m_billing.get();
    companions.panels = m_panels;
    viewModel.setCompanions(companions);
}

SessionCompanionSet::~SessionCompanionSet() = default;

void SessionCompanionSet::setTimings(const Timings &timings)
{
    m_stableRewrite->setDebounce(timings.stableRewriteDebounce);
    m_history->setTimings(timings.history);
}

QDateTime SessionCompanionSet::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
}

void SessionCompanionSet::wireDraftPanelTexts()
{
    // The draft keeps the AI results, never a local fallback shown in their place.
    AIResultPanelSet *panels = m_panels;
    m_viewModel.draftStore()->setPanelTextAccess(
        [panels] {
            return AIPanelTexts{panels->storedText(AIPanel::transcriptSummary), panels->storedText(AIPanel::translationSummary),
                                panels->storedText(AIPanel::transcriptProtocol), panels->storedText(AIPanel::translationProtocol),
                                panels->storedText(AIPanel::transcriptAnswer), panels->storedText(AIPanel::translationAnswer)};
        },
        [panels](const AIPanelTexts &texts) {
            panels->restoreText(AIPanel::transcriptSummary, texts.transcriptSummaryText);
            panels->restoreText(AIPanel::translationSummary, texts.translationSummaryText);
            panels->restoreText(AIPanel::transcriptProtocol, texts.transcriptProtocolText);
            panels->restoreText(AIPanel::translationProtocol, texts.translationProtocolText);
            panels->restoreText(AIPanel::transcriptAnswer, texts.transcriptAnswerText);
            panels->restoreText(AIPanel::translationAnswer, texts.translationAnswerText);
        });
}

MeetingSettings SessionCompanionSet::chosenSettings() const
{
    MeetingSettings settings;
    settings.sourceLanguage = m_viewModel.selectedSourceLanguage();
    settings.isTranslationEnabled = m_viewModel.isTranslationEnabled();
    settings.translationLanguage = m_viewModel.selectedTranslationLanguage();
    settings.isAudioRecordingEnabled = m_viewModel.isAudioRecordingEnabled();
    settings.microphoneName = m_viewModel.selectedMicrophoneName();
    return settings;
}

std::optional<MeetingSessionHistorySnapshot> SessionCompanionSet::historySnapshot(MeetingSessionHistoryStatus status,
                                                                                  bool allowEmptySession) const
{
    MeetingHistorySnapshotBuilder::Input input;
    input.turns = m_viewModel.turnStore()->turns();
    // A meeting that never listened (an empty draft asked to be saved) has none of its own.
    input.settings = m_history->meetingSettings().value_or(chosenSettings());
    input.transcriptSummary = m_panels->storedText(AIPanel::transcriptSummary);
    input.translationSummary = m_panels->storedText(AIPanel::translationSummary);
    input.transcriptProtocol = m_panels->storedText(AIPanel::transcriptProtocol);
    input.translationProtocol = m_panels->storedText(AIPanel::translationProtocol);
    input.transcriptAnswer = m_panels->storedText(AIPanel::transcriptAnswer);
    input.translationAnswer = m_panels->storedText(AIPanel::translationAnswer);
    input.startedAt = m_history->startedAt();
    input.endedAt = m_history->endedAt();
    input.source = m_history->source();
    input.focusMode = m_history->focusModeEnabled();
    input.clientSessionID = m_history->clientSessionID();
    input.appVersion = MeetingHistoryMirror::currentAppVersion();
    input.now = now();
    return MeetingHistorySnapshotBuilder::snapshot(input, status, allowEmptySession);
}

// ---- AI commands ----

void SessionCompanionSet::summarizeSourceText()
{
    const QString language = SourceLanguageOptions::englishName(m_viewModel.selectedSourceLanguage());
    m_panels->startSummary(AIResultTarget::source, m_viewModel.subtitlesText(), language, language);
}

void SessionCompanionSet::summarizeTranslatedText()
{
    const QString language = TranslationLanguageOptions::englishName(m_viewModel.selectedTranslationLanguage());
    m_panels->startSummary(AIResultTarget::translation, m_viewModel.translatedText(), language, language);
}

void SessionCompanionSet::generateSourceProtocol()
{
    m_panels->startMeetingProtocol(AIResultTarget::source, m_viewModel.subtitlesText(),
                                   SourceLanguageOptions::englishName(m_viewModel.selectedSourceLanguage()));
}

void SessionCompanionSet::generateTranslatedProtocol()
{
    m_panels->startMeetingProtocol(AIResultTarget::translation, m_viewModel.translatedText(),
                                   TranslationLanguageOptions::englishName(m_viewModel.selectedTranslationLanguage()));
}

void SessionCompanionSet::suggestSourceAnswer()
{
    const QString language = SourceLanguageOptions::englishName(m_viewModel.selectedSourceLanguage());
    m_panels->startAnswerAssist(AIResultTarget::source, transcriptForAnswerAssist(), language, language);
}

void SessionCompanionSet::keepSummarySavedFromHistory(const QString &sessionID, const QString &summary)
{
    if (m_history->sessionID() != sessionID || Text::trimmed(summary).isEmpty())
        return;
    if (!Text::trimmed(m_panels->storedText(AIPanel::transcriptSummary)).isEmpty())
        return;
    m_panels->keepText(AIPanel::transcriptSummary, summary);
    m_viewModel.draftStore()->scheduleDraftAutosave();
    m_history->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
}

QString SessionCompanionSet::transcriptForAnswerAssist() const
{
    QStringList lines;
    for (const SessionTurn &turn : m_viewModel.turnStore()->turns()) {
        if (turn.speakerLabel && !turn.speakerLabel->isEmpty())
            lines.append(*turn.speakerLabel + QStringLiteral(": ") + turn.text);
        else
            lines.append(turn.text);
    }
    const QString transcript = Text::trimmed(lines.join(QLatin1Char('\n')));
    return transcript.isEmpty() ? m_viewModel.subtitlesText() : transcript;
}

bool SessionCompanionSet::hasTranscriptForAnswerAssist() const
{
    // A labelled line is never blank; otherwise a line is as blank as its text. The first
    // turn with something to say ends the search, so this stays cheap in a long session.
    for (const SessionTurn &turn : m_viewModel.turnStore()->turns()) {
        if ((turn.speakerLabel && !turn.speakerLabel->isEmpty()) || !Text::trimmed(turn.text).isEmpty())
            return true;
    }
    return !Text::trimmed(m_viewModel.subtitlesText()).isEmpty();
}
