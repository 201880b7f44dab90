#pragma once

// The meeting history service over the fake backend, signed in to workspace-1, as its tests
// build it, and the snapshot those tests start meetings with. A test class derives from the
// fixture (after QObject) and calls initFixture() and cleanupFixture() from its init() and
// cleanup(); the cleanup fails a test that sent a document the fake server does not know.

#include "accounts/AuthService.h"
#include "services/MeetingSessionHistoryService.h"
#include "support/FakeBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/TestAuth.h"

#include <QDateTime>
#include <QTest>
#include <QTimeZone>

#include <memory>
#include <optional>

namespace MeetingSessionHistoryTest {

// JSON written with single quotes, to keep the expected bodies readable.
inline QByteArray j(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

inline QDateTime utc(int day, int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(2025, 3, day), QTime(hour, minute, second, ms), QTimeZone::utc());
}

inline MeetingSessionHistorySnapshot snapshot(std::optional<QString> clientSessionId = QStringLiteral("kavrel-macos-history-1"))
{
    MeetingSessionHistorySnapshot s;
    s.startedAt = utc(14, 9, 26, 53, 480);
    s.durationSeconds = 5;
    s.status = MeetingSessionHistoryStatus::active;
    s.inputLanguage = QStringLiteral("en");
    s.recordingEnabled = true;
    s.sessionParams.client = QStringLiteral("macos");
    s.sessionParams.source = QStringLiteral("system_audio");
    s.sessionParams.clientSessionId = std::move(clientSessionId);
    return s;
}

} // namespace MeetingSessionHistoryTest

class MeetingSessionHistoryFixture
{
protected:
    void initFixture();
    void cleanupFixture();

    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeHistoryBackend> m_history;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<MeetingSessionHistoryService> m_service;
};

inline void MeetingSessionHistoryFixture::initFixture()
{
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_history = std::make_unique<FakeHistoryBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
    m_service = std::make_unique<MeetingSessionHistoryService>(m_auth.get());
}

inline void MeetingSessionHistoryFixture::cleanupFixture()
{
    QVERIFY2(m_history->documentMismatches().isEmpty(), qPrintable(m_history->documentMismatches().join(", ")));
    m_service.reset();
    m_auth.reset();
    m_history.reset();
    m_backend.reset();
}
