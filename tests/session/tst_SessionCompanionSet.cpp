// The background companions as the view model wires them: what the AI panels hand to the
// meeting record and to the draft, across a restart and a new conversation, and the settings and
// translations the record keeps of a meeting whatever is chosen after it.

#include "support/SessionCompanionFixture.h"

#include "platform/PulseAudioContext.h"
#include "history/KavrelHistoryRemoteClient.h"
#include "history/KavrelHistoryViewModel.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraft.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "session/StableReconstructionScheduler.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/FakeTranslationRelay.h"
#include "support/FileSizeLimit.h"
#include "support/TaskResult.h"

#include <QJsonArray>
#include <QSettings>
#include <QTest>

using namespace SessionTest;

namespace {

const QString chatPath = QString::fromLatin1(FakeAuthBackend::chatCompletionsPath);

FakeResponse chatReply(const QString &content)
{
    const QJsonObject message{{"role", "assistant"}, {"content", content}};
    return FakeResponse::json(200, QJsonObject{{"choices", QJsonArray{QJsonObject{{"index", 0}, {"message", message}}}}});
}

// Listens, says one sentence (waiting for its translation when translation is on) and stops.
bool listenAndSay(SubtitleViewModel &model, ListeningSessionStartMode mode, const QString &text)
{
    model.startListening(mode, false);
    if (!QTest::qWaitFor([&] { return !model.isBusy() && model.isSystemAudioListening(); }, 5000))
        return false;
    const bool translated = model.isTranslationEnabled();
    if (translated && !QTest::qWaitFor([&] { return model.turnStore()->isTranslationAvailable(); }, 5000))
        return false;
    model.turnStore()->applyFinalTranscript(text, true);
    const int said = model.turnStore()->count() - 1;
    if (translated && !QTest::qWaitFor([&] { return !model.turnStore()->at(said).translationText.isEmpty(); }, 5000))
        return false;
    model.stopActiveSession();
    return QTest::qWaitFor([&] { return !model.isBusy() && !model.isSystemAudioListening(); }, 5000);
}

QStringList blockLanguages(const QJsonObject &record)
{
    QStringList languages;
    for (const QJsonValue &block : record.value("translationJson").toArray())
        languages.append(block.toObject().value("language").toString());
    return languages;
}

} // namespace

class tst_SessionCompanionSet : public QObject, protected SessionCompanionFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void aFallbackIsShownButNeverKept();
    void anAISummaryIsKeptAndRestored();
    void aLateProtocolStaysWithItsConversation();
    void aRepeatThatFailsLeavesTheEarlierText_data();
    void aRepeatThatFailsLeavesTheEarlierText();
    void whileARequestLoadsTheOtherToolsAreOff();
    void aSummaryMadeInHistoryStaysWithTheLiveMeeting();
    void theProgramRunsWithItsProductionTimings();
    void aDraftThatCannotBeSavedIsNoticedOnce();
    void aContinuedMeetingKeepsEachTranslation_data();
    void aContinuedMeetingKeepsEachTranslation();
    void theNextMeetingsSettingsLeaveTheStoppedOneAlone_data();
    void theNextMeetingsSettingsLeaveTheStoppedOneAlone();
};

void tst_SessionCompanionSet::init()
{
    initFixture();
}

void tst_SessionCompanionSet::cleanup()
{
    cleanupFixture();
}

void tst_SessionCompanionSet::aFallbackIsShownButNeverKept()
{
    m_authBackend->setChatCompletionReply(FakeResponse::json(502, QJsonObject{{"error", QJsonObject{{"message", "down"}}}}));
    {
        auto model = makeModel();
        addClosedTurn(*model, QStringLiteral("We agreed to ship on Friday."));
        model->summarizeSourceText();
        QVERIFY(waitForSaves(*model));
        QVERIFY(model->transcriptSummaryText().startsWith(QStringLiteral("- ")));
        QCOMPARE(model->transcriptSummaryErrorMessage(),
                 std::optional<QString>(QStringLiteral("AI summary failed, showing a local fallback instead.")));
        // The history record got the turn, not the fallback.
        const std::optional<QJsonObject> input = lastUpdateInput();
        QVERIFY(input);
        QCOMPARE(input->value("transcriptJson").toArray().size(), 1);
        QVERIFY(!input->contains("summaryText") || input->value("summaryText").isNull());

        // Asking again while the fallback shows makes a new request.
        const int requests = m_backend->requestCount(chatPath);
        model->summarizeSourceText();
        QVERIFY(model->isTranscriptSummaryLoading());
        QVERIFY(waitForSaves(*model));
        QVERIFY(m_backend->requestCount(chatPath) > requests);
        addClosedTurn(*model, QStringLiteral("Testing is next."));
        QVERIFY(waitForSaves(*model));
    }
    // Nor is it in the draft: a restart shows no summary.
    auto restarted = makeModel();
    QCOMPARE(restarted->turnStore()->count(), 2);
    QCOMPARE(restarted->transcriptSummaryText(), QString());
}

void tst_SessionCompanionSet::anAISummaryIsKeptAndRestored()
{
    m_authBackend->setChatCompletionReply(chatReply(QStringLiteral("- Ship on Friday")));
    {
        auto model = makeModel();
        model->setFocusModeEnabledForHistory(true);
        addClosedTurn(*model, QStringLiteral("We agreed to ship on Friday."));
        model->summarizeSourceText();
        QVERIFY(waitForSaves(*model));
        QCOMPARE(lastUpdateInput()->value("summaryText").toString(), QStringLiteral("- Ship on Friday"));
        QCOMPARE(m_history->calls().first().variables.value("input").toObject().value("sessionParams").toObject().value("focusMode"),
                 QJsonValue(true));
        addClosedTurn(*model, QStringLiteral("Testing is next."));
        QVERIFY(waitForSaves(*model));
    }
    auto restarted = makeModel();
    QCOMPARE(restarted->transcriptSummaryText(), QStringLiteral("- Ship on Friday"));
    QVERIFY(!restarted->isTranscriptSummaryVisible());
    // Shown again without a request.
    const int requests = m_backend->requestCount(chatPath);
    restarted->summarizeSourceText();
    QVERIFY(restarted->isTranscriptSummaryVisible());
    QCOMPARE(m_backend->requestCount(chatPath), requests);
}

void tst_SessionCompanionSet::aLateProtocolStaysWithItsConversation()
{
    m_authBackend->setChatCompletionReply(chatReply(QStringLiteral("Meeting Protocol ...")).withDelay(200));
    auto model = makeModel();
    addClosedTurn(*model, QStringLiteral("We agreed to ship on Friday."));
    model->generateSourceProtocol();
    QVERIFY(model->isTranscriptProtocolLoading());
    QCOMPARE(model->assistantActivityText(), std::optional<QString>(QStringLiteral("Preparing protocol...")));
    model->startNewSession();
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && !model->isTranscriptProtocolLoading(); }, 10000));
    QVERIFY(waitForSaves(*model));
    QCOMPARE(model->transcriptProtocolText(), QString());
    QCOMPARE(model->assistantActivityText(), std::nullopt);
    // The old record was completed without the protocol; no record was made for the new one.
    const std::optional<QJsonObject> input = lastUpdateInput();
    QVERIFY(input);
    QCOMPARE(input->value("status").toString(), QStringLiteral("completed"));
    QVERIFY(!input->contains("protocolText") || input->value("protocolText").isNull());
    QCOMPARE(m_history->meetingCount(), 1);
}

void tst_SessionCompanionSet::aRepeatThatFailsLeavesTheEarlierText_data()
{
    QTest::addColumn<bool>("answer"); // the suggested answer, else the protocol
    QTest::addColumn<int>("fault");    // of the repeat: 500, an HTML 502, a dropped connection, none
    QTest::newRow("protocol, 500") << false << 0;
    QTest::newRow("protocol, HTML 502") << false << 1;
    QTest::newRow("protocol, dropped connection") << false << 2;
    QTest::newRow("protocol, New while loading") << false << 3;
    QTest::newRow("answer, 500") << true << 0;
    QTest::newRow("answer, New while loading") << true << 3;
}

// The meeting keeps its last good AI text: a repeat that fails shows the fallback meanwhile, but
// neither the server's record nor the draft loses the earlier text.
void tst_SessionCompanionSet::aRepeatThatFailsLeavesTheEarlierText()
{
    QFETCH(bool, answer);
    QFETCH(int, fault);
    // The last one never answers: the user starts a new meeting while it loads.
    const bool startNew = fault == 3;
    const FakeResponse repeat = fault == 0 ? FakeResponse::json(500, QJsonObject{{"error", QJsonObject{{"message", "boom"}}}})
                                : fault == 1 ? FakeResponse::text(502, "<html><body><h1>502 Bad Gateway</h1></body></html>", "text/html")
                                : fault == 2 ? FakeResponse::dropConnection()
                                             : FakeResponse::hang();
    const QString key = QString::fromLatin1(answer ? "suggestedAnswerText" : "protocolText");
    const auto ask = [answer](SubtitleViewModel &model) {
        answer ? model.suggestSourceAnswer() : model.generateSourceProtocol();
    };
    const auto loading = [answer](const SubtitleViewModel &model) {
        return answer ? model.isTranscriptAnswerLoading() : model.isTranscriptProtocolLoading();
    };
    const auto shown = [answer](const SubtitleViewModel &model) {
        return answer ? model.transcriptAnswerText() : model.transcriptProtocolText();
    };
    // A save as a summary's or protocol's result asks for one (an answer asks for none).
    const auto save = [](SubtitleViewModel &model) {
        model.companionSet()->history()->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    };
    const QString first = QStringLiteral("Meeting Protocol: ship on Friday");
    m_authBackend->setChatCompletionReply(chatReply(first));
    {
        auto model = makeModel();
        addClosedTurn(*model, QStringLiteral("We agreed to ship on Friday."));
        ask(*model);
        QVERIFY(QTest::qWaitFor([&] { return !loading(*model); }, 10000));
        addClosedTurn(*model, QStringLiteral("Who owns testing?"));
        save(*model);
        QVERIFY(waitForSaves(*model));
        QCOMPARE(lastUpdateInput()->value(key).toString(), first);

        m_authBackend->setChatCompletionReply(repeat);
        ask(*model);
        QVERIFY(loading(*model));
        if (startNew) {
            model->startNewSession();
            QVERIFY(QTest::qWaitFor([&] { return !model->isBusy(); }, 10000));
            QVERIFY(waitForSaves(*model));
            const std::optional<QJsonObject> input = lastUpdateInput();
            QCOMPARE(input->value("status").toString(), QStringLiteral("completed"));
            QCOMPARE(input->value(key).toString(), first);
            return;
        }
        QVERIFY(QTest::qWaitFor([&] { return !loading(*model); }, 10000));
        QVERIFY(shown(*model) != first); // the fallback, with its notice
        addClosedTurn(*model, QStringLiteral("Anna does."));
        save(*model);
        QVERIFY(waitForSaves(*model));
        QCOMPARE(lastUpdateInput()->value(key).toString(), first);
    }
    auto restarted = makeModel();
    QCOMPARE(shown(*restarted), first);
}

void tst_SessionCompanionSet::whileARequestLoadsTheOtherToolsAreOff()
{
    m_authBackend->setChatCompletionReply(FakeResponse::hang());
    auto model = makeModel();
    addClosedTurn(*model, QStringLiteral("We agreed to ship on Friday."));
    model->generateSourceProtocol();
    QVERIFY(model->isTranscriptProtocolLoading());
    // Each would do nothing now, so none looks as if it could.
    QVERIFY(!model->canSummarizeSource());
    QVERIFY(!model->canSuggestSourceAnswer());
    QVERIFY(!model->canGenerateSourceProtocol());

    // The next meeting does not wait for the last one's request.
    model->startNewSession();
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy(); }, 10000));
    addClosedTurn(*model, QStringLiteral("Testing is next."));
    QVERIFY(model->canSummarizeSource());
    QVERIFY(model->canSuggestSourceAnswer());
    QCOMPARE(model->assistantActivityText(), std::nullopt);
}

// The history browser summarises the meeting being recorded; the stop's save keeps that summary.
void tst_SessionCompanionSet::aSummaryMadeInHistoryStaysWithTheLiveMeeting()
{
    auto model = makeModel();
    model->startListening(ListeningSessionStartMode::newSession, false);
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && model->isSystemAudioListening(); }, 5000));
    addClosedTurn(*model, QStringLiteral("We agreed to ship on Friday."));
    // Saved, as an AI result's save does, so the record has a transcript to summarise.
    model->companionSet()->history()->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
    QVERIFY(waitForSaves(*model));

    // Wired as the program wires its history window to the engine.
    KavrelHistoryViewModel browser(std::make_shared<KavrelHistoryRemoteClient>(m_auth.get()), *m_localization);
    browser.setSavedSummaryListener([&model](const QString &sessionID, const QString &summary) {
        model->keepSummarySavedFromHistory(sessionID, summary);
    });
    QVERIFY(runTask(browser.loadInitialPage()).succeeded());
    QCOMPARE(browser.sessions().size(), 1);
    QVERIFY(runTask(browser.openSession(browser.sessions().first())).succeeded());
    m_authBackend->setChatCompletionReply(chatReply(QStringLiteral("- Ship on Friday")));
    const TaskHandle<void> summary = browser.summarizeSelectedTranscript();
    QVERIFY(summary.isValid());
    QVERIFY(QTest::qWaitFor([&] { return summary.isFinished(); }, 10000));
    QVERIFY(!browser.summaryErrorMessage());

    model->stopActiveSession();
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && !model->isSystemAudioListening(); }, 10000));
    QVERIFY(waitForSaves(*model));
    const std::optional<QJsonObject> input = lastUpdateInput();
    QCOMPARE(input->value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(input->value("summaryText").toString(), QStringLiteral("- Ship on Friday"));
}

void tst_SessionCompanionSet::theProgramRunsWithItsProductionTimings()
{
    SessionServices services = SessionServices::makeDefault(m_auth.get(), PulseAudioContext::shared());
    SubtitleViewModel model(*m_defaults, std::move(services), *m_localization);
    using std::chrono::milliseconds;
    QCOMPARE(model.draftStore()->autosaveDelay(), milliseconds(240));
    QCOMPARE(model.listeningSession()->timings().drainPause, milliseconds(50));
    QCOMPARE(model.companionSet()->stableRewrite()->debounce(), milliseconds(2000));
    const MeetingHistoryMirror::Timings &history = model.companionSet()->history()->timings();
    QCOMPARE(history.retryDelays[0], milliseconds(1000));
    QCOMPARE(history.retryDelays[1], milliseconds(3000));
    QCOMPARE(history.retryDelays[2], milliseconds(8000));
    QCOMPARE(history.deferredRetryDelay, milliseconds(30000));
}

// A full disk: one notice while the draft cannot be written, gone once the settings layer's
// retry has written it; the draft then holds every turn.
void tst_SessionCompanionSet::aDraftThatCannotBeSavedIsNoticedOnce()
{
    auto model = makeModel();
    m_defaults->setWriteRetryDelays(std::chrono::milliseconds(20), std::chrono::milliseconds(40));
    const QString notice = QString::fromUtf8(SubtitleViewModel::draftNotSavedNotice);
    int shown = 0;
    connect(model.get(), &SubtitleViewModel::errorMessageChanged, this, [&] {
        if (model->errorMessage() == notice)
            ++shown;
    });
    addClosedTurn(*model, QStringLiteral("Said before the disk filled."));
    QVERIFY(waitForSaves(*model));
    {
        const FileSizeLimit full(16);
        addClosedTurn(*model, QStringLiteral("Said while it is full."));
        QVERIFY(QTest::qWaitFor([&] { return model->errorMessage() == notice; }, 5000));
        addClosedTurn(*model, QStringLiteral("Said while it is still full."));
        QVERIFY(waitForSaves(*model));
        QTest::qWait(100);
        QCOMPARE(model->errorMessage(), std::optional<QString>(notice));
    }
    QVERIFY(QTest::qWaitFor([&] { return !model->errorMessage(); }, 5000));
    QCOMPARE(shown, 1);
    const QString stored = QSettings(m_defaults->filePath(), QSettings::IniFormat)
                               .value(QString::fromLatin1(SessionDraftStore::defaultsKey)).toString();
    QVERIFY(stored.startsWith(QLatin1String("x:")));
    const SessionDraft draft = SessionDraft::fromJson(QByteArray::fromBase64(stored.sliced(2).toLatin1()));
    QCOMPARE(draft.turns.size(), std::size_t(3));
}

// Translated into English, stopped, then continued in German or without translation: each
// translation stays in the record, in the language it was made in, and the meeting's language
// is the one it was recorded with.
void tst_SessionCompanionSet::aContinuedMeetingKeepsEachTranslation_data()
{
    QTest::addColumn<bool>("translateOnContinue");
    QTest::addColumn<QStringList>("languages");
    QTest::newRow("another language") << true << QStringList{"english", "german"};
    QTest::newRow("translation off") << false << QStringList{"english"};
}

void tst_SessionCompanionSet::aContinuedMeetingKeepsEachTranslation()
{
    QFETCH(bool, translateOnContinue);
    QFETCH(QStringList, languages);
    FakeTranslationRelay relay(m_backend.get());
    auto model = makeModel();
    model->setSelectedSourceLanguage(SourceLanguageOption::russian);
    model->setSelectedTranslationLanguage(TranslationLanguageOption::english);
    model->setTranslationEnabled(true);
    QVERIFY(listenAndSay(*model, ListeningSessionStartMode::newSession, QStringLiteral("Первый пункт.")));
    model->setSelectedTranslationLanguage(TranslationLanguageOption::german);
    model->setTranslationEnabled(translateOnContinue);
    QVERIFY(listenAndSay(*model, ListeningSessionStartMode::continuePrevious, QStringLiteral("Второй пункт.")));
    QVERIFY(waitForSaves(*model));

    QCOMPARE(m_history->meetingCount(), 1);
    const std::optional<QJsonObject> record = m_history->meeting(m_history->meetingIds().first());
    QVERIFY(record);
    QCOMPARE(blockLanguages(*record), languages);
    QCOMPARE(record->value("translationEnabled"), QJsonValue(true));
    QCOMPARE(record->value("translationLanguage"), QJsonValue("english"));
}

// Stopped, then other settings chosen for the next meeting, which starts anew: the stopped
// meeting's record keeps the languages, translation and microphone it was recorded with.
void tst_SessionCompanionSet::theNextMeetingsSettingsLeaveTheStoppedOneAlone_data()
{
    QTest::addColumn<bool>("otherLanguage");
    QTest::addColumn<bool>("otherMicrophone");
    QTest::newRow("language and translation") << true << false;
    QTest::newRow("microphone") << false << true;
}

void tst_SessionCompanionSet::theNextMeetingsSettingsLeaveTheStoppedOneAlone()
{
    QFETCH(bool, otherLanguage);
    QFETCH(bool, otherMicrophone);
    FakeTranslationRelay relay(m_backend.get());
    auto model = makeModel();
    model->setSelectedSourceLanguage(SourceLanguageOption::russian);
    model->setSelectedTranslationLanguage(TranslationLanguageOption::english);
    model->setTranslationEnabled(true);
    const QString microphone = model->selectedMicrophoneName();
    QVERIFY(listenAndSay(*model, ListeningSessionStartMode::newSession, QStringLiteral("Первый пункт.")));
    QVERIFY(waitForSaves(*model));
    const QString stopped = m_history->meetingIds().first();

    if (otherLanguage) {
        model->setSelectedSourceLanguage(SourceLanguageOption::english);
        model->setTranslationEnabled(false);
    }
    if (otherMicrophone) {
        model->selectMicrophone(QStringLiteral("mic-b"));
        QVERIFY(model->selectedMicrophoneName() != microphone);
    }
    QVERIFY(listenAndSay(*model, ListeningSessionStartMode::newSession, QStringLiteral("Next meeting.")));
    QVERIFY(waitForSaves(*model));

    QCOMPARE(m_history->meetingCount(), 2);
    const std::optional<QJsonObject> record = m_history->meeting(stopped);
    QVERIFY(record);
    QCOMPARE(record->value("inputLanguage"), QJsonValue("ru"));
    QCOMPARE(record->value("translationEnabled"), QJsonValue(true));
    QCOMPARE(record->value("translationLanguage"), QJsonValue("english"));
    QCOMPARE(blockLanguages(*record), QStringList{"english"});
    QCOMPARE(record->value("microphoneLabel"), QJsonValue(microphone));
}

QTEST_MAIN(tst_SessionCompanionSet)
#include "tst_SessionCompanionSet.moc"
