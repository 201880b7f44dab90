#pragma once

#include "audio/MicrophoneInputDevice.h"
#include "session/ListeningSession.h"
#include "session/AIResultPanelSet.h"
#include "session/PublishedTranscript.h"
#include "session/SessionCompanions.h"
#include "session/SessionModel.h"
#include "session/SessionServices.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class KavrelLocalizationStore;
class ListeningStartPrompts;
class MicrophoneControl;
class SessionCompanionSet;
class SessionDraftStore;
class SessionTurnStore;
class UserDefaults;

// The live session engine as every window sees it: the one published session state and the
// commands that change it. The main window, the mini window, the tray menu and the meeting
// detector read its properties (each with a change signal) and call its commands; none of
// them writes state.
//
// It owns the session settings (languages, translation, recording, font sizes, starting with
// the microphone) and wires the concerns that own the rest:
//  - SessionTurnStore: the dialogue turns, the open turn and the live lines;
//  - PublishedTranscript: rows and texts of both columns, with row-level change signals;
//  - SessionDraftStore: the local draft and its autosave;
//  - ListeningSession: start, stop, the streaming pipeline, status and notices;
//  - MicrophoneControl: the microphone, its devices, level and test.
// Live translation, the meeting history, billing and the AI panels plug in as companions.
//
// Main thread only. Commands return at once; what they start runs as tasks.
class SubtitleViewModel final : public QObject
{
    Q_OBJECT

    Q_PROPERTY(SubtitleStatus status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString subtitlesText READ subtitlesText NOTIFY subtitlesTextChanged)
    Q_PROPERTY(QString translatedText READ translatedText NOTIFY translatedTextChanged)
    Q_PROPERTY(QList<DialogueEntry> transcriptEntries READ transcriptEntries NOTIFY transcriptEntriesChanged)
    Q_PROPERTY(QList<DialogueEntry> translationEntries READ translationEntries NOTIFY translationEntriesChanged)
    Q_PROPERTY(SourceLanguageOption selectedSourceLanguage READ selectedSourceLanguage WRITE setSelectedSourceLanguage NOTIFY selectedSourceLanguageChanged)
    Q_PROPERTY(bool isAudioRecordingEnabled READ isAudioRecordingEnabled WRITE setAudioRecordingEnabled NOTIFY isAudioRecordingEnabledChanged)
    Q_PROPERTY(bool isTranslationEnabled READ isTranslationEnabled WRITE setTranslationEnabled NOTIFY isTranslationEnabledChanged)
    Q_PROPERTY(TranslationLanguageOption selectedTranslationLanguage READ selectedTranslationLanguage WRITE setSelectedTranslationLanguage NOTIFY selectedTranslationLanguageChanged)
    Q_PROPERTY(bool startsWithMicrophoneEnabled READ startsWithMicrophoneEnabled WRITE setStartsWithMicrophoneEnabled NOTIFY startsWithMicrophoneEnabledChanged)
    Q_PROPERTY(QString liveSubtitlePreview READ liveSubtitlePreview NOTIFY liveSubtitlePreviewChanged)
    Q_PROPERTY(QString liveTranslationPreview READ liveTranslationPreview NOTIFY liveTranslationPreviewChanged)
    Q_PROPERTY(QList<MicrophoneInputDevice> availableMicrophones READ availableMicrophones NOTIFY availableMicrophonesChanged)
    Q_PROPERTY(QString selectedMicrophoneID READ selectedMicrophoneID NOTIFY selectedMicrophoneIDChanged)
    Q_PROPERTY(bool isSystemAudioListening READ isSystemAudioListening NOTIFY isSystemAudioListeningChanged)
    Q_PROPERTY(bool isMicrophoneListening READ isMicrophoneListening NOTIFY isMicrophoneListeningChanged)
    Q_PROPERTY(bool shouldShowMicrophoneOffWarning READ shouldShowMicrophoneOffWarning NOTIFY shouldShowMicrophoneOffWarningChanged)
    Q_PROPERTY(bool isMicrophoneTesting READ isMicrophoneTesting NOTIFY isMicrophoneTestingChanged)
    Q_PROPERTY(bool isMicrophoneBusy READ isMicrophoneBusy NOTIFY isMicrophoneBusyChanged)
    Q_PROPERTY(double microphoneLevel READ microphoneLevel NOTIFY microphoneLevelChanged)
    Q_PROPERTY(bool microphoneSignalDetected READ microphoneSignalDetected NOTIFY microphoneSignalDetectedChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(std::optional<QString> translationMessage READ translationMessage NOTIFY translationMessageChanged)
    Q_PROPERTY(std::optional<QString> lastRecordingPath READ lastRecordingPath NOTIFY lastRecordingPathChanged)
    Q_PROPERTY(double transcriptFontSize READ transcriptFontSize WRITE setTranscriptFontSize NOTIFY transcriptFontSizeChanged)
    Q_PROPERTY(double translationFontSize READ translationFontSize WRITE setTranslationFontSize NOTIFY translationFontSizeChanged)

    // Derived values.
    Q_PROPERTY(bool hasActiveSession READ hasActiveSession NOTIFY hasActiveSessionChanged)
    Q_PROPERTY(bool isAskingStartQuestions READ isAskingStartQuestions NOTIFY isAskingStartQuestionsChanged)
    Q_PROPERTY(QString translationPlaceholderText READ translationPlaceholderText NOTIFY translationPlaceholderTextChanged)
    Q_PROPERTY(QString translationPanelTitle READ translationPanelTitle NOTIFY panelTitlesChanged)
    Q_PROPERTY(QString sourceSummaryPanelTitle READ sourceSummaryPanelTitle NOTIFY panelTitlesChanged)
    Q_PROPERTY(QString translationSummaryPanelTitle READ translationSummaryPanelTitle NOTIFY panelTitlesChanged)
    Q_PROPERTY(QString selectedMicrophoneName READ selectedMicrophoneName NOTIFY selectedMicrophoneNameChanged)
    Q_PROPERTY(QList<TranslationLanguageOption> availableTranslationLanguages READ availableTranslationLanguages NOTIFY selectedSourceLanguageChanged)
    Q_PROPERTY(bool showsTranscriptDialogueMode READ showsTranscriptDialogueMode NOTIFY transcriptEntriesChanged)
    Q_PROPERTY(bool showsTranslationDialogueMode READ showsTranslationDialogueMode NOTIFY translationEntriesChanged)

    // The AI result panels.
    Q_PROPERTY(bool isTranscriptSummaryVisible READ isTranscriptSummaryVisible NOTIFY transcriptSummaryChanged)
    Q_PROPERTY(bool isTranscriptSummaryLoading READ isTranscriptSummaryLoading NOTIFY transcriptSummaryChanged)
    Q_PROPERTY(QString transcriptSummaryText READ transcriptSummaryText NOTIFY transcriptSummaryChanged)
    Q_PROPERTY(std::optional<QString> transcriptSummaryErrorMessage READ transcriptSummaryErrorMessage NOTIFY transcriptSummaryChanged)
    Q_PROPERTY(bool isTranslationSummaryVisible READ isTranslationSummaryVisible NOTIFY translationSummaryChanged)
    Q_PROPERTY(bool isTranslationSummaryLoading READ isTranslationSummaryLoading NOTIFY translationSummaryChanged)
    Q_PROPERTY(QString translationSummaryText READ translationSummaryText NOTIFY translationSummaryChanged)
    Q_PROPERTY(std::optional<QString> translationSummaryErrorMessage READ translationSummaryErrorMessage NOTIFY translationSummaryChanged)
    Q_PROPERTY(bool isTranscriptProtocolVisible READ isTranscriptProtocolVisible NOTIFY transcriptProtocolChanged)
    Q_PROPERTY(bool isTranscriptProtocolLoading READ isTranscriptProtocolLoading NOTIFY transcriptProtocolChanged)
    Q_PROPERTY(QString transcriptProtocolText READ transcriptProtocolText NOTIFY transcriptProtocolChanged)
    Q_PROPERTY(std::optional<QString> transcriptProtocolErrorMessage READ transcriptProtocolErrorMessage NOTIFY transcriptProtocolChanged)
    Q_PROPERTY(bool isTranslationProtocolVisible READ isTranslationProtocolVisible NOTIFY translationProtocolChanged)
    Q_PROPERTY(bool isTranslationProtocolLoading READ isTranslationProtocolLoading NOTIFY translationProtocolChanged)
    Q_PROPERTY(QString translationProtocolText READ translationProtocolText NOTIFY translationProtocolChanged)
    Q_PROPERTY(std::optional<QString> translationProtocolErrorMessage READ translationProtocolErrorMessage NOTIFY translationProtocolChanged)
    Q_PROPERTY(bool isTranscriptAnswerVisible READ isTranscriptAnswerVisible NOTIFY transcriptAnswerChanged)
    Q_PROPERTY(bool isTranscriptAnswerLoading READ isTranscriptAnswerLoading NOTIFY transcriptAnswerChanged)
    Q_PROPERTY(QString transcriptAnswerText READ transcriptAnswerText NOTIFY transcriptAnswerChanged)
    Q_PROPERTY(std::optional<QString> transcriptAnswerErrorMessage READ transcriptAnswerErrorMessage NOTIFY transcriptAnswerChanged)
    Q_PROPERTY(bool isTranslationAnswerVisible READ isTranslationAnswerVisible NOTIFY translationAnswerChanged)
    Q_PROPERTY(bool isTranslationAnswerLoading READ isTranslationAnswerLoading NOTIFY translationAnswerChanged)
    Q_PROPERTY(QString translationAnswerText READ translationAnswerText NOTIFY translationAnswerChanged)
    Q_PROPERTY(std::optional<QString> translationAnswerErrorMessage READ translationAnswerErrorMessage NOTIFY translationAnswerChanged)
    Q_PROPERTY(std::optional<QString> assistantActivityText READ assistantActivityText NOTIFY assistantActivityTextChanged)
    Q_PROPERTY(bool canSummarizeSource READ canSummarizeSource NOTIFY aiCommandAvailabilityChanged)
    Q_PROPERTY(bool canGenerateSourceProtocol READ canGenerateSourceProtocol NOTIFY aiCommandAvailabilityChanged)
    Q_PROPERTY(bool canSuggestSourceAnswer READ canSuggestSourceAnswer NOTIFY aiCommandAvailabilityChanged)
    Q_PROPERTY(bool canSummarizeTranslation READ canSummarizeTranslation NOTIFY aiCommandAvailabilityChanged)
    Q_PROPERTY(bool canGenerateTranslationProtocol READ canGenerateTranslationProtocol NOTIFY aiCommandAvailabilityChanged)

public:
    static constexpr const char *startWithMicrophoneDefaultsKey = "kavrel.session.startWithMicrophone";
    // Set while a quit waits for the meeting's record; left set when the quit ended first, so
    // the next start tells the user that the meeting did not reach the history.
    static constexpr const char *historyNotSavedAtQuitDefaultsKey = "kavrel.session.historyNotSavedAtQuit";
    static constexpr double defaultFontSize = 18;
    // Shown once while the session draft cannot be written to this computer.
    static constexpr const char *draftNotSavedNotice =
        "Текст встречи не удаётся сохранить на этом компьютере: файл настроек недоступен для записи "
        "(возможно, диск заполнен). Программа пробует снова; до тех пор текст есть только в памяти программы.";

    struct Timings
    {
        std::chrono::milliseconds draftAutosaveDelay{240};
        std::chrono::milliseconds stopDrainPause{50};
    };

    // Restores the stored draft at the end. The services are owned from here on.
    SubtitleViewModel(UserDefaults &defaults, SessionServices services, KavrelLocalizationStore &localization,
                      QObject *parent = nullptr);
    ~SubtitleViewModel() override;

    // The two start questions (main.cpp passes the message-box implementation). Without them
    // promptAndStartListening() starts a new session with the microphone as asked.
    void setStartPrompts(ListeningStartPrompts *prompts) { m_prompts = prompts; }
    void setCompanions(SessionCompanions companions);
    void setTimings(const Timings &timings);

    // Published state.
    SubtitleStatus status() const;
    QString subtitlesText() const;
    QString translatedText() const;
    QList<DialogueEntry> transcriptEntries() const;
    QList<DialogueEntry> translationEntries() const;
    SourceLanguageOption selectedSourceLanguage() const { return m_selectedSourceLanguage; }
    bool isAudioRecordingEnabled() const { return m_isAudioRecordingEnabled; }
    bool isTranslationEnabled() const { return m_isTranslationEnabled; }
    TranslationLanguageOption selectedTranslationLanguage() const { return m_selectedTranslationLanguage; }
    bool startsWithMicrophoneEnabled() const { return m_startsWithMicrophoneEnabled; }
    QString liveSubtitlePreview() const;
    QString liveTranslationPreview() const;
    QList<MicrophoneInputDevice> availableMicrophones() const;
    QString selectedMicrophoneID() const;
    bool isSystemAudioListening() const;
    bool isMicrophoneListening() const;
    bool shouldShowMicrophoneOffWarning() const;
    bool isMicrophoneTesting() const;
    bool isMicrophoneBusy() const;
    double microphoneLevel() const;
    bool microphoneSignalDetected() const;
    bool isBusy() const;
    std::optional<QString> errorMessage() const;
    std::optional<QString> translationMessage() const;
    std::optional<QString> lastRecordingPath() const;
    double transcriptFontSize() const { return m_transcriptFontSize; }
    double translationFontSize() const { return m_translationFontSize; }

    bool hasActiveSession() const;
    // The start questions are open: a start is being decided there, and the other start roads
    // give way to it.
    bool isAskingStartQuestions() const { return m_isAskingStartQuestions; }
    QString translationPlaceholderText() const;
    QString translationPanelTitle() const;
    QString sourceSummaryPanelTitle() const;
    QString translationSummaryPanelTitle() const;
    QString selectedMicrophoneName() const;
    QList<TranslationLanguageOption> availableTranslationLanguages() const;
    bool showsTranscriptDialogueMode() const;
    bool showsTranslationDialogueMode() const;

    // The AI result panels (see AIResultPanelSet).
    bool isTranscriptSummaryVisible() const;
    bool isTranscriptSummaryLoading() const;
    QString transcriptSummaryText() const;
    std::optional<QString> transcriptSummaryErrorMessage() const;
    bool isTranslationSummaryVisible() const;
    bool isTranslationSummaryLoading() const;
    QString translationSummaryText() const;
    std::optional<QString> translationSummaryErrorMessage() const;
    bool isTranscriptProtocolVisible() const;
    bool isTranscriptProtocolLoading() const;
    QString transcriptProtocolText() const;
    std::optional<QString> transcriptProtocolErrorMessage() const;
    bool isTranslationProtocolVisible() const;
    bool isTranslationProtocolLoading() const;
    QString translationProtocolText() const;
    std::optional<QString> translationProtocolErrorMessage() const;
    bool isTranscriptAnswerVisible() const;
    bool isTranscriptAnswerLoading() const;
    QString transcriptAnswerText() const;
    std::optional<QString> transcriptAnswerErrorMessage() const;
    bool isTranslationAnswerVisible() const;
    bool isTranslationAnswerLoading() const;
    QString translationAnswerText() const;
    std::optional<QString> translationAnswerErrorMessage() const;
    // What the toolbar says while an AI request or live translation runs.
    std::optional<QString> assistantActivityText() const;
    bool canSummarizeSource() const;
    bool canGenerateSourceProtocol() const;
    bool canSuggestSourceAnswer() const;
    bool canSummarizeTranslation() const;
    bool canGenerateTranslationProtocol() const;

    // Settings.
    void setSelectedSourceLanguage(SourceLanguageOption language);
    void setAudioRecordingEnabled(bool enabled);
    void setTranslationEnabled(bool enabled);
    void setSelectedTranslationLanguage(TranslationLanguageOption language);
    void setStartsWithMicrophoneEnabled(bool enabled);
    void setTranscriptFontSize(double size);
    void setTranslationFontSize(double size);

    // Session commands.
    QCoro::Task<void> promptAndStartListening(bool includeMicrophone);
    void startListening(ListeningSessionStartMode mode, bool includeMicrophone);
    void stopActiveSession();
    void startNewSession();
    void toggleMicrophoneCapture();
    void selectMicrophone(const QString &id);
    void refreshAvailableMicrophones();
    void toggleMicrophoneTest();
    void clearSubtitles();
    // Copies the trimmed text to the clipboard; a blank text leaves the clipboard alone.
    void copyToPasteboard(const QString &text);
    // For the application's quit: stops what runs, finishes the recording, writes the draft,
    // then waits for the history saves and usage reports under way.
    QCoro::Task<void> stopActiveSessionAndWait();

    // AI panel commands (the buttons are disabled by the can... properties; the commands do
    // not check them).
    void summarizeSourceText();
    void summarizeTranslatedText();
    void generateSourceProtocol();
    void generateTranslatedProtocol();
    void suggestSourceAnswer();
    // The history browser saved a summary for the meeting with this server id: the meeting
    // being written keeps it, so its next save does not take it away again.
    void keepSummarySavedFromHistory(const QString &sessionID, const QString &summary);
    // Each copies its panel's text as it is; an empty text leaves the clipboard alone.
    void copyTranscriptSummaryToPasteboard();
    void copyTranslationSummaryToPasteboard();
    void copyTranscriptProtocolToPasteboard();
    void copyTranslationProtocolToPasteboard();
    void copyTranscriptAnswerToPasteboard();
    void copyTranslationAnswerToPasteboard();

    // The label of a speaker number, or "Speaker <n>".
    QString speakerLabel(int number) const;

    // The concerns, for the companions and the views that follow rows.
    SessionTurnStore *turnStore() const { return m_turns; }
    PublishedTranscript *publishedTranscript() const { return m_published; }
    SessionDraftStore *draftStore() const { return m_draft; }
    ListeningSession *listeningSession() const { return m_session; }
    MicrophoneControl *microphoneControl() const { return m_microphone; }
    SessionServices &services() { return m_services; }
    UserDefaults &defaults() const { return m_defaults; }
    KavrelLocalizationStore &localization() const { return m_localization; }
    // Translation, stable rewriting, history, billing and the AI panels.
    SessionCompanionSet *companionSet() const { return m_companionSet; }
    // The main window's focus mode, kept with the meeting record.
    void setFocusModeEnabledForHistory(bool enabled);
    // The generation of the current streaming session.
    QUuid streamingSessionGeneration() const;

Q_SIGNALS:
    void statusChanged();
    void subtitlesTextChanged();
    void translatedTextChanged();
    void transcriptEntriesChanged();
    void translationEntriesChanged();
    void selectedSourceLanguageChanged();
    void isAudioRecordingEnabledChanged();
    void isTranslationEnabledChanged();
    void selectedTranslationLanguageChanged();
    void startsWithMicrophoneEnabledChanged();
    void liveSubtitlePreviewChanged();
    void liveTranslationPreviewChanged();
    void availableMicrophonesChanged();
    void selectedMicrophoneIDChanged();
    void isSystemAudioListeningChanged();
    void isMicrophoneListeningChanged();
    void shouldShowMicrophoneOffWarningChanged();
    void isMicrophoneTestingChanged();
    void isMicrophoneBusyChanged();
    void microphoneLevelChanged();
    void microphoneSignalDetectedChanged();
    void isBusyChanged();
    void errorMessageChanged();
    void translationMessageChanged();
    void lastRecordingPathChanged();
    void transcriptFontSizeChanged();
    void translationFontSizeChanged();
    void hasActiveSessionChanged();
    void isAskingStartQuestionsChanged();
    void translationPlaceholderTextChanged();
    void panelTitlesChanged();
    void selectedMicrophoneNameChanged();
    void transcriptSummaryChanged();
    void translationSummaryChanged();
    void transcriptProtocolChanged();
    void translationProtocolChanged();
    void transcriptAnswerChanged();
    void translationAnswerChanged();
    void assistantActivityTextChanged();
    void aiCommandAvailabilityChanged();

private:
    void wireConcerns();
    void reconcileTranslationSelectionWithSourceLanguage();
    void sendInterimChunk(const QString &text, const QUuid &turnID);
    void sendFinalChunk(const QString &text, const QUuid &turnID);
    void wireCompanionSet();
    void copyPanelText(AIPanel panel);
    void dropDraftOfHandedOverMeeting();
    void showNoticeOfMeetingNotSavedAtQuit();
    // The meeting's record is through: its notice of the last run goes.
    void withdrawNoticeOfSavedMeeting(const QUuid &conversationGeneration);
    // An account signed in: notices that name other accounts' meetings go off its screen.
    void withdrawNoticesOfOtherAccounts(const QString &accountID);
    struct UnsavedMeetingNotice;
    void withdrawNotices(const std::function<bool(const UnsavedMeetingNotice &)> &which);
    void followDraftSaveFailing(bool failing);
    void setAskingStartQuestions(bool asking);

    UserDefaults &m_defaults;
    KavrelLocalizationStore &m_localization;
    SessionServices m_services;
    SessionCompanions m_companions;
    ListeningStartPrompts *m_prompts = nullptr;

    SessionTurnStore *m_turns = nullptr;
    PublishedTranscript *m_published = nullptr;
    SessionDraftStore *m_draft = nullptr;
    MicrophoneControl *m_microphone = nullptr;
    ListeningSession *m_session = nullptr;
    SessionCompanionSet *m_companionSet = nullptr;

    SourceLanguageOption m_selectedSourceLanguage = SourceLanguageOption::russian;
    bool m_isAudioRecordingEnabled = false;
    bool m_isTranslationEnabled = true;
    TranslationLanguageOption m_selectedTranslationLanguage = TranslationLanguageOption::english;
    bool m_startsWithMicrophoneEnabled = false;
    double m_transcriptFontSize = defaultFontSize;
    double m_translationFontSize = defaultFontSize;
    bool m_isReconcilingTranslationSelection = false;
    bool m_hasActiveSession = false;
    bool m_isAskingStartQuestions = false;
    std::optional<QString> m_announcedActivityText;
    // The notices of the last run's meetings that had not reached the history, by meeting (and
    // its account, once known), while they are on screen.
    struct UnsavedMeetingNotice
    {
        QUuid conversationGeneration;
        std::optional<QString> accountID;
        QString text;
    };
    QList<UnsavedMeetingNotice> m_unsavedMeetingNotices;
};
