#include "session/SubtitleViewModel.h"

#include "localization/KavrelLocalizationStore.h"
#include "accounts/KavrelBackendProxyService.h"
#include "audio/MixedAudioStreamMixer.h"
#include "base/KavrelDiagnostics.h"
#include "base/Text.h"
#include "platform/UserDefaults.h"
#include "session/ListeningStartPrompts.h"
#include "session/MicrophoneControl.h"
#include "session/MeetingHistoryMirror.h"
#include "session/MeetingHistorySnapshotBuilder.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "session/SignedInAccountFollower.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/KavrelLiveTranslationV2Service.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>
#include <QPointer>

SubtitleViewModel::SubtitleViewModel(UserDefaults &defaults, SessionServices services,
                                     KavrelLocalizationStore &localization, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_localization(localization)
    , m_services(std::move(services))
{
    m_turns = new SessionTurnStore(this);
    m_published = new PublishedTranscript(m_turns, this);
    m_draft = new SessionDraftStore(defaults, m_turns, m_published, this);
    m_microphone = new MicrophoneControl(m_services.microphones.get(), m_services.mixer.get(), this);
    m_session = new ListeningSession(m_services, m_turns, m_draft, this);
    wireConcerns();
    wireCompanionSet();

    // A stored setting of another type reads as off; the setter writes the value back.
    setStartsWithMicrophoneEnabled(m_defaults.boolValue(QString::fromLatin1(startWithMicrophoneDefaultsKey), false));
    refreshAvailableMicrophones();
    m_draft->restoreDraftIfAvailable();
    dropDraftOfHandedOverMeeting();
    showNoticeOfMeetingNotSavedAtQuit();
}

namespace {

// "«title», начатая 04.05.2026 в 10:00,": which meeting a notice is about.
QString meetingNamed(const std::optional<QString> &title, const std::optional<QDateTime> &startedAt)
{
    QString name;
    if (title && !title->isEmpty()) {
        const bool cut = Text::graphemeCount(*title) > 60;
        name += QStringLiteral(" «") + (cut ? Text::graphemePrefix(*title, 60) + QStringLiteral("…") : *title)
                + QStringLiteral("»");
    }
    if (startedAt) {
        const QDateTime local = startedAt->toLocalTime();
        name += QStringLiteral(", начатая ") + QLocale::c().toString(local, QStringLiteral("dd.MM.yyyy")) + QStringLiteral(" в ")
                + QLocale::c().toString(local, QStringLiteral("HH:mm")) + QStringLiteral(",");
    }
    return name;
}

// The notices' texts, one after the other.
template<typename Notices>
QString joinedNotices(const Notices &notices)
{
    QStringList texts;
    for (const auto &notice : notices)
        texts.append(notice.text);
    return texts.join(QLatin1Char(' '));
}

} // namespace

void SubtitleViewModel::dropDraftOfHandedOverMeeting()
{
    // A crash just after Start New can leave the draft of the meeting it handed over: that
    // meeting is kept, and sent, with the handed-over ones. Restored as well, it came back on
    // screen and went to the history a second time as a meeting of its own.
    MeetingHistoryMirror *history = m_companionSet->history();
    const QUuid restored = history->conversationGeneration();
    for (const HandedOverMeeting &meeting : history->handedOverMeetings()) {
        if (meeting.record.conversationGeneration == restored) {
            clearSubtitles();
            history->resetMeetingHistoryState();
            return;
        }
    }
}

void SubtitleViewModel::showNoticeOfMeetingNotSavedAtQuit()
{
    const QString key = QString::fromLatin1(historyNotSavedAtQuitDefaultsKey);
    const bool quitBeforeSaved = m_defaults.boolValue(key, false);
    if (quitBeforeSaved)
        m_defaults.remove(key);
    MeetingHistoryMirror *history = m_companionSet->history();
    const QList<HandedOverMeeting> waiting = history->handedOverMeetings();
    const std::vector<SessionTurn> &turns = m_turns->turns();
    // With finished meetings waiting as well, the restored one counts only if its completed
    // record never landed.
    const bool currentUnsaved = quitBeforeSaved && !turns.empty()
                                && (waiting.isEmpty() || !history->record().lastCompletedSignature);

    // Shown as they stand, like the other history notices.
    QList<UnsavedMeetingNotice> notices;
    if (currentUnsaved) {
        std::optional<QDateTime> startedAt = history->startedAt();
        if (!startedAt)
            startedAt = turns.front().timestamp;
        notices.append({history->conversationGeneration(), history->accountID(),
                        QStringLiteral("Прошлая встреча%1 не сохранилась в истории: программа закрылась раньше, чем "
                                       "сервер принял запись. Её текст остался на этом компьютере и открыт в окне "
                                       "программы.")
                            .arg(meetingNamed(MeetingHistorySnapshotBuilder::title(turns), startedAt))});
    }
    for (const HandedOverMeeting &meeting : waiting) {
        notices.append({meeting.record.conversationGeneration, meeting.accountID,
                        QStringLiteral("Встреча%1 ещё не сохранилась в истории: программа закрылась раньше, чем сервер "
                                       "принял запись. Её текст хранится на этом компьютере, и программа отправит его "
                                       "снова, как только сервер ответит.")
                            .arg(meetingNamed(meeting.finalSnapshot.title, meeting.finalSnapshot.startedAt))});
    }
    if (notices.isEmpty())
        return;
    m_unsavedMeetingNotices = notices;
    m_session->setErrorMessage(joinedNotices(m_unsavedMeetingNotices));
    connect(history, &MeetingHistoryMirror::meetingSaved, this, &SubtitleViewModel::withdrawNoticeOfSavedMeeting);
    connect(m_companionSet->accounts(), &SignedInAccountFollower::accountSignedIn, this,
            &SubtitleViewModel::withdrawNoticesOfOtherAccounts);
}

void SubtitleViewModel::withdrawNoticeOfSavedMeeting(const QUuid &conversationGeneration)
{
    withdrawNotices([&conversationGeneration](const UnsavedMeetingNotice &notice) {
        return notice.conversationGeneration == conversationGeneration;
    });
}

void SubtitleViewModel::withdrawNoticesOfOtherAccounts(const QString &accountID)
{
    // A notice names its meeting by its first words.
    withdrawNotices([&accountID](const UnsavedMeetingNotice &notice) {
        return notice.accountID && *notice.accountID != accountID;
    });
}

void SubtitleViewModel::withdrawNotices(const std::function<bool(const UnsavedMeetingNotice &)> &which)
{
    const QString shown = joinedNotices(m_unsavedMeetingNotices);
    const qsizetype removed = m_unsavedMeetingNotices.removeIf(which);
    if (removed == 0)
        return;
    // Once another notice took its place, none of these is on screen any more.
    if (m_session->errorMessage() != shown) {
        m_unsavedMeetingNotices.clear();
        return;
    }
    const QString rest = joinedNotices(m_unsavedMeetingNotices);
    m_session->setErrorMessage(rest.isEmpty() ? std::nullopt : std::optional<QString>(rest));
}

void SubtitleViewModel::followDraftSaveFailing(bool failing)
{
    const QString notice = QString::fromUtf8(draftNotSavedNotice);
    if (failing) {
        m_session->setErrorMessage(notice);
        return;
    }
    // A notice set since by someone else stays.
    if (m_session->errorMessage() == notice)
        m_session->setErrorMessage(std::nullopt);
}

SubtitleViewModel::~SubtitleViewModel()
{
    // The concerns go before the services they drive.
    m_companions = SessionCompanions();
    delete m_companionSet;
    m_services.mixer->reset();
    delete m_session;
    delete m_microphone;
    delete m_draft;
    delete m_published;
    delete m_turns;
}

void SubtitleViewModel::wireConcerns()
{
    m_microphone->setListeningSession(m_session);
    m_microphone->setCompanions(&m_companions);
    m_session->setMicrophoneControl(m_microphone);
    m_session->setCompanions(&m_companions);
    m_session->setSettingsProvider([this] {
        return ListeningSession::StreamingSettings{SourceLanguageOptions::code(m_selectedSourceLanguage),
                                                   m_isAudioRecordingEnabled};
    });
    m_session->setSubtitleClearer([this] { clearSubtitles(); });

    // Each change of the turns is saved a moment later.
    connect(m_turns, &SessionTurnStore::turnChanged, m_draft, &SessionDraftStore::scheduleDraftAutosave);
    connect(m_turns, &SessionTurnStore::turnClosed, m_draft, &SessionDraftStore::scheduleDraftAutosave);
    connect(m_draft, &SessionDraftStore::draftSaveFailingChanged, this, &SubtitleViewModel::followDraftSaveFailing);
    connect(m_turns, &SessionTurnStore::interimChunkReady, this, &SubtitleViewModel::sendInterimChunk);
    connect(m_turns, &SessionTurnStore::finalChunkReady, this, &SubtitleViewModel::sendFinalChunk);

    connect(m_turns, &SessionTurnStore::liveSubtitlePreviewChanged, this, &SubtitleViewModel::liveSubtitlePreviewChanged);
    connect(m_turns, &SessionTurnStore::liveTranslationPreviewChanged, this,
            &SubtitleViewModel::liveTranslationPreviewChanged);
    connect(m_published, &PublishedTranscript::subtitlesTextChanged, this, &SubtitleViewModel::subtitlesTextChanged);
    connect(m_published, &PublishedTranscript::translatedTextChanged, this, &SubtitleViewModel::translatedTextChanged);
    connect(m_published, &PublishedTranscript::transcriptEntriesChanged, this,
            &SubtitleViewModel::transcriptEntriesChanged);
    connect(m_published, &PublishedTranscript::translationEntriesChanged, this,
            &SubtitleViewModel::translationEntriesChanged);

    connect(m_session, &ListeningSession::statusChanged, this, &SubtitleViewModel::statusChanged);
    connect(m_session, &ListeningSession::isBusyChanged, this, &SubtitleViewModel::isBusyChanged);
    connect(m_session, &ListeningSession::isSystemAudioListeningChanged, this,
            &SubtitleViewModel::isSystemAudioListeningChanged);
    connect(m_session, &ListeningSession::shouldShowMicrophoneOffWarningChanged, this,
            &SubtitleViewModel::shouldShowMicrophoneOffWarningChanged);
    connect(m_session, &ListeningSession::errorMessageChanged, this, &SubtitleViewModel::errorMessageChanged);
    connect(m_session, &ListeningSession::translationMessageChanged, this, &SubtitleViewModel::translationMessageChanged);
    connect(m_session, &ListeningSession::lastRecordingPathChanged, this, &SubtitleViewModel::lastRecordingPathChanged);

    connect(m_microphone, &MicrophoneControl::availableMicrophonesChanged, this,
            &SubtitleViewModel::availableMicrophonesChanged);
    connect(m_microphone, &MicrophoneControl::selectedMicrophoneIDChanged, this,
            &SubtitleViewModel::selectedMicrophoneIDChanged);
    connect(m_microphone, &MicrophoneControl::availableMicrophonesChanged, this,
            &SubtitleViewModel::selectedMicrophoneNameChanged);
    connect(m_microphone, &MicrophoneControl::selectedMicrophoneIDChanged, this,
            &SubtitleViewModel::selectedMicrophoneNameChanged);
    connect(m_microphone, &MicrophoneControl::isMicrophoneListeningChanged, this,
            &SubtitleViewModel::isMicrophoneListeningChanged);
    connect(m_microphone, &MicrophoneControl::isMicrophoneTestingChanged, this,
            &SubtitleViewModel::isMicrophoneTestingChanged);
    connect(m_microphone, &MicrophoneControl::isMicrophoneBusyChanged, this, &SubtitleViewModel::isMicrophoneBusyChanged);
    connect(m_microphone, &MicrophoneControl::microphoneLevelChanged, this, &SubtitleViewModel::microphoneLevelChanged);
    connect(m_microphone, &MicrophoneControl::microphoneSignalDetectedChanged, this,
            &SubtitleViewModel::microphoneSignalDetectedChanged);

    const auto followActiveSession = [this] {
        const bool active = m_session->hasActiveSession();
        if (active == m_hasActiveSession)
            return;
        m_hasActiveSession = active;
        Q_EMIT hasActiveSessionChanged();
    };
    connect(m_session, &ListeningSession::activeSessionChanged, this, followActiveSession);
    connect(m_microphone, &MicrophoneControl::activeSessionChanged, this, followActiveSession);

    connect(&m_localization, &KavrelLocalizationStore::languageChanged, this, [this] {
        Q_EMIT panelTitlesChanged();
        Q_EMIT translationPlaceholderTextChanged();
        Q_EMIT selectedMicrophoneNameChanged();
    });
}

void SubtitleViewModel::setCompanions(SessionCompanions companions)
{
    m_companions = companions;
}

void SubtitleViewModel::setTimings(const Timings &timings)
{
    m_draft->setAutosaveDelay(timings.draftAutosaveDelay);
    ListeningSession::Timings sessionTimings;
    sessionTimings.drainPause = timings.stopDrainPause;
    m_session->setTimings(sessionTimings);
}

// MARK: Published state

SubtitleStatus SubtitleViewModel::status() const { return m_session->status(); }
QString SubtitleViewModel::subtitlesText() const { return m_published->subtitlesText(); }
QString SubtitleViewModel::translatedText() const { return m_published->translatedText(); }
QList<DialogueEntry> SubtitleViewModel::transcriptEntries() const { return m_published->transcriptEntries(); }
QList<DialogueEntry> SubtitleViewModel::translationEntries() const { return m_published->translationEntries(); }
QString SubtitleViewModel::liveSubtitlePreview() const { return m_turns->liveSubtitlePreview(); }
QString SubtitleViewModel::liveTranslationPreview() const { return m_turns->liveTranslationPreview(); }
QList<MicrophoneInputDevice> SubtitleViewModel::availableMicrophones() const { return m_microphone->availableMicrophones(); }
QString SubtitleViewModel::selectedMicrophoneID() const { return m_microphone->selectedMicrophoneID(); }
bool SubtitleViewModel::isSystemAudioListening() const { return m_session->isSystemAudioListening(); }
bool SubtitleViewModel::isMicrophoneListening() const { return m_microphone->isMicrophoneListening(); }
bool SubtitleViewModel::shouldShowMicrophoneOffWarning() const { return m_session->shouldShowMicrophoneOffWarning(); }
bool SubtitleViewModel::isMicrophoneTesting() const { return m_microphone->isMicrophoneTesting(); }
bool SubtitleViewModel::isMicrophoneBusy() const { return m_microphone->isMicrophoneBusy(); }
double SubtitleViewModel::microphoneLevel() const { return m_microphone->microphoneLevel(); }
bool SubtitleViewModel::microphoneSignalDetected() const { return m_microphone->microphoneSignalDetected(); }
bool SubtitleViewModel::isBusy() const { return m_session->isBusy(); }
std::optional<QString> SubtitleViewModel::errorMessage() const { return m_session->errorMessage(); }
std::optional<QString> SubtitleViewModel::translationMessage() const { return m_session->translationMessage(); }
std::optional<QString> SubtitleViewModel::lastRecordingPath() const { return m_session->lastRecordingPath(); }
bool SubtitleViewModel::hasActiveSession() const { return m_session->hasActiveSession(); }
QUuid SubtitleViewModel::streamingSessionGeneration() const { return m_session->streamingSessionGeneration(); }

QString SubtitleViewModel::translationPlaceholderText() const
{
    return m_localization.localized(m_isTranslationEnabled
                                        ? QStringLiteral("Translation will appear here as final transcript chunks arrive.")
                                        : QStringLiteral("Translation is off for this session."));
}

QString SubtitleViewModel::translationPanelTitle() const
{
    const QString name = m_localization.localizedLanguageName(
        TranslationLanguageOptions::interfaceLanguage(m_selectedTranslationLanguage));
    return m_localization.localizedFormat(QStringLiteral("%@ translation"), QStringList{name});
}

QString SubtitleViewModel::sourceSummaryPanelTitle() const
{
    return m_localization.localized(QStringLiteral("Summary")) + QStringLiteral(" \u00B7 ")
           + m_localization.localizedLanguageName(SourceLanguageOptions::interfaceLanguage(m_selectedSourceLanguage));
}

QString SubtitleViewModel::translationSummaryPanelTitle() const
{
    return m_localization.localized(QStringLiteral("Summary")) + QStringLiteral(" \u00B7 ")
           + m_localization.localizedLanguageName(
               TranslationLanguageOptions::interfaceLanguage(m_selectedTranslationLanguage));
}

QString SubtitleViewModel::selectedMicrophoneName() const
{
    const QString name = m_microphone->selectedMicrophoneListName();
    if (!name.isEmpty())
        return name;
    for (const MicrophoneInputDevice &device : m_microphone->availableMicrophones()) {
        if (device.id == m_microphone->selectedMicrophoneID())
            return device.name; // a device whose name is empty
    }
    return m_localization.localized(QStringLiteral("Default microphone"));
}

QList<TranslationLanguageOption> SubtitleViewModel::availableTranslationLanguages() const
{
    QList<TranslationLanguageOption> languages;
    for (auto option : TranslationLanguageOptions::allCases) {
        if (!isSameLanguage(m_selectedSourceLanguage, option))
            languages.append(option);
    }
    return languages;
}

bool SubtitleViewModel::showsTranscriptDialogueMode() const
{
    return m_published->showsDialogueMode(PublishedTranscript::Column::transcript);
}

bool SubtitleViewModel::showsTranslationDialogueMode() const
{
    return m_published->showsDialogueMode(PublishedTranscript::Column::translation);
}

QString SubtitleViewModel::speakerLabel(int number) const
{
    if (const auto label = m_turns->labelForSpeaker(number))
        return *label;
    return m_localization.localizedFormat(QStringLiteral("Speaker %@"), QStringList{QString::number(number)});
}

// MARK: Settings

void SubtitleViewModel::setSelectedSourceLanguage(SourceLanguageOption language)
{
    if (m_selectedSourceLanguage != language) {
        m_selectedSourceLanguage = language;
        Q_EMIT selectedSourceLanguageChanged();
        Q_EMIT panelTitlesChanged();
    }
    reconcileTranslationSelectionWithSourceLanguage();
}

void SubtitleViewModel::setAudioRecordingEnabled(bool enabled)
{
    if (m_isAudioRecordingEnabled == enabled)
        return;
    m_isAudioRecordingEnabled = enabled;
    Q_EMIT isAudioRecordingEnabledChanged();
}

void SubtitleViewModel::setTranslationEnabled(bool enabled)
{
    if (m_isTranslationEnabled == enabled)
        return;
    m_isTranslationEnabled = enabled;
    Q_EMIT isTranslationEnabledChanged();
    Q_EMIT translationPlaceholderTextChanged();
}

void SubtitleViewModel::setSelectedTranslationLanguage(TranslationLanguageOption language)
{
    if (m_selectedTranslationLanguage == language)
        return;
    m_selectedTranslationLanguage = language;
    Q_EMIT selectedTranslationLanguageChanged();
    Q_EMIT panelTitlesChanged();
}

void SubtitleViewModel::setStartsWithMicrophoneEnabled(bool enabled)
{
    m_defaults.setBool(QString::fromLatin1(startWithMicrophoneDefaultsKey), enabled);
    if (m_startsWithMicrophoneEnabled == enabled)
        return;
    m_startsWithMicrophoneEnabled = enabled;
    Q_EMIT startsWithMicrophoneEnabledChanged();
}

void SubtitleViewModel::setTranscriptFontSize(double size)
{
    if (m_transcriptFontSize == size)
        return;
    m_transcriptFontSize = size;
    Q_EMIT transcriptFontSizeChanged();
}

void SubtitleViewModel::setTranslationFontSize(double size)
{
    if (m_translationFontSize == size)
        return;
    m_translationFontSize = size;
    Q_EMIT translationFontSizeChanged();
}

void SubtitleViewModel::reconcileTranslationSelectionWithSourceLanguage()
{
    if (m_isReconcilingTranslationSelection)
        return;
    if (!isSameLanguage(m_selectedSourceLanguage, m_selectedTranslationLanguage))
        return;
    m_isReconcilingTranslationSelection = true;
    const QList<TranslationLanguageOption> languages = availableTranslationLanguages();
    if (!languages.isEmpty())
        setSelectedTranslationLanguage(languages.first());
    if (!m_isTranslationEnabled) {
        m_isReconcilingTranslationSelection = false;
        return;
    }
    setTranslationEnabled(false);
    m_isReconcilingTranslationSelection = false;
    m_turns->setTranslationAvailable(false);
    m_turns->setLiveTranslationPreview(QString());
    if (auto *translation = m_companions.translation)
        translation->translationWasTurnedOff();
    m_session->setTranslationMessage(
        QStringLiteral("Live translation was turned off because the source and target languages cannot match."));
    QPointer<KavrelLiveTranslationV2Service> service(m_services.liveTranslation.get());
    if (!service)
        return;
    spawnTask([service](CancellationToken) -> QCoro::Task<void> {
        if (service)
            co_await service->resetSession();
    });
}

// MARK: Commands

QCoro::Task<void> SubtitleViewModel::promptAndStartListening(bool includeMicrophone)
{
    if (m_session->isSystemAudioListening() || m_session->isBusy())
        co_return;
    if (!m_prompts) {
        qCWarning(KavrelDiagnostics::session()) << "promptAndStartListening without start prompts";
        co_return;
    }
    // The questions do not block the other start controls: a second request while they are
    // up brings them to the front rather than opening a second pair.
    if (m_isAskingStartQuestions) {
        m_prompts->raiseOpenQuestion();
        co_return;
    }
    // Announced before the first question opens: a start road still open elsewhere (the setup
    // sheet) gives way to it.
    setAskingStartQuestions(true);
    QPointer<SubtitleViewModel> self(this);
    ListeningStartPrompts *prompts = m_prompts;
    const ListeningSessionStartMode mode = co_await prompts->askStartMode();
    if (!self)
        co_return;
    bool microphoneWanted = includeMicrophone;
    if (!includeMicrophone) {
        microphoneWanted = co_await prompts->askMicrophone();
        if (!self)
            co_return;
    }
    setAskingStartQuestions(false);
    if (microphoneWanted)
        setStartsWithMicrophoneEnabled(true);
    // The start re-checks listening and busy: another control may have started meanwhile.
    startListening(mode, microphoneWanted);
}

void SubtitleViewModel::setAskingStartQuestions(bool asking)
{
    if (m_isAskingStartQuestions == asking)
        return;
    m_isAskingStartQuestions = asking;
    Q_EMIT isAskingStartQuestionsChanged();
}

void SubtitleViewModel::startListening(ListeningSessionStartMode mode, bool includeMicrophone)
{
    m_session->startListening(mode, includeMicrophone);
}

void SubtitleViewModel::stopActiveSession()
{
    m_session->stopActiveSession();
}

void SubtitleViewModel::startNewSession()
{
    m_session->startNewSession();
}

QCoro::Task<void> SubtitleViewModel::stopActiveSessionAndWait()
{
    QPointer<SubtitleViewModel> self(this);
    const QString noticeKey = QString::fromLatin1(historyNotSavedAtQuitDefaultsKey);
    // The quit's time limit may cut it short at any step (the speech client's stop among them):
    // before any step begins, what was said is on the disk and the meeting is marked unsaved, a
    // mark taken back only once its record is through.
    MeetingHistorySync *history = m_companions.history;
    const bool meetingToSave = m_session->hasActiveSession() || m_session->isBusy() || m_session->isStopping();
    if (history && (meetingToSave || history->hasUnsavedMeeting()))
        m_defaults.setBool(noticeKey, true);
    m_draft->flushPendingAutosave();
    m_defaults.sync();
    co_await m_session->stopActiveSessionAndWait();
    if (!self)
        co_return;
    // The stop queued the completed record and the usage report: the program ends only once
    // they are through.
    history = m_companions.history;
    BillingUsageReporting *billing = m_companions.billing;
    if (history && history->hasUnsavedMeeting())
        m_defaults.setBool(noticeKey, true);
    if (history)
        co_await history->waitForEverySave();
    if (!self)
        co_return;
    if (billing)
        co_await billing->waitForPendingReports();
    if (!self)
        co_return;
    history = m_companions.history;
    if (history && history->hasUnsavedMeeting())
        m_defaults.setBool(noticeKey, true);
    else
        m_defaults.remove(noticeKey);
}

void SubtitleViewModel::toggleMicrophoneCapture()
{
    m_microphone->toggleMicrophoneCapture();
}

void SubtitleViewModel::selectMicrophone(const QString &id)
{
    m_microphone->selectMicrophone(id);
}

void SubtitleViewModel::refreshAvailableMicrophones()
{
    m_microphone->refreshAvailableMicrophones();
}

void SubtitleViewModel::toggleMicrophoneTest()
{
    m_microphone->toggleMicrophoneTest();
}

void SubtitleViewModel::clearSubtitles()
{
    m_turns->clear();
    if (auto *translation = m_companions.translation)
        translation->clearPreviews();
    m_turns->clearSpeakerMaps();
    if (auto *panels = m_companions.panels)
        panels->clearPanels();
    m_draft->removeStoredDraft();
}

void SubtitleViewModel::copyToPasteboard(const QString &text)
{
    const QString trimmed = Text::trimmed(text);
    if (trimmed.isEmpty() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setText(trimmed);
}

// MARK: Translation hand-off

void SubtitleViewModel::sendInterimChunk(const QString &text, const QUuid &turnID)
{
    QPointer<KavrelLiveTranslationV2Service> service(m_services.liveTranslation.get());
    if (!service)
        return;
    spawnTask([service, text, turnID](CancellationToken) -> QCoro::Task<void> {
        if (service)
            co_await service->enqueueInterimChunk(text, turnID);
    });
}

void SubtitleViewModel::sendFinalChunk(const QString &text, const QUuid &turnID)
{
    QPointer<KavrelLiveTranslationV2Service> service(m_services.liveTranslation.get());
    if (!service)
        return;
    spawnTask([service, text, turnID](CancellationToken) -> QCoro::Task<void> {
        if (service)
            co_await service->enqueueFinalChunk(text, turnID);
    });
}

// MARK: AI result panels

void SubtitleViewModel::wireCompanionSet()
{
    m_companionSet = new SessionCompanionSet(*this);
    AIResultPanelSet *panels = m_companionSet->panels();
    connect(panels, &AIResultPanelSet::transcriptSummaryChanged, this, &SubtitleViewModel::transcriptSummaryChanged);
    connect(panels, &AIResultPanelSet::translationSummaryChanged, this, &SubtitleViewModel::translationSummaryChanged);
    connect(panels, &AIResultPanelSet::transcriptProtocolChanged, this, &SubtitleViewModel::transcriptProtocolChanged);
    connect(panels, &AIResultPanelSet::translationProtocolChanged, this, &SubtitleViewModel::translationProtocolChanged);
    connect(panels, &AIResultPanelSet::transcriptAnswerChanged, this, &SubtitleViewModel::transcriptAnswerChanged);
    connect(panels, &AIResultPanelSet::translationAnswerChanged, this, &SubtitleViewModel::translationAnswerChanged);
    // The live translation's preview changes with every word; the activity text only when a
    // preview starts or ends, and only then is it announced.
    const auto announceActivity = [this] {
        std::optional<QString> text = assistantActivityText();
        if (text == m_announcedActivityText)
            return;
        m_announcedActivityText = std::move(text);
        Q_EMIT assistantActivityTextChanged();
    };
    connect(panels, &AIResultPanelSet::loadingChanged, this, announceActivity);
    connect(m_turns, &SessionTurnStore::liveTranslationPreviewChanged, this, announceActivity);
    connect(panels, &AIResultPanelSet::loadingChanged, this, &SubtitleViewModel::aiCommandAvailabilityChanged);
    connect(m_published, &PublishedTranscript::subtitlesTextChanged, this, &SubtitleViewModel::aiCommandAvailabilityChanged);
    connect(m_published, &PublishedTranscript::translatedTextChanged, this, &SubtitleViewModel::aiCommandAvailabilityChanged);
    connect(m_turns, &SessionTurnStore::turnChanged, this, &SubtitleViewModel::aiCommandAvailabilityChanged);
    connect(m_turns, &SessionTurnStore::turnsReset, this, &SubtitleViewModel::aiCommandAvailabilityChanged);
}

bool SubtitleViewModel::isTranscriptSummaryVisible() const { return m_companionSet->panels()->isVisible(AIPanel::transcriptSummary); }
bool SubtitleViewModel::isTranscriptSummaryLoading() const { return m_companionSet->panels()->isLoading(AIPanel::transcriptSummary); }
QString SubtitleViewModel::transcriptSummaryText() const { return m_companionSet->panels()->text(AIPanel::transcriptSummary); }
std::optional<QString> SubtitleViewModel::transcriptSummaryErrorMessage() const { return m_companionSet->panels()->errorMessage(AIPanel::transcriptSummary); }
bool SubtitleViewModel::isTranslationSummaryVisible() const { return m_companionSet->panels()->isVisible(AIPanel::translationSummary); }
bool SubtitleViewModel::isTranslationSummaryLoading() const { return m_companionSet->panels()->isLoading(AIPanel::translationSummary); }
QString SubtitleViewModel::translationSummaryText() const { return m_companionSet->panels()->text(AIPanel::translationSummary); }
std::optional<QString> SubtitleViewModel::translationSummaryErrorMessage() const { return m_companionSet->panels()->errorMessage(AIPanel::translationSummary); }
bool SubtitleViewModel::isTranscriptProtocolVisible() const { return m_companionSet->panels()->isVisible(AIPanel::transcriptProtocol); }
bool SubtitleViewModel::isTranscriptProtocolLoading() const { return m_companionSet->panels()->isLoading(AIPanel::transcriptProtocol); }
QString SubtitleViewModel::transcriptProtocolText() const { return m_companionSet->panels()->text(AIPanel::transcriptProtocol); }
std::optional<QString> SubtitleViewModel::transcriptProtocolErrorMessage() const { return m_companionSet->panels()->errorMessage(AIPanel::transcriptProtocol); }
bool SubtitleViewModel::isTranslationProtocolVisible() const { return m_companionSet->panels()->isVisible(AIPanel::translationProtocol); }
bool SubtitleViewModel::isTranslationProtocolLoading() const { return m_companionSet->panels()->isLoading(AIPanel::translationProtocol); }
QString SubtitleViewModel::translationProtocolText() const { return m_companionSet->panels()->text(AIPanel::translationProtocol); }
std::optional<QString> SubtitleViewModel::translationProtocolErrorMessage() const { return m_companionSet->panels()->errorMessage(AIPanel::translationProtocol); }
bool SubtitleViewModel::isTranscriptAnswerVisible() const { return m_companionSet->panels()->isVisible(AIPanel::transcriptAnswer); }
bool SubtitleViewModel::isTranscriptAnswerLoading() const { return m_companionSet->panels()->isLoading(AIPanel::transcriptAnswer); }
QString SubtitleViewModel::transcriptAnswerText() const { return m_companionSet->panels()->text(AIPanel::transcriptAnswer); }
std::optional<QString> SubtitleViewModel::transcriptAnswerErrorMessage() const { return m_companionSet->panels()->errorMessage(AIPanel::transcriptAnswer); }
bool SubtitleViewModel::isTranslationAnswerVisible() const { return m_companionSet->panels()->isVisible(AIPanel::translationAnswer); }
bool SubtitleViewModel::isTranslationAnswerLoading() const { return m_companionSet->panels()->isLoading(AIPanel::translationAnswer); }
QString SubtitleViewModel::translationAnswerText() const { return m_companionSet->panels()->text(AIPanel::translationAnswer); }
std::optional<QString> SubtitleViewModel::translationAnswerErrorMessage() const { return m_companionSet->panels()->errorMessage(AIPanel::translationAnswer); }

std::optional<QString> SubtitleViewModel::assistantActivityText() const
{
    const AIResultPanelSet *panels = m_companionSet->panels();
    if (panels->isLoading(AIPanel::transcriptProtocol) || panels->isLoading(AIPanel::translationProtocol))
        return m_localization.localized(QStringLiteral("Preparing protocol..."));
    if (panels->isLoading(AIPanel::transcriptAnswer) || panels->isLoading(AIPanel::translationAnswer))
        return m_localization.localized(QStringLiteral("Suggesting answer..."));
    if (panels->isLoading(AIPanel::transcriptSummary) || panels->isLoading(AIPanel::translationSummary))
        return m_localization.localized(QStringLiteral("Summarizing..."));
    if (!liveTranslationPreview().isEmpty())
        return m_localization.localized(QStringLiteral("Translating..."));
    return std::nullopt;
}

// One AI request runs at a time across all the tools: while any loads, none of them can act,
// so none looks as if it could.
bool SubtitleViewModel::canSummarizeSource() const
{
    return !m_companionSet->panels()->isAnyLoading() && !Text::trimmed(subtitlesText()).isEmpty();
}

bool SubtitleViewModel::canGenerateSourceProtocol() const
{
    return !m_companionSet->panels()->isAnyLoading() && !Text::trimmed(subtitlesText()).isEmpty();
}

bool SubtitleViewModel::canSuggestSourceAnswer() const
{
    return !m_companionSet->panels()->isAnyLoading() && m_companionSet->hasTranscriptForAnswerAssist();
}

bool SubtitleViewModel::canSummarizeTranslation() const
{
    return !m_companionSet->panels()->isAnyLoading() && !Text::trimmed(translatedText()).isEmpty();
}

bool SubtitleViewModel::canGenerateTranslationProtocol() const
{
    return !m_companionSet->panels()->isAnyLoading() && !Text::trimmed(translatedText()).isEmpty();
}

void SubtitleViewModel::setFocusModeEnabledForHistory(bool enabled)
{
    m_companionSet->history()->setFocusModeEnabled(enabled);
}

void SubtitleViewModel::summarizeSourceText() { m_companionSet->summarizeSourceText(); }
void SubtitleViewModel::summarizeTranslatedText() { m_companionSet->summarizeTranslatedText(); }
void SubtitleViewModel::generateSourceProtocol() { m_companionSet->generateSourceProtocol(); }
void SubtitleViewModel::generateTranslatedProtocol() { m_companionSet->generateTranslatedProtocol(); }
void SubtitleViewModel::suggestSourceAnswer() { m_companionSet->suggestSourceAnswer(); }

void SubtitleViewModel::keepSummarySavedFromHistory(const QString &sessionID, const QString &summary)
{
    m_companionSet->keepSummarySavedFromHistory(sessionID, summary);
}

void SubtitleViewModel::copyPanelText(AIPanel panel)
{
    const QString text = m_companionSet->panels()->text(panel);
    if (text.isEmpty() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setText(text);
}

void SubtitleViewModel::copyTranscriptSummaryToPasteboard() { copyPanelText(AIPanel::transcriptSummary); }
void SubtitleViewModel::copyTranslationSummaryToPasteboard() { copyPanelText(AIPanel::translationSummary); }
void SubtitleViewModel::copyTranscriptProtocolToPasteboard() { copyPanelText(AIPanel::transcriptProtocol); }
void SubtitleViewModel::copyTranslationProtocolToPasteboard() { copyPanelText(AIPanel::translationProtocol); }
void SubtitleViewModel::copyTranscriptAnswerToPasteboard() { copyPanelText(AIPanel::transcriptAnswer); }
void SubtitleViewModel::copyTranslationAnswerToPasteboard() { copyPanelText(AIPanel::translationAnswer); }
