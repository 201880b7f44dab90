// Whose a meeting is: the account signed in when it was recorded. Another account signing in on
// the same computer, in the same run or after a restart, sees nothing of it and sends nothing of
// it (history or usage); the meeting's own account, signing in again, has it saved at once. A
// meeting kept before accounts were kept goes with the first account that signs in. Nobody signed
// in means nothing listening: a sign-out stops the listening and keeps the meeting for its account.

#include "support/SessionCompanionFixture.h"

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "session/HandedOverMeetingStore.h"
#include "session/MeetingHistoryMirror.h"
#include "session/MeetingHistoryRecord.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "session/SignedInAccountFollower.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace SessionTest;

class tst_SignedInAccountFollower : public QObject, protected SessionCompanionFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { initFixture(); }
    void cleanup() { cleanupFixture(); }

    void aMeetingStaysWithItsAccount_data();
    void aMeetingStaysWithItsAccount();
    void aKeptMeetingAndItsUsageWaitForTheirAccount();
    void aMeetingKeptWithoutAnAccountGoesWithTheFirstSignIn();
    void aSignOutStopsTheListening_data();
    void aSignOutStopsTheListening();

private:
    // Whether the history holds the meeting of listeningWithHistoryDown() with its two turns,
    // completed, once.
    bool landedWhole() const;
};

bool tst_SignedInAccountFollower::landedWhole() const
{
    const QStringList ids = m_history->meetingIds();
    const std::optional<QJsonObject> record = ids.size() == 1 ? m_history->meeting(ids.first()) : std::nullopt;
    return record && record->value("status").toString() == QLatin1String("completed")
           && record->value("transcriptJson").toArray().size() == 2;
}

void tst_SignedInAccountFollower::aMeetingStaysWithItsAccount_data()
{
    QTest::addColumn<bool>("restarts");
    QTest::addColumn<bool>("sameAccount");
    QTest::newRow("Quit, restart, another account signs in") << true << false;
    QTest::newRow("another account signs in, then Quit") << false << false;
    QTest::newRow("Quit, restart, the same account signs in again") << true << true;
}

// Stopped while the history server is away, and signed out at once: the meeting is the account's
// that recorded it. Another account that signs in starts with an empty workspace and sends nothing
// of it, in this run or the next; the meeting's own account, signing in later, has it saved at once.
void tst_SignedInAccountFollower::aMeetingStaysWithItsAccount()
{
    QFETCH(bool, restarts);
    QFETCH(bool, sameAccount);
    const QString otherEmail = TestAuth::secondSession().user.email;
    auto model = listeningWithHistoryDown();
    QVERIFY(model);
    MeetingHistoryMirror::Timings timings = model->companionSet()->history()->timings();
    timings.deferredRetryDelay = std::chrono::hours(1);
    model->companionSet()->history()->setTimings(timings);
    addClosedTurn(*model, QStringLiteral("Said before the stop."));
    addClosedTurn(*model, QStringLiteral("Said while the server was away."));
    m_meetingClock = m_meetingClock.addSecs(60);
    model->stopActiveSession();
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && !model->isSystemAudioListening(); }, 5000));
    QVERIFY(QTest::qWaitFor([&] { return model->companionSet()->history()->saveTask().isFinished() && model->errorMessage(); },
                            5000));
    QVERIFY(runTask(m_auth->deleteSavedSession()).succeeded());
    m_history->clearScripts();
    if (restarts) {
        QVERIFY(runTask(model->stopActiveSessionAndWait()).succeeded());
        model.reset();
        model = makeModel();
        QCOMPARE(model->turnStore()->count(), 2);
    }

    QVERIFY(signIn(sameAccount ? TestAuth::defaultSession() : TestAuth::secondSession()));
    if (sameAccount) {
        QVERIFY(QTest::qWaitFor([&] { return landedWhole(); }, 5000));
        QCOMPARE(model->turnStore()->count(), 2);
        QCOMPARE(requestsSignedInAs(otherEmail), 0);
        return;
    }
    // Nothing of the meeting on the other account's screen, its notices included.
    QCOMPARE(model->turnStore()->count(), 0);
    QVERIFY(model->transcriptEntries().isEmpty());
    QVERIFY(model->subtitlesText().isEmpty());
    QVERIFY2(!model->errorMessage().value_or(QString()).contains(QStringLiteral("Said")), qPrintable(model->errorMessage().value_or(QString())));
    // Its quit tries every save once more: none of them with the other account's sign-in.
    QVERIFY(runTask(model->stopActiveSessionAndWait()).succeeded());
    QCOMPARE(requestsSignedInAs(otherEmail), 0);
    QCOMPARE(m_history->meetingCount(), 0);
    // Nor does the next run, that account still signed in.
    model.reset();
    model = makeModel();
    QCOMPARE(model->turnStore()->count(), 0);
    QVERIFY(runTask(model->stopActiveSessionAndWait()).succeeded());
    QCOMPARE(requestsSignedInAs(otherEmail), 0);
    QCOMPARE(m_history->meetingCount(), 0);

    // The meeting's own account signs in: it is saved without the user, every turn once, into
    // that account's history.
    QVERIFY(signIn(TestAuth::defaultSession()));
    QVERIFY(QTest::qWaitFor([&] { return landedWhole(); }, 5000));
    QCOMPARE(m_history->meeting(m_history->meetingIds().first())->value("workspaceId").toString(),
             QStringLiteral("ws-") + TestAuth::defaultSession().user.id);
    QCOMPARE(requestsSignedInAs(otherEmail), 0);
}

// A meeting that Start New handed over while the history server was away, and the usage report of
// its listening that a crash cut off, are kept on this computer with their account. The next run,
// started with another account signed in, sends neither and does not name the meeting; its own
// account's sign-in sends both, once.
void tst_SignedInAccountFollower::aKeptMeetingAndItsUsageWaitForTheirAccount()
{
    const QString crashed = m_directory.filePath(QStringLiteral("crashed-%1.ini").arg(m_testNumber));
    const QString otherEmail = TestAuth::secondSession().user.email;
    const QString ownEmail = TestAuth::defaultSession().user.email;
    bool billingAnswers = false;
    QStringList reportedBy;
    m_backend->route("POST", QString::fromLatin1(FakeBillingBackend::usageEventsPath), [&](const RecordedRequest &request) {
        if (!billingAnswers)
            return FakeResponse::hang();
        reportedBy.append(m_authBackend->accountOf(request).value_or(QString()));
        return FakeResponse::json(200, QJsonObject{{"accepted", 1}});
    });
    {
        auto model = listeningWithHistoryDown();
        QVERIFY(model);
        addClosedTurn(*model, QStringLiteral("Offline point of the first account."));
        addClosedTurn(*model, QStringLiteral("Its second point."));
        m_meetingClock = m_meetingClock.addSecs(45); // listened long enough to be reported
        // Start New with the history server away: the meeting is handed over, kept on this computer.
        model->startNewSession();
        QVERIFY(QTest::qWaitFor([&] { return !model->isBusy(); }, 5000));
        QCOMPARE(model->companionSet()->history()->handedOverCount(), 1);
        QVERIFY(copySettingsTo(crashed));
    }
    QVERIFY(signIn(TestAuth::secondSession()));
    m_history->clearScripts();
    billingAnswers = true;
    startFromSettings(crashed);
    auto restarted = makeModel();
    // The notice of the kept meeting names it by its first words: not on the other account's screen.
    QVERIFY2(QTest::qWaitFor([&] { return !restarted->errorMessage().value_or(QString()).contains(QStringLiteral("Offline point")); },
                             5000),
             qPrintable(restarted->errorMessage().value_or(QString())));
    QVERIFY(runTask(restarted->stopActiveSessionAndWait()).succeeded());
    QCOMPARE(requestsSignedInAs(otherEmail), 0);
    QCOMPARE(m_history->meetingCount(), 0);
    QVERIFY(reportedBy.isEmpty());

    QVERIFY(signIn(TestAuth::defaultSession()));
    QVERIFY(QTest::qWaitFor([&] { return landedWhole() && reportedBy.size() == 1; }, 5000));
    QCOMPARE(reportedBy, QStringList{ownEmail});
    QVERIFY(QTest::qWaitFor([&] { return !m_defaults->contains(QString::fromLatin1(HandedOverMeetingStore::defaultsKey)); }, 5000));
    QCOMPARE(requestsSignedInAs(otherEmail), 0);
}

// A meeting kept by a version that kept no account goes, as then, with the first account that
// signs in.
void tst_SignedInAccountFollower::aMeetingKeptWithoutAnAccountGoesWithTheFirstSignIn()
{
    const QByteArray entry = R"({"conversationGeneration":"0b8f6c1e-2d3a-4e5f-8a9b-0c1d2e3f4a5b",)"
        R"("startedAt":"2026-03-05T14:00:00.000Z","endedAt":"2026-03-05T14:00:00.000Z","source":"system_audio",)"
        R"("focusMode":false,"firstTurnId":"5C9F5B8E-3C2A-4B1D-9E8F-1A2B3C4D5E60","firstTurnAt":"2026-03-05T14:00:00.000Z"})";
    m_defaults->setData(QString::fromLatin1(SessionDraftStore::defaultsKey), oneTurnDraft());
    m_defaults->setData(QString::fromLatin1(MeetingHistoryRecord::defaultsKey), entry);
    QVERIFY(runTask(m_auth->deleteSavedSession()).succeeded());
    auto model = makeModel();
    QCOMPARE(model->turnStore()->count(), 1);

    QVERIFY(signIn(TestAuth::secondSession()));
    const auto record = [this] {
        const QStringList ids = m_history->meetingIds();
        return ids.size() == 1 ? m_history->meeting(ids.first()).value_or(QJsonObject()) : QJsonObject();
    };
    QVERIFY(QTest::qWaitFor([&] { return record().value("status").toString() == QLatin1String("completed"); }, 5000));
    QCOMPARE(record().value("workspaceId").toString(), QStringLiteral("ws-") + TestAuth::secondSession().user.id);
    QCOMPARE(model->turnStore()->count(), 1);
}

void tst_SignedInAccountFollower::aSignOutStopsTheListening_data()
{
    QTest::addColumn<bool>("refused");
    QTest::newRow("the user signs out") << false;
    QTest::newRow("a refresh refused for good") << true;
}

// The session ends while listening: the listening stops as Stop stops it, once, and the meeting
// stays on screen, kept for its account, which has it saved when it signs in again.
void tst_SignedInAccountFollower::aSignOutStopsTheListening()
{
    QFETCH(bool, refused);
    auto model = listeningWithHistoryDown();
    QVERIFY(model);
    AuthSessionStore store(m_auth.get());
    runTask(store.restored());
    QVERIFY(store.isAuthenticated());
    QSignalSpy stopped(model->companionSet()->accounts(), &SignedInAccountFollower::listeningStoppedBySignOut);
    addClosedTurn(*model, QStringLiteral("Said before the stop."));
    addClosedTurn(*model, QStringLiteral("Said while the server was away."));
    m_meetingClock = m_meetingClock.addSecs(60);
    m_history->clearScripts();

    if (refused) {
        QJsonObject refusal{{"error", "invalid_grant"}, {"error_description", "The refresh token was revoked."}};
        m_authBackend->failNext(FakeAuthBackend::refreshPath, FakeResponse::json(401, refusal), 1);
        QVERIFY(runTask(m_auth->refreshSession(store.session()->refreshToken)).failed());
    } else {
        store.signOut();
    }
    QVERIFY(QTest::qWaitFor([&] { return !store.isAuthenticated() && !store.isSigningOut(); }, 5000));
    QVERIFY(QTest::qWaitFor([&] { return !model->isBusy() && !model->hasActiveSession(); }, 5000));
    QVERIFY(!model->isSystemAudioListening());
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(model->turnStore()->count(), 2);
    // Its record is not finished with nobody signed in.
    QTest::qWait(100);
    QVERIFY(!landedWhole());

    QVERIFY(signIn(TestAuth::defaultSession()));
    QVERIFY(QTest::qWaitFor([&] { return landedWhole(); }, 5000));
    QVERIFY(!model->hasActiveSession());
    QCOMPARE(stopped.count(), 1);
}

QTEST_MAIN(tst_SignedInAccountFollower)
#include "tst_SignedInAccountFollower.moc"
