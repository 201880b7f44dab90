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
};
