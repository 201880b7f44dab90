// A meeting's history record across the ways a run ends: a quit that waits for it or cannot
// save it, a crash, a sign-out while it waits for the server, and the next start that restores
// the meeting and ends its record, or says where it is until the server has it.

#include "support/SessionCompanionFixture.h"

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "app/KavrelGracefulQuit.h"
#include "services/MeetingSessionHistoryService.h"
#include "base/Dates.h"
#include "session/BillingUsageReporter.h"
#include "session/HandedOverMeetingStore.h"
#include "session/MeetingHistoryMirror.h"
#include "session/MeetingHistoryRecord.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "support/TaskResult.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/FakeHistoryBackend.h"
#include "platform/InMemorySecretStore.h"
#include "support/TestAuth.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QSet>
#include <QThread>
#include <QTest>
#include <QTimeZone>

using namespace SessionTest;

class tst_MeetingHistoryAcrossRestarts : public QObject, protected SessionCompanionFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void aQuitWaitsForTheRecordAndTheUsageReport();
    void aQuitThatCannotSaveSaysSoAtTheNextStart();
    void aQuitCutShortWhileStoppingSaysSoAtTheNextStart();
    void aMeetingHandedOverOfflineSurvivesQuitAndCrash_data();
    void aMeetingHandedOverOfflineSurvivesQuitAndCrash();
    void aWaitingMeetingGoesOnlyToItsOwnAccount_data();
    void aWaitingMeetingGoesOnlyToItsOwnAccount();
    void aMeetingStoppedOfflineIsSavedWithoutTheUser_data();
    void aMeetingStoppedOfflineIsSavedWithoutTheUser();
    void aRefreshRefusedWhileListeningSignsOutAtOnce_data();
    void aRefreshRefusedWhileListeningSignsOutAtOnce();
    void aRestoredMeetingShowsItsOpenTurnAndEndsWithItsLastTurn();
    void aMeetingQuitAndRestartedKeepsItsRecord_data();
    void aMeetingQuitAndRestartedKeepsItsRecord();
    void aMeetingRestoredAfterACrashCompletesItsActiveRecord();
    void aKeptRecordOfAnotherMeetingIsIgnored_data();
    void aKeptRecordOfAnotherMeetingIsIgnored();
    void theRecordEntryIsInTheFileWithTheDraft_data();
    void theRecordEntryIsInTheFileWithTheDraft();

private:
    int callCount(const QString &operationName) const;
};

void tst_MeetingHistoryAcrossRestarts::init()
{
    initFixture();
}

void tst_MeetingHistoryAcrossRestarts::cleanup()
{
    cleanupFixture();
}

int tst_MeetingHistoryAcrossRestarts::callCount(const QString &operationName) const
{
    return int(m_history->operationNames().count(operationName));
}

void tst_MeetingHistoryAcrossRestarts::aQuitWaitsForTheRecordAndTheUsageReport()
{
    QDateTime now(QDate(2026, 5, 4), QTime(10, 0), QTimeZone::utc());
    auto model = makeModel();
    model->companionSet()->setClock([&now] { return now; });
    model->startListening(ListeningSessionStartMode::newSession, false);
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && model->isSystemAudioListening(); }, 5000));
    QVERIFY(QTest::qWaitFor([&] { return m_history->meetingCount() == 1; }, 5000));
    // A slow server: the final save and the report take longer than the stop itself.
    m_backend->route("POST", QString::fromLatin1(FakeBillingBackend::usageEventsPath), [](const RecordedRequest &) {
        return FakeResponse::json(200, QJsonObject{{"accepted", 1}}).withDelay(300);
    });
    addClosedTurn(*model, QStringLiteral("Good morning everyone."));
    addClosedTurn(*model, QStringLiteral("Please send your questions."));
    now = now.addSecs(42);

    QVERIFY(runTask(model->stopActiveSessionAndWait()).succeeded());
    // Everything arrived before the quit could end the program.
    const std::optional<QJsonObject> input = lastUpdateInput();
    QVERIFY(input);
    QCOMPARE(input->value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(input->value("transcriptJson").toArray().size(), 2);
    QCOMPARE(input->value("durationSeconds").toInteger(), qint64(42));
    QCOMPARE(m_backend->requestCount(QString::fromLatin1(FakeBillingBackend::usageEventsPath)), 1);
    QVERIFY(model->companionSet()->billing()->syncTask().isFinished());
    QVERIFY(!model->companionSet()->history()->hasUnsavedMeeting());
    QVERIFY(!m_defaults->boolValue(QString::fromLatin1(SubtitleViewModel::historyNotSavedAtQuitDefaultsKey)));
}

void tst_MeetingHistoryAcrossRestarts::aQuitThatCannotSaveSaysSoAtTheNextStart()
{
    {
        auto model = makeModel();
        SessionCompanionSet::Timings timings;
        timings.stableRewriteDebounce = std::chrono::hours(1);
        timings.history.retryDelays = {std::chrono::milliseconds(5), std::chrono::milliseconds(5), std::chrono::milliseconds(5)};
        model->companionSet()->setTimings(timings);
        m_history->script(QStringLiteral("StartMeetingSession"), FakeHistoryBackend::ScriptedReply::dropConnection(false));
        addClosedTurn(*model, QStringLiteral("Nobody hears this."));
        model->companionSet()->history()->scheduleSnapshotSync(MeetingSessionHistoryStatus::completed);
        QVERIFY(runTask(model->stopActiveSessionAndWait()).succeeded());
        QVERIFY(model->companionSet()->history()->hasUnsavedMeeting());
        QVERIFY(m_defaults->boolValue(QString::fromLatin1(SubtitleViewModel::historyNotSavedAtQuitDefaultsKey), false));
    }
    // The next start: the text is back, and so is the word that it is not in the history.
    auto restarted = makeModel();
    QCOMPARE(restarted->turnStore()->count(), 1);
    QVERIFY(restarted->errorMessage());
    // It names the meeting and says where its text is.
    QVERIFY2(restarted->errorMessage()->startsWith(QStringLiteral("Прошлая встреча «Nobody hears this.»")),
             qPrintable(*restarted->errorMessage()));
    QVERIFY(restarted->errorMessage()->contains(QStringLiteral("не сохранилась в истории")));
    QVERIFY(restarted->errorMessage()->contains(QStringLiteral("открыт в окне программы")));
    QVERIFY(!m_defaults->boolValue(QString::fromLatin1(SubtitleViewModel::historyNotSavedAtQuitDefaultsKey)));
    // Once said is enough.
    restarted.reset();
    auto again = makeModel();
    QCOMPARE(again->errorMessage(), std::nullopt);
}

void tst_MeetingHistoryAcrossRestarts::aQuitCutShortWhileStoppingSaysSoAtTheNextStart()
{
    const QString settingsPath = m_defaults->filePath();
    const QString leftPath = m_directory.filePath(QStringLiteral("left-at-exit-%1.ini").arg(m_testNumber));
    {
        auto model = makeModel();
        model->startListening(ListeningSessionStartMode::newSession, false);
        QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && model->isSystemAudioListening(); }, 5000));
        auto *speech = dynamic_cast<FakeSpeech *>(model->services().speechToText.get());
        QVERIFY(speech);
        // The speech client's stop outlasts the quit's limit.
        speech->stopGate.closed = true;
        addClosedTurn(*model, QStringLiteral("Said just before the quit."));

        SubtitleViewModel *quitting = model.get();
        KavrelGracefulQuit quit([quitting] { return quitting->stopActiveSessionAndWait(); });
        quit.setStopTimeLimit(std::chrono::milliseconds(200));
        bool exited = false;
        quit.setExit([&] {
            exited = true;
            // What the disk holds as the program ends.
            for (const QString suffix : {QString(), QStringLiteral(".journal")}) {
                if (QFile::exists(settingsPath + suffix))
                    QVERIFY(QFile::copy(settingsPath + suffix, leftPath + suffix));
            }
        });
        quit.requestQuit();
        QVERIFY(QTest::qWaitFor([&] { return exited; }, 5000));
        QVERIFY(m_trace.calls.contains(QStringLiteral("speech.stop")));
        QVERIFY(speech->connected); // still stopping
        // Let the stop end before its objects go.
        speech->stopGate.closed = false;
        QVERIFY(QTest::qWaitFor([&] { return !speech->connected && !model->isBusy(); }, 5000));
        QVERIFY(waitForSaves(*model));
    }
    // The next start from what was on the disk: the text is back, and the word that it is not
    // in the history.
    m_localization.reset();
    m_defaults = std::make_unique<UserDefaults>(leftPath);
    m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
    m_localization->setLanguage(KavrelAppLanguage::english);
    auto restarted = makeModel();
    QCOMPARE(restarted->turnStore()->count(), 1);
    QVERIFY(restarted->errorMessage());
    QVERIFY2(restarted->errorMessage()->startsWith(QStringLiteral("Прошлая встреча «Said just before the quit.»")),
             qPrintable(*restarted->errorMessage()));
    QVERIFY(restarted->errorMessage()->contains(QStringLiteral("не сохранилась в истории")));
}

void tst_MeetingHistoryAcrossRestarts::aMeetingHandedOverOfflineSurvivesQuitAndCrash_data()
{
    QTest::addColumn<bool>("crash");
    QTest::newRow("quit") << false;
    QTest::newRow("crash") << true;
}

void tst_MeetingHistoryAcrossRestarts::aMeetingHandedOverOfflineSurvivesQuitAndCrash()
{
    QFETCH(bool, crash);
    const QString crashed = m_directory.filePath(QStringLiteral("crashed-%1.ini").arg(m_testNumber));
    const QString noticeKey = QString::fromLatin1(SubtitleViewModel::historyNotSavedAtQuitDefaultsKey);
    // Billing answers only after the crash: the usage report of the listening is still under way
    // when the program dies.
    QStringList reportedEvents;
    bool billingAnswers = !crash;
    m_backend->route("POST", QString::fromLatin1(FakeBillingBackend::usageEventsPath), [&](const RecordedRequest &request) {
        if (!billingAnswers)
            return FakeResponse::hang();
        for (const QJsonValue &event : request.json().value("events").toArray())
            reportedEvents.append(event.toObject().value("eventId").toString());
        return FakeResponse::json(200, QJsonObject{{"accepted", 1}});
    });
    QString usageEventID;
    {
        auto model = listeningWithHistoryDown();
        QVERIFY(model);
        usageEventID = BillingUsageReporter::clientSessionID(model->companionSet()->history()->conversationGeneration())
                       + QStringLiteral("-1");
        addClosedTurn(*model, QStringLiteral("Offline first point."));
        addClosedTurn(*model, QStringLiteral("Offline second point."));
        QVERIFY(QTest::qWaitFor([&] { return !model->draftStore()->hasPendingAutosave(); }, 5000));
        m_meetingClock = m_meetingClock.addSecs(90);

        // Start New with the history server away: the meeting leaves the window and the draft.
        model->startNewSession();
        QVERIFY(QTest::qWaitFor([&] { return !model->isBusy(); }, 5000));
        QCOMPARE(model->turnStore()->count(), 0);
        QCOMPARE(model->companionSet()->history()->handedOverCount(), 1);
        if (crash) {
            // What a kill leaves behind: the settings file and its journal as they are on disk now.
            for (const QString suffix : {QString(), QStringLiteral(".journal")}) {
                if (QFile::exists(m_defaults->filePath() + suffix))
                    QVERIFY(QFile::copy(m_defaults->filePath() + suffix, crashed + suffix));
            }
        } else {
            QVERIFY(runTask(model->stopActiveSessionAndWait()).succeeded());
            QVERIFY(m_defaults->boolValue(noticeKey, false));
        }
    }
    QCOMPARE(m_history->meetingCount(), 0);
    m_history->clearScripts();
    billingAnswers = true;
    if (crash) {
        m_localization.reset();
        m_defaults = std::make_unique<UserDefaults>(crashed);
        m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
    }

    // The next start, with the server back: the meeting is sent, and the notice says which one
    // and where it is until then.
    auto restarted = makeModel();
    // Not on screen again, even where the kill came before the cleared draft reached the disk.
    QCOMPARE(restarted->turnStore()->count(), 0);
    QVERIFY(restarted->errorMessage());
    QVERIFY2(restarted->errorMessage()->startsWith(QStringLiteral("Встреча «Offline first point.»")),
             qPrintable(*restarted->errorMessage()));
    QVERIFY(restarted->errorMessage()->contains(QStringLiteral("хранится на этом компьютере")));
    QVERIFY(QTest::qWaitFor([&] { return restarted->companionSet()->history()->handedOverCount() == 0; }, 10000));
    // Once it is there, the notice that it is not goes.
    QVERIFY2(QTest::qWaitFor([&] { return !restarted->errorMessage(); }, 5000),
             qPrintable(restarted->errorMessage().value_or(QString())));
    QCOMPARE(m_history->meetingIds().size(), 1);
    const std::optional<QJsonObject> record = m_history->meeting(m_history->meetingIds().first());
    QVERIFY(record);
    QCOMPARE(record->value("status").toString(), QStringLiteral("completed"));
    const QJsonArray blocks = record->value("transcriptJson").toArray();
    QCOMPARE(blocks.size(), 2);
    QCOMPARE(blocks.at(1).toObject().value("text").toString(), QStringLiteral("Offline second point."));
    // The usage of the listening is reported, once, whichever run got it through.
    QVERIFY(QTest::qWaitFor([&] { return reportedEvents.size() == 1; }, 5000));
    QCOMPARE(reportedEvents.first(), usageEventID);
    QVERIFY(QTest::qWaitFor([&] { return !m_defaults->contains(QString::fromLatin1(HandedOverMeetingStore::defaultsKey)); }, 5000));
    // Sent once: the run after has nothing left to send.
    restarted.reset();
    auto again = makeModel();
    QCOMPARE(again->companionSet()->history()->handedOverCount(), 0);
    QTest::qWait(50);
    QCOMPARE(m_history->meetingIds().size(), 1);
    QCOMPARE(reportedEvents.size(), 1);
}

void tst_MeetingHistoryAcrossRestarts::aWaitingMeetingGoesOnlyToItsOwnAccount_data()
{
    QTest::addColumn<bool>("sameAccount");
    QTest::newRow("the same account signs in again") << true;
    QTest::newRow("another account signs in") << false;
}

void tst_MeetingHistoryAcrossRestarts::aWaitingMeetingGoesOnlyToItsOwnAccount()
{
    QFETCH(bool, sameAccount);
    auto model = listeningWithHistoryDown();
    QVERIFY(model);
    MeetingHistoryMirror *history = model->companionSet()->history();
    addClosedTurn(*model, QStringLiteral("Said while signed in."));
    model->startNewSession();
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy(); }, 5000));
    QCOMPARE(history->handedOverCount(), 1);

    // Signed out when the server comes back: the meeting waits, and it is not dropped.
    QVERIFY(runTask(m_auth->deleteSavedSession()).succeeded());
    QTest::qWait(200);
    m_history->clearScripts();
    QTest::qWait(300);
    QCOMPARE(m_history->meetingCount(), 0);
    QCOMPARE(history->handedOverCount(), 1);

    AuthSession next = TestAuth::defaultSession();
    if (!sameAccount) {
        next.user.id = QStringLiteral("user-2");
        next.user.email = QStringLiteral("grace@example.com");
    }
    QVERIFY(signIn(next));
    if (sameAccount) {
        QVERIFY(QTest::qWaitFor([&] { return history->handedOverCount() == 0; }, 5000));
        QCOMPARE(m_history->meetingCount(), 1);
    } else {
        QTest::qWait(300);
        QCOMPARE(m_history->meetingCount(), 0);
        QCOMPARE(history->handedOverCount(), 1);
    }
}

void tst_MeetingHistoryAcrossRestarts::aMeetingStoppedOfflineIsSavedWithoutTheUser_data()
{
    QTest::addColumn<QString>("road");
    QTest::newRow("the server comes back") << QStringLiteral("server back");
    QTest::newRow("signed out, then in again") << QStringLiteral("sign-in");
    QTest::newRow("the server comes back, then Quit") << QStringLiteral("quit");
    QTest::newRow("Quit offline, restart with the server up") << QStringLiteral("restart");
    QTest::newRow("signed out, Quit, restart, sign in") << QStringLiteral("signed-out restart");
}

// A meeting stopped (not handed over by Start New) while the history server is away reaches it
// without Start New, whichever way the user goes on; its notices go once it is there.
void tst_MeetingHistoryAcrossRestarts::aMeetingStoppedOfflineIsSavedWithoutTheUser()
{
    QFETCH(QString, road);
    const bool signsOut = road == QLatin1String("sign-in") || road == QLatin1String("signed-out restart");
    const bool restarts = road.endsWith(QLatin1String("restart"));
    const QString noticeKey = QString::fromLatin1(SubtitleViewModel::historyNotSavedAtQuitDefaultsKey);
    auto model = listeningWithHistoryDown();
    QVERIFY(model);
    MeetingHistoryMirror *history = model->companionSet()->history();
    // Where the road is not the 30-second retry (50 ms here), only the attempts it makes count.
    const bool waitsForRetryToo = road == QLatin1String("quit") || road == QLatin1String("restart");
    if (waitsForRetryToo) {
        MeetingHistoryMirror::Timings timings = history->timings();
        timings.deferredRetryDelay = std::chrono::hours(1);
        history->setTimings(timings);
    }
    addClosedTurn(*model, QStringLiteral("Said before the stop."));
    addClosedTurn(*model, QStringLiteral("Said while the server was away."));
    m_meetingClock = m_meetingClock.addSecs(60);
    model->stopActiveSession();
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && !model->isSystemAudioListening(); }, 5000));
    // The stop cleared the engine's message; a failed save shows its notice again.
    QVERIFY(QTest::qWaitFor([&] { return model->errorMessage().has_value(); }, 5000));
    QVERIFY(model->errorMessage()->contains(QStringLiteral("повторим попытку автоматически")));
    // Every save queued by then, the stop's among them, failed and waits for its retry.
    if (waitsForRetryToo)
        QVERIFY(QTest::qWaitFor([&] { return history->saveTask().isFinished() && history->hasDeferredRetry(); }, 5000));

    if (signsOut) {
        // Signed out before the next attempt: it finds nobody signed in, and none follows.
        QVERIFY(runTask(m_auth->deleteSavedSession()).succeeded());
        QVERIFY(QTest::qWaitFor([&] { return history->saveTask().isFinished() && !history->hasDeferredRetry(); }, 5000));
    }
    if (restarts) {
        // The quit with the server still away (or nobody signed in) cannot save it: the next
        // start says so.
        QVERIFY(runTask(model->stopActiveSessionAndWait()).succeeded());
        QVERIFY(m_defaults->boolValue(noticeKey, false));
        model.reset();
    }
    QCOMPARE(m_history->meetingCount(), 0);
    const auto landedWhole = [this] {
        const QStringList ids = m_history->meetingIds();
        const std::optional<QJsonObject> record = ids.isEmpty() ? std::nullopt : m_history->meeting(ids.first());
        return record && record->value("status").toString() == QLatin1String("completed")
               && record->value("transcriptJson").toArray().size() == 2;
    };
    m_history->clearScripts();
    if (signsOut && !restarts)
        QVERIFY(signIn(TestAuth::defaultSession()));
    if (road == QLatin1String("quit")) {
        QVERIFY(runTask(model->stopActiveSessionAndWait()).succeeded());
        QVERIFY(landedWhole());
        QVERIFY(!m_defaults->boolValue(noticeKey, false));
    }
    if (restarts) {
        model = makeModel();
        QCOMPARE(model->turnStore()->count(), 2);
        QVERIFY(model->errorMessage());
        QVERIFY2(model->errorMessage()->startsWith(QStringLiteral("Прошлая встреча «Said before the stop.»")),
                 qPrintable(*model->errorMessage()));
        if (signsOut)
            QVERIFY(signIn(TestAuth::defaultSession()));
    }
    QVERIFY(QTest::qWaitFor(landedWhole, 5000));
    QCOMPARE(m_history->meetingCount(), 1);
    QVERIFY(QTest::qWaitFor([&] { return !model->errorMessage(); }, 5000));
    QVERIFY(!model->companionSet()->history()->hasUnsavedMeeting());
}

void tst_MeetingHistoryAcrossRestarts::aRefreshRefusedWhileListeningSignsOutAtOnce_data()
{
    QTest::addColumn<QString>("refresh");
    QTest::addColumn<bool>("signsOut");
    // The server rotates the tokens and the answer is lost: the next refresh carries the spent token.
    QTest::newRow("answer lost, then the spent token refused") << QStringLiteral("lost") << true;
    QTest::newRow("connection dropped before the server") << QStringLiteral("dropped") << false;
    QTest::newRow("the server fails once") << QStringLiteral("failing") << false;
}

// The save at the stop is the first to need the session after its token expired: a refresh
// refused for good signs the user out and says so at once, and the meeting waits on this
// computer for the sign-in; a refresh that merely failed is tried again.
void tst_MeetingHistoryAcrossRestarts::aRefreshRefusedWhileListeningSignsOutAtOnce()
{
    QFETCH(QString, refresh);
    QFETCH(bool, signsOut);
    m_localization->setLanguage(KavrelAppLanguage::russian);
    AuthSessionStore store(m_auth.get());
    store.setLocalizer([this](const QString &key) { return m_localization->localized(key); });
    QVERIFY(runTask(store.restored()).succeeded());
    QVERIFY(store.isAuthenticated());
    // The history endpoint takes every token the sign-in issues.
    connect(m_backend.get(), &FakeBackend::requestReceived, this, [this](const RecordedRequest &request) {
        const QString token = QString::fromUtf8(request.header("Authorization").mid(7));
        if (m_authBackend->isAccessTokenValid(token))
            m_history->setAccessToken(token);
    });

    auto model = makeModel();
    SessionCompanionSet::Timings timings;
    timings.stableRewriteDebounce = std::chrono::hours(1);
    timings.history.retryDelays = {std::chrono::milliseconds(5), std::chrono::milliseconds(5), std::chrono::milliseconds(5)};
    timings.history.deferredRetryDelay = std::chrono::hours(1);
    model->companionSet()->setTimings(timings);
    model->startListening(ListeningSessionStartMode::newSession, false);
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && m_history->meetingCount() == 1; }, 5000));
    addClosedTurn(*model, QStringLiteral("Said while the token was fresh."));
    addClosedTurn(*model, QStringLiteral("Said as it expired."));

    const QDateTime expiry = TestAuth::defaultSession().expiresAt;
    m_auth->setClock([expiry] { return expiry.addSecs(-30); });
    const char *refreshPath = FakeAuthBackend::refreshPath;
    if (refresh == QLatin1String("lost"))
        m_authBackend->loseNextAnswers(refreshPath, 1);
    else if (refresh == QLatin1String("dropped"))
        m_authBackend->failNext(refreshPath, FakeResponse::dropConnection(), 1);
    else
        m_authBackend->failNext(refreshPath, FakeResponse::json(503, QJsonObject{{"message", "Try again later"}}), 1);
    model->stopActiveSession();

    MeetingHistoryMirror *history = model->companionSet()->history();
    const auto landedWhole = [this] {
        const std::optional<QJsonObject> record = m_history->meeting(m_history->meetingIds().first());
        return record && record->value("status").toString() == QLatin1String("completed")
               && record->value("transcriptJson").toArray().size() == 2;
    };
    if (signsOut) {
        QVERIFY(QTest::qWaitFor([&] { return !store.isAuthenticated(); }, 5000));
        QCOMPARE(store.errorMessage(), std::optional<QString>(QStringLiteral("Срок входа истёк. Войдите снова, чтобы продолжить.")));
        QVERIFY(!TestAuth::secretStoreOf(m_auth.get())->value(QString::fromLatin1(AuthService::sessionAccount)));
        QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && history->saveTask().isFinished(); }, 5000));
        QVERIFY(history->hasUnsavedMeeting());
        QVERIFY(!landedWhole());
        // Signing in again sends it.
        m_auth->setClock(AuthService::Clock());
        QVERIFY(signIn(TestAuth::defaultSession()));
        QVERIFY(store.isAuthenticated());
    }
    QVERIFY(QTest::qWaitFor(landedWhole, 5000));
    QCOMPARE(m_history->meetingCount(), 1);
    QVERIFY(QTest::qWaitFor([&] { return !history->hasUnsavedMeeting(); }, 5000));
    if (!signsOut) {
        QVERIFY(store.isAuthenticated());
        QCOMPARE(store.errorMessage(), std::nullopt);
    }
}

void tst_MeetingHistoryAcrossRestarts::aRestoredMeetingShowsItsOpenTurnAndEndsWithItsLastTurn()
{
    // A draft left by a program that ended mid-sentence.
    const QByteArray draft = R"({"turns":[)"
        R"({"id":"5C9F5B8E-3C2A-4B1D-9E8F-1A2B3C4D5E60","text":"First point.","translationText":"","timestamp":"2026-03-05T14:00:00Z","isClosed":true},)"
        R"({"id":"5C9F5B8E-3C2A-4B1D-9E8F-1A2B3C4D5E61","text":"And the last words","translationText":"","timestamp":"2026-03-05T14:03:27Z","isClosed":false}],)"
        R"("subtitlesText":"","translatedText":"","transcriptSummaryText":"","translationSummaryText":"",)"
        R"("transcriptProtocolText":"","translationProtocolText":"","transcriptAnswerText":"","translationAnswerText":""})";
    m_defaults->setData(QString::fromLatin1(SessionDraftStore::defaultsKey), draft);
    auto model = makeModel();
    // Both turns are rows, and both are in what is copied and summarised.
    QCOMPARE(model->transcriptEntries().size(), 2);
    QVERIFY(model->subtitlesText().contains(QStringLiteral("And the last words")));
    // New speech starts a turn of its own.
    addClosedTurn(*model, QStringLiteral("Continued."));
    QCOMPARE(model->turnStore()->count(), 3);
    QCOMPARE(model->turnStore()->turns().at(1).text, QStringLiteral("And the last words"));

    // Start New days later: the record ends with the last turn of the old meeting.
    model.reset();
    m_defaults->setData(QString::fromLatin1(SessionDraftStore::defaultsKey), draft);
    m_defaults->remove(QString::fromLatin1(MeetingHistoryRecord::defaultsKey));
    auto restarted = makeModel();
    // The draft is older than the settings kept with a meeting: the meeting keeps those in use
    // when it came back, not the ones chosen for the next meeting.
    QCOMPARE(restarted->selectedSourceLanguage(), SourceLanguageOption::russian);
    restarted->setSelectedSourceLanguage(SourceLanguageOption::german);
    restarted->startNewSession();
    QVERIFY(QTest::qWaitFor([&] { return !restarted->isBusy(); }, 5000));
    QVERIFY(waitForSaves(*restarted));
    QCOMPARE(m_history->meetingIds().size(), 1);
    const std::optional<QJsonObject> record = m_history->meeting(m_history->meetingIds().first());
    QVERIFY(record);
    QCOMPARE(record->value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(record->value("inputLanguage").toString(), QStringLiteral("ru"));
    QCOMPARE(record->value("startedAt").toString(), QStringLiteral("2026-03-05T14:00:00Z"));
    QCOMPARE(record->value("endedAt").toString(), QStringLiteral("2026-03-05T14:03:27Z"));
    QCOMPARE(record->value("durationSeconds").toInteger(), qint64(207));
}

void tst_MeetingHistoryAcrossRestarts::aMeetingQuitAndRestartedKeepsItsRecord_data()
{
    QTest::addColumn<bool>("continues");
    QTest::newRow("Start New") << false;
    QTest::newRow("Continue, then Stop") << true;
}

void tst_MeetingHistoryAcrossRestarts::aMeetingQuitAndRestartedKeepsItsRecord()
{
    QFETCH(bool, continues);
    QDateTime now(QDate(2026, 5, 4), QTime(10, 0, 0, 250), QTimeZone::utc());
    QString id;
    {
        auto model = makeModel();
        model->companionSet()->setClock([&now] { return now; });
        model->startListening(ListeningSessionStartMode::newSession, true);
        QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && model->isSystemAudioListening(); }, 5000));
        addClosedTurn(*model, QStringLiteral("Good morning everyone."));
        addClosedTurn(*model, QStringLiteral("Please send your questions."));
        now = now.addMSecs(42'600);
        // The quit: the completed record lands before the program ends.
        QVERIFY(runTask(model->stopActiveSessionAndWait()).succeeded());
        QCOMPARE(m_history->meetingCount(), 1);
        id = m_history->meetingIds().first();
        QCOMPARE(m_history->meeting(id)->value("status").toString(), QStringLiteral("completed"));
    }
    const QJsonObject landed = *m_history->meeting(id);
    const int starts = callCount(QStringLiteral("StartMeetingSession"));
    const int updates = callCount(QStringLiteral("UpdateMeetingSession"));

    now = now.addSecs(3600);
    auto restarted = makeModel();
    restarted->companionSet()->setClock([&now] { return now; });
    QCOMPARE(restarted->turnStore()->count(), 2);
    if (!continues) {
        restarted->startNewSession();
        QVERIFY(QTest::qWaitFor([&] { return !restarted->isBusy(); }, 5000));
        QVERIFY(waitForSaves(*restarted));
        // Nothing was sent again: the record that landed before the quit stands as it was.
        QCOMPARE(callCount(QStringLiteral("StartMeetingSession")), starts);
        QCOMPARE(callCount(QStringLiteral("UpdateMeetingSession")), updates);
        QCOMPARE(m_history->meetingCount(), 1);
        QCOMPARE(*m_history->meeting(id), landed);
        return;
    }
    // Continued in another language, the meeting keeps the one it was recorded with.
    restarted->setSelectedSourceLanguage(SourceLanguageOption::german);
    restarted->startListening(ListeningSessionStartMode::continuePrevious, true);
    QVERIFY(QTest::qWaitFor([&] { return !restarted->isBusy() && restarted->isSystemAudioListening(); }, 5000));
    addClosedTurn(*restarted, QStringLiteral("One more thing."));
    now = now.addSecs(10);
    QVERIFY(runTask(restarted->stopActiveSessionAndWait()).succeeded());
    QCOMPARE(callCount(QStringLiteral("StartMeetingSession")), starts);
    QCOMPARE(m_history->meetingCount(), 1);
    const QJsonObject record = *m_history->meeting(id);
    QCOMPARE(record.value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(record.value("startedAt").toString(), landed.value("startedAt").toString());
    QCOMPARE(record.value("inputLanguage").toString(), QStringLiteral("ru"));
    QStringList texts;
    for (const QJsonValue &block : record.value("transcriptJson").toArray())
        texts.append(block.toObject().value("text").toString());
    QCOMPARE(texts, (QStringList{QStringLiteral("Good morning everyone."), QStringLiteral("Please send your questions."),
                                 QStringLiteral("One more thing.")}));
    // Both listening stretches are counted, under the one conversation: the second event's id
    // goes on from the first instead of repeating it.
    QVERIFY(QTest::qWaitFor([&] { return m_billing->events().size() == 2; }, 5000));
    QSet<QString> conversations;
    for (const QJsonObject &event : m_billing->events())
        conversations.insert(event.value("clientSessionId").toString());
    QCOMPARE(conversations.size(), 1);
}

void tst_MeetingHistoryAcrossRestarts::aMeetingRestoredAfterACrashCompletesItsActiveRecord()
{
    QString id;
    {
        auto model = makeModel();
        addClosedTurn(*model, QStringLiteral("First point."));
        addClosedTurn(*model, QStringLiteral("Second point."));
        model->companionSet()->history()->scheduleSnapshotSync(MeetingSessionHistoryStatus::active);
        QVERIFY(waitForSaves(*model));
        QCOMPARE(m_history->meetingCount(), 1);
        id = m_history->meetingIds().first();
        QCOMPARE(m_history->meeting(id)->value("status").toString(), QStringLiteral("active"));
        // The program ends here without its final save, as in a crash.
    }
    const int starts = callCount(QStringLiteral("StartMeetingSession"));
    auto restarted = makeModel();
    const QDateTime lastTurn = restarted->turnStore()->turns().back().timestamp;
    restarted->startNewSession();
    QVERIFY(QTest::qWaitFor([&] { return !restarted->isBusy(); }, 5000));
    QVERIFY(waitForSaves(*restarted));
    QCOMPARE(callCount(QStringLiteral("StartMeetingSession")), starts);
    QCOMPARE(m_history->meetingCount(), 1);
    const QJsonObject record = *m_history->meeting(id);
    QCOMPARE(record.value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(record.value("endedAt").toString(), Dates::formatIso8601(lastTurn));
    QCOMPARE(record.value("transcriptJson").toArray().size(), 2);
    // The entry went with the meeting.
    QVERIFY(!m_defaults->contains(QString::fromLatin1(MeetingHistoryRecord::defaultsKey)));
}

void tst_MeetingHistoryAcrossRestarts::aKeptRecordOfAnotherMeetingIsIgnored_data()
{
    QTest::addColumn<QByteArray>("entry");
    const QByteArray another = R"({"conversationGeneration":"0b8f6c1e-2d3a-4e5f-8a9b-0c1d2e3f4a5b","sessionId":"stale-meeting",)"
                               R"("sessionRevision":4,"startedAt":"2026-03-05T13:00:00.000Z","source":"system_audio","focusMode":false,)"
                               R"("lastCompletedSignature":"x",)";
    QTest::newRow("another first turn")
        << another + R"("firstTurnId":"11111111-3C2A-4B1D-9E8F-1A2B3C4D5E60","firstTurnAt":"2026-03-05T14:00:00.000Z"})";
    QTest::newRow("same turn id, another time")
        << another + R"("firstTurnId":"5C9F5B8E-3C2A-4B1D-9E8F-1A2B3C4D5E60","firstTurnAt":"2026-03-05T14:00:01.000Z"})";
    QTest::newRow("no first turn") << another.chopped(1) + "}";
    QTest::newRow("unreadable") << QByteArray(R"({"conversationGeneration":"not a uuid","source":"x","focusMode":false})");
}

void tst_MeetingHistoryAcrossRestarts::aKeptRecordOfAnotherMeetingIsIgnored()
{
    QFETCH(QByteArray, entry);
    m_defaults->setData(QString::fromLatin1(SessionDraftStore::defaultsKey), oneTurnDraft());
    m_defaults->setData(QString::fromLatin1(MeetingHistoryRecord::defaultsKey), entry);
    auto model = makeModel();
    QVERIFY(model->companionSet()->history()->sessionID() == std::nullopt);
    QVERIFY(!model->companionSet()->history()->clientSessionID().contains(QStringLiteral("0b8f6c1e")));
    model->startNewSession();
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy(); }, 5000));
    QVERIFY(waitForSaves(*model));
    // The restored meeting got a record of its own, ended with its turn.
    QCOMPARE(callCount(QStringLiteral("StartMeetingSession")), 1);
    QCOMPARE(m_history->meetingCount(), 1);
    const QJsonObject record = *m_history->meeting(m_history->meetingIds().first());
    QCOMPARE(record.value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(record.value("startedAt").toString(), QStringLiteral("2026-03-05T14:00:00Z"));
    QCOMPARE(record.value("endedAt").toString(), QStringLiteral("2026-03-05T14:00:00Z"));
}

void tst_MeetingHistoryAcrossRestarts::theRecordEntryIsInTheFileWithTheDraft_data()
{
    QTest::addColumn<bool>("writeNow");
    QTest::newRow("on the worker") << false;
    QTest::newRow("on the calling thread") << true;
}

// A crash right after the draft lands finds the record entry that names it: the two are not a
// turn of the event loop apart. The files are read as a crash would leave them, with no event
// processed since the draft was handed over.
void tst_MeetingHistoryAcrossRestarts::theRecordEntryIsInTheFileWithTheDraft()
{
    QFETCH(bool, writeNow);
    auto model = makeModel();
    model->draftStore()->setAutosaveDelay(std::chrono::hours(1));
    addClosedTurn(*model, QStringLiteral("The first words of the meeting."));
    const QUuid firstTurn = model->turnStore()->turns().front().id;
    if (writeNow)
        model->draftStore()->persistDraftIfNeeded();
    else
        model->draftStore()->persistDraftInBackground();

    const QString path = m_defaults->filePath();
    const QString copy = m_directory.filePath(QStringLiteral("crash-%1.ini").arg(m_testNumber));
    std::optional<QByteArray> entry;
    QDeadlineTimer deadline(10000);
    for (;;) {
        QFile::remove(copy);
        QFile::remove(copy + QStringLiteral(".journal"));
        QFile::copy(path, copy);
        QFile::copy(path + QStringLiteral(".journal"), copy + QStringLiteral(".journal"));
        const UserDefaults crashed(copy);
        if (crashed.dataValue(QString::fromLatin1(SessionDraftStore::defaultsKey))) {
            entry = crashed.dataValue(QString::fromLatin1(MeetingHistoryRecord::defaultsKey));
            break;
        }
        QVERIFY2(!writeNow && !deadline.hasExpired(), "the draft never landed");
        QThread::msleep(5);
    }
    QVERIFY(entry);
    QCOMPARE(MeetingHistoryRecord::fromJson(*entry).firstTurnID, std::optional<QUuid>(firstTurn));
}

QTEST_MAIN(tst_MeetingHistoryAcrossRestarts)
#include "tst_MeetingHistoryAcrossRestarts.moc"
