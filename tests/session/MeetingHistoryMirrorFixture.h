#pragma once

// A meeting history mirror over the fake backend, as the mirror's tests build it: signed in,
// a fixed clock, quick retries, the shown error message and the turns held by the test, the
// snapshot built from them the way the engine builds it. A test class derives from it (after
// QObject) and calls initFixture() and cleanupFixture() from its init() and cleanup().

#include "accounts/AuthService.h"
#include "services/MeetingSessionHistoryService.h"
#include "session/MeetingHistoryMirror.h"
#include "session/MeetingHistorySnapshotBuilder.h"
#include "support/FakeBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/TestAuth.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QUuid>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class MeetingHistoryMirrorFixture
{
protected:
    void initFixture();
    void cleanupFixture();
    // A new service and mirror over the same backend, the clock back at the start, as a new run
    // makes them.
    void makeMirror(AuthService *auth);
    // The mirror asks m_account who is signed in.
    void followTestAccount();
    void addTurn(const QString &text);
    bool waitIdle();
    int callCount(const QString &operation) const { return int(m_history->operationNames().count(operation)); }

    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeHistoryBackend> m_history;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<MeetingSessionHistoryService> m_service;
    std::unique_ptr<MeetingHistoryMirror> m_mirror;
    std::vector<SessionTurn> m_turns;
    std::optional<QString> m_errorMessage;
    QDateTime m_now;
    // Who is signed in, as the mirror asks it (only where a test sets the reader).
    std::optional<QString> m_account;
    QTemporaryDir m_settings;
};

inline void MeetingHistoryMirrorFixture::initFixture()
{
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_history = std::make_unique<FakeHistoryBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
    m_turns.clear();
    m_errorMessage.reset();
    makeMirror(m_auth.get());
}

inline void MeetingHistoryMirrorFixture::makeMirror(AuthService *auth)
{
    using namespace std::chrono_literals;
    m_mirror.reset();
    m_service = std::make_unique<MeetingSessionHistoryService>(auth);
    m_service->setRequestTimeout(2000ms);
    m_now = QDateTime(QDate(2026, 5, 4), QTime(10, 0), QTimeZone::utc());
    m_mirror = std::make_unique<MeetingHistoryMirror>(m_service.get(), [this] { return m_now; });
    MeetingHistoryMirror::Timings timings;
    timings.retryDelays = {5ms, 10ms, 20ms};
    timings.deferredRetryDelay = 60ms;
    m_mirror->setTimings(timings);
    m_mirror->setErrorMessageAccess([this] { return m_errorMessage; },
                                    [this](const std::optional<QString> &message) { m_errorMessage = message; });
    m_mirror->setSnapshotProvider([this](MeetingSessionHistoryStatus status, bool allowEmpty) {
        MeetingHistorySnapshotBuilder::Input input;
        input.turns = m_turns;
        input.startedAt = m_mirror->startedAt();
        input.endedAt = m_mirror->endedAt();
        input.source = m_mirror->source();
        input.clientSessionID = m_mirror->clientSessionID();
        input.now = m_now;
        return MeetingHistorySnapshotBuilder::snapshot(input, status, allowEmpty);
    });
}

inline void MeetingHistoryMirrorFixture::followTestAccount()
{
    m_mirror->setAccountReader([this]() -> QCoro::Task<std::optional<QString>> {
        const std::optional<QString> account = m_account;
        co_return account;
    });
}

inline void MeetingHistoryMirrorFixture::cleanupFixture()
{
    m_mirror.reset();
    m_service.reset();
    m_auth.reset();
    m_history.reset();
    m_backend.reset();
}

inline void MeetingHistoryMirrorFixture::addTurn(const QString &text)
{
    SessionTurn turn;
    turn.id = QUuid::createUuid();
    turn.text = text;
    turn.timestamp = QDateTime(QDate(2026, 5, 4), QTime(10, 0, int(m_turns.size())), QTimeZone::utc());
    turn.isClosed = true;
    m_turns.push_back(turn);
}

inline bool MeetingHistoryMirrorFixture::waitIdle()
{
    return FakeBackend::waitUntil([&] { return !m_mirror->saveTask().isValid() || m_mirror->saveTask().isFinished(); });
}
