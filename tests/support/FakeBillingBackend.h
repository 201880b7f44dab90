#pragma once

// The backend's billing API on top of FakeBackend: a plan with included listening time,
// the usage summary and the usage-event endpoint with de-duplication by event id and
// rejection of malformed events. Errors are problem+json bodies; the next answer of an
// endpoint can be replaced.

#include "support/FakeBackend.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

class FakeBillingBackend final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *summaryPath = "/api/billing/summary";
    static constexpr const char *usageEventsPath = "/api/billing/usage-events";

    // Installs the routes under the prefix (such as "/base"; empty for the root) on the
    // backend, which must outlive this object.
    explicit FakeBillingBackend(FakeBackend *backend, const QString &pathPrefix = QString(), QObject *parent = nullptr);

    // Only this bearer token is accepted ("test-access-token" unless set).
    void setAccessToken(const QString &token) { m_accessToken = token; }
    void setNow(const QDateTime &now) { m_now = now; }
    void setIncludedSeconds(qint64 seconds) { m_includedSeconds = seconds; }
    qint64 usedSeconds() const { return m_usedSeconds; }
    // The stored events by id, as they arrived.
    QHash<QString, QJsonObject> events() const { return m_events; }

    // The next request to the path gets this answer instead of the store's.
    void failNext(const QString &path, const FakeResponse &response);

    // A problem-details error body ("application/problem+json"); absent members are left out.
    static FakeResponse problem(int status, std::optional<QString> title, std::optional<QString> detail);

    // The summary the store would answer now.
    QJsonObject summaryJson() const;

private:
    FakeResponse handleSummary(const RecordedRequest &request);
    FakeResponse handleUsageEvents(const RecordedRequest &request);
    std::optional<FakeResponse> precheck(const QString &path, const RecordedRequest &request);
    QJsonObject subscriptionJson() const;
    QJsonObject usageJson() const;

    FakeBackend *m_backend;
    QString m_prefix;
    QString m_accessToken = QStringLiteral("test-access-token");
    QDateTime m_now;
    qint64 m_includedSeconds = 3600;
    qint64 m_usedSeconds = 0;
    QHash<QString, QJsonObject> m_events;
    QHash<QString, QList<FakeResponse>> m_failures;
};
