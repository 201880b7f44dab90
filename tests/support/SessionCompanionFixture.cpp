#include "support/SessionCompanionFixture.h"

#include "accounts/AuthService.h"
#include "platform/PulseAudioContext.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QFile>
#include <QTimeZone>

using namespace SessionTest;

SessionCompanionFixture::SessionCompanionFixture() = default;
SessionCompanionFixture::~SessionCompanionFixture() = default;

void SessionCompanionFixture::initFixture()
{
    // Each test starts from settings of its own: no draft or notice of the one before.
    ++m_testNumber;
    m_defaults = std::make_unique<UserDefaults>(m_directory.filePath(QStringLiteral("preferences-%1.ini").arg(m_testNumber)));
    m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
    m_localization->setLanguage(KavrelAppLanguage::english);
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_authBackend = std::make_unique<FakeAuthBackend>(m_backend.get());
    m_authBackend->registerSession(TestAuth::defaultSession());
    // Another person's account, for the tests of whose a meeting is.
    m_authBackend->registerSession(TestAuth::secondSession());
    m_history = std::make_unique<FakeHistoryBackend>(m_backend.get());
    m_billing = std::make_unique<FakeBillingBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
}

void SessionCompanionFixture::cleanupFixture()
{
    QTest::qWait(20);
    m_auth.reset();
    m_history.reset();
    m_billing.reset();
    m_authBackend.reset();
    m_backend.reset();
    m_localization.reset();
    m_defaults.reset();
}

std::unique_ptr<SubtitleViewModel> SessionCompanionFixture::makeModel()
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

void SessionCompanionFixture::addClosedTurn(SubtitleViewModel &model, const QString &text)
{
    model.turnStore()->applyFinalTranscript(text, true);
}

std::optional<QJsonObject> SessionCompanionFixture::lastUpdateInput() const
{
    std::optional<QJsonObject> input;
    for (const FakeHistoryBackend::Call &call : m_history->calls()) {
        if (call.operationName == QLatin1String("UpdateMeetingSession"))
            input = call.variables.value("input").toObject();
    }
    return input;
}

bool SessionCompanionFixture::waitForSaves(SubtitleViewModel &model)
{
    return QTest::qWaitFor([&] {
        const TaskHandle<void> save = model.companionSet()->history()->saveTask();
        return !model.isTranscriptSummaryLoading() && !model.isTranscriptProtocolLoading()
               && (!save.isValid() || save.isFinished()) && model.companionSet()->history()->handedOverCount() == 0
               && !model.draftStore()->hasPendingAutosave();
    }, 10000);
}

int SessionCompanionFixture::requestsSignedInAs(const QString &email) const
{
    int count = 0;
    for (const char *path : {FakeHistoryBackend::graphQLPath, FakeBillingBackend::usageEventsPath}) {
        for (const RecordedRequest &request : m_backend->requests(QString::fromLatin1(path)))
            count += m_authBackend->accountOf(request) == email ? 1 : 0;
    }
    return count;
}

std::unique_ptr<SubtitleViewModel> SessionCompanionFixture::listeningWithHistoryDown()
{
    auto model = makeModel();
    m_meetingClock = QDateTime(QDate(2026, 5, 4), QTime(10, 0), QTimeZone::utc());
    model->companionSet()->setClock([this] { return m_meetingClock; });
    SessionCompanionSet::Timings timings;
    timings.stableRewriteDebounce = std::chrono::hours(1);
    timings.history.retryDelays = {std::chrono::milliseconds(5), std::chrono::milliseconds(5), std::chrono::milliseconds(5)};
    timings.history.deferredRetryDelay = std::chrono::milliseconds(50);
    model->companionSet()->setTimings(timings);
    for (const char *operation : {"StartMeetingSession", "UpdateMeetingSession"})
        m_history->script(QString::fromLatin1(operation), FakeHistoryBackend::ScriptedReply::dropConnection(false));
    model->startListening(ListeningSessionStartMode::newSession, false);
    if (!QTest::qWaitFor([&] { return !model->isBusy() && model->isSystemAudioListening(); }, 5000))
        return nullptr;
    return model;
}

bool SessionCompanionFixture::signIn(AuthSession session)
{
    session.refreshToken = QStringLiteral("next-refresh-token-%1").arg(++m_signIns);
    m_authBackend->registerSession(session);
    const auto signedIn = runTask(m_auth->refreshSession(session.refreshToken));
    if (!signedIn.succeeded())
        return false;
    m_history->setAccessToken(signedIn.value->accessToken);
    m_billing->setAccessToken(signedIn.value->accessToken);
    return true;
}

bool SessionCompanionFixture::copySettingsTo(const QString &path) const
{
    for (const QString suffix : {QString(), QStringLiteral(".journal")}) {
        if (QFile::exists(m_defaults->filePath() + suffix) && !QFile::copy(m_defaults->filePath() + suffix, path + suffix))
            return false;
    }
    return true;
}

void SessionCompanionFixture::startFromSettings(const QString &path)
{
    m_localization.reset();
    m_defaults = std::make_unique<UserDefaults>(path);
    m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
    m_localization->setLanguage(KavrelAppLanguage::english);
}

QByteArray SessionCompanionFixture::oneTurnDraft()
{
    return R"({"turns":[)"
        R"({"id":"5C9F5B8E-3C2A-4B1D-9E8F-1A2B3C4D5E60","text":"First point.","translationText":"","timestamp":"2026-03-05T14:00:00Z","isClosed":true}],)"
        R"("subtitlesText":"","translatedText":"","transcriptSummaryText":"","translationSummaryText":"",)"
        R"("transcriptProtocolText":"","translationProtocolText":"","transcriptAnswerText":"","translationAnswerText":""})";
}
