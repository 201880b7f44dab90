// The background companions as the view model wires them: what the AI panels hand to the
// meeting record and to the draft, across a restart and a new conversation.

#include "SessionTestFakes.h"

#include "accounts/AuthService.h"
#include "accounts/KavrelBackendProxyService.h"
#include "platform/PulseAudioContext.h"
#include "services/MeetingSessionHistoryService.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/KavrelLiveTranslationV2Service.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/TestAuth.h"

#include <QJsonArray>
#include <QTest>

using namespace SessionTest;

namespace {

const QString chatPath = QString::fromLatin1(FakeAuthBackend::chatCompletionsPath);

FakeResponse chatReply(const QString &content)
{
    const QJsonObject message{{"role", "assistant"}, {"content", content}};
    return FakeResponse::json(200, QJsonObject{{"choices", QJsonArray{QJsonObject{{"index", 0}, {"message", message}}}}});
}

} // namespace

class tst_SessionCompanionSet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void aFallbackIsShownButNeverKept();
    void anAISummaryIsKeptAndRestored();
    void aLateProtocolStaysWithItsConversation();

private:
    std::unique_ptr<SubtitleViewModel> makeModel();
    void addClosedTurn(SubtitleViewModel &model, const QString &text);
    std::optional<QJsonObject> lastUpdateInput() const;
    bool waitForSaves(SubtitleViewModel &model);

    QTemporaryDir m_directory;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<KavrelLocalizationStore> m_localization;
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_authBackend;
    std::unique_ptr<FakeHistoryBackend> m_history;
    std::unique_ptr<AuthService> m_auth;
    Trace m_trace;
};

void tst_SessionCompanionSet::init()
{
    m_defaults = std::make_unique<UserDefaults>(m_directory.filePath(QStringLiteral("preferences.ini")));
    m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
    m_localization->setLanguage(KavrelAppLanguage::english);
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_authBackend = std::make_unique<FakeAuthBackend>(m_backend.get());
    m_authBackend->registerSession(TestAuth::defaultSession());
    m_history = std::make_unique<FakeHistoryBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
}

void tst_SessionCompanionSet::cleanup()
{
    QTest::qWait(20);
    m_auth.reset();
    m_history.reset();
    m_authBackend.reset();
    m_backend.reset();
    m_localization.reset();
    m_defaults.reset();
}

std::unique_ptr<SubtitleViewModel> tst_SessionCompanionSet::makeModel()
{
    SessionServices services = SessionServices::makeDefault(m_auth.get(), PulseAudioContext::shared());
    services.systemAudio = std::make_unique<FakeSystemAudio>(&m_trace);
    services.microphones = std::make_unique<FakeMicrophones>(&m_trace);
    services.recorder = std::make_unique<FakeRecorder>(&m_trace);
    services.speechToText = std::make_unique<FakeSpeech>(&m_trace);
    auto model = std::make_unique<SubtitleViewModel>(*m_defaults, std::move(services), *m_localization);
    SubtitleViewModel::Timings timings;
    timings.draftAutosaveDelay = std::chrono::milliseconds(10);
    model->setTimings(timings);
    SessionCompanionSet::Timings companionTimings;
    companionTimings.stableRewriteDebounce = std::chrono::hours(1);
    model->companionSet()->setTimings(companionTimings);
    return model;
}

void tst_SessionCompanionSet::addClosedTurn(SubtitleViewModel &model, const QString &text)
{
    model.turnStore()->applyFinalTranscript(text, true);
}

std::optional<QJsonObject> tst_SessionCompanionSet::lastUpdateInput() const
{
    std::optional<QJsonObject> input;
    for (const FakeHistoryBackend::Call &call : m_history->calls()) {
        if (call.operationName == QLatin1String("UpdateMeetingSession"))
            input = call.variables.value("input").toObject();
    }
    return input;
}

bool tst_SessionCompanionSet::waitForSaves(SubtitleViewModel &model)
{
    return QTest::qWaitFor([&] {
        const TaskHandle<void> save = model.companionSet()->history()->saveTask();
        return !model.isTranscriptSummaryLoading() && !model.isTranscriptProtocolLoading()
               && (!save.isValid() || save.isFinished()) && !model.draftStore()->hasPendingAutosave();
    }, 10000);
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

QTEST_MAIN(tst_SessionCompanionSet)
#include "tst_SessionCompanionSet.moc"
