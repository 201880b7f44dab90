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
#include "support/TestAuth.h"

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
