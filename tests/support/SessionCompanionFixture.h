#pragma once

// A view model with its background companions over the fake backend, as the tests of what the
// companions keep (the meeting record, the usage report, the draft) build it: signed in, audio
// sources faked, the draft written soon after each change and the stable rewrite held off.
// Each test starts from a settings file of its own. A test class derives from it (after
// QObject) and calls initFixture() and cleanupFixture() from its init() and cleanup().

#include "session/SessionTestFakes.h"

#include <QDateTime>
#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class AuthService;
struct AuthSession;
class FakeAuthBackend;
class FakeBackend;
class FakeBillingBackend;
class FakeHistoryBackend;

class SessionCompanionFixture
{
protected:
    SessionCompanionFixture();
    ~SessionCompanionFixture();

    void initFixture();
    void cleanupFixture();

    std::unique_ptr<SubtitleViewModel> makeModel();
    void addClosedTurn(SubtitleViewModel &model, const QString &text);
    std::optional<QJsonObject> lastUpdateInput() const;
    bool waitForSaves(SubtitleViewModel &model);
    // History and usage requests that carried a token of the account with this e-mail.
    int requestsSignedInAs(const QString &email) const;
    // A model listening while every history save fails on the network, with quick retries;
    // nothing when listening did not start.
    std::unique_ptr<SubtitleViewModel> listeningWithHistoryDown();
    // Signs in as the session's user the way the program does (by a refresh token the backend
    // knows, which saves a session); the history and billing backends take the new token.
    bool signIn(AuthSession session);
    // A stored draft of one closed turn ("First point.", 2026-03-05 14:00:00 UTC), as a run that
    // ended left it.
    static QByteArray oneTurnDraft();
    // Copies the settings file and its journal, as they are on disk now, to the path.
    bool copySettingsTo(const QString &path) const;
    // What follows starts from the settings at the path.
    void startFromSettings(const QString &path);

    QTemporaryDir m_directory;
    int m_testNumber = 0;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<KavrelLocalizationStore> m_localization;
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_authBackend;
    std::unique_ptr<FakeHistoryBackend> m_history;
    std::unique_ptr<FakeBillingBackend> m_billing;
    std::unique_ptr<AuthService> m_auth;
    SessionTest::Trace m_trace;
    // The meeting clock of listeningWithHistoryDown().
    QDateTime m_meetingClock;
    int m_signIns = 0;
};
