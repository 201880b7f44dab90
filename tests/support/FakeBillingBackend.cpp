#include "support/FakeBillingBackend.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include <algorithm>

namespace {

QString isoText(const QDateTime &date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"));
}

const QStringList requiredEventStrings{
    QStringLiteral("eventId"), QStringLiteral("clientSessionId"), QStringLiteral("sourceApp"),
    QStringLiteral("usageType"), QStringLiteral("startedAt"), QStringLiteral("endedAt"),
};

} // namespace

FakeBillingBackend::FakeBillingBackend(FakeBackend *backend, const QString &pathPrefix, QObject *parent)
    : QObject(parent)
    , m_backend(backend)
    , m_prefix(pathPrefix)
    , m_now(QDateTime(QDate(2025, 3, 1), QTime(10, 0), QTimeZone::utc()))
{
    m_backend->route("*", m_prefix + QString::fromLatin1(summaryPath), [this](const RecordedRequest &request) {
        return handleSummary(request);
    });
    m_backend->route("*", m_prefix + QString::fromLatin1(usageEventsPath), [this](const RecordedRequest &request) {
        return handleUsageEvents(request);
    });
}

void FakeBillingBackend::failNext(const QString &path, const FakeResponse &response)
{
    m_failures[m_prefix + path].append(response);
}

FakeResponse FakeBillingBackend::problem(int status, std::optional<QString> title, std::optional<QString> detail)
{
    QJsonObject body;
    body.insert(QStringLiteral("type"), QStringLiteral("about:blank"));
    if (title)
        body.insert(QStringLiteral("title"), *title);
    if (detail)
        body.insert(QStringLiteral("detail"), *detail);
    body.insert(QStringLiteral("status"), status);
    FakeResponse response = FakeResponse::json(status, body);
    response.headers.clear();
    response.withHeader("Content-Type", "application/problem+json");
    return response;
}

std::optional<FakeResponse> FakeBillingBackend::precheck(const QString &path, const RecordedRequest &request)
{
    auto failures = m_failures.find(path);
    if (failures != m_failures.end() && !failures->isEmpty())
        return failures->takeFirst();
    if (request.header("Authorization") != "Bearer " + m_accessToken.toUtf8())
        return problem(401, QStringLiteral("Unauthorized"), QStringLiteral("A valid access token is required."));
    return std::nullopt;
}

QJsonObject FakeBillingBackend::subscriptionJson() const
{
    return QJsonObject{
        {QStringLiteral("planCode"), QStringLiteral("pro-monthly")},
        {QStringLiteral("planName"), QStringLiteral("Pro")},
        {QStringLiteral("status"), QStringLiteral("active")},
        {QStringLiteral("startedAt"), QStringLiteral("2025-01-01T00:00:00Z")},
        {QStringLiteral("lastSuccessfulPaymentAt"), QJsonValue::Null},
        {QStringLiteral("currentPeriodStart"), QStringLiteral("2025-03-01T00:00:00Z")},
        {QStringLiteral("currentPeriodEnd"), QStringLiteral("2025-04-01T00:00:00.000Z")},
        {QStringLiteral("cancelAtPeriodEnd"), false},
    };
}

QJsonObject FakeBillingBackend::usageJson() const
{
    const qint64 remaining = std::max<qint64>(0, m_includedSeconds - m_usedSeconds);
    return QJsonObject{
        {QStringLiteral("meteringUnit"), QStringLiteral("second")},
        {QStringLiteral("includedSeconds"), m_includedSeconds},
        {QStringLiteral("usedSeconds"), m_usedSeconds},
        {QStringLiteral("remainingSeconds"), remaining},
        {QStringLiteral("includedMinutes"), m_includedSeconds / 60},
        {QStringLiteral("usedMinutes"), (m_usedSeconds + 59) / 60},
        {QStringLiteral("remainingMinutes"), remaining / 60},
        {QStringLiteral("isLimitReached"), remaining == 0},
        {QStringLiteral("canUseTranscription"), remaining > 0},
    };
}

QJsonObject FakeBillingBackend::summaryJson() const
{
    return QJsonObject{
        {QStringLiteral("serverTime"), isoText(m_now)},
        {QStringLiteral("subscription"), subscriptionJson()},
        {QStringLiteral("usage"), usageJson()},
    };
}

FakeResponse FakeBillingBackend::handleSummary(const RecordedRequest &request)
{
    if (auto early = precheck(m_prefix + QString::fromLatin1(summaryPath), request))
        return *early;
    if (request.method != "GET")
        return problem(405, QStringLiteral("Method Not Allowed"), std::nullopt);
    return FakeResponse::json(200, summaryJson());
}

FakeResponse FakeBillingBackend::handleUsageEvents(const RecordedRequest &request)
{
    if (auto early = precheck(m_prefix + QString::fromLatin1(usageEventsPath), request))
        return *early;
    if (request.method != "POST")
        return problem(405, QStringLiteral("Method Not Allowed"), std::nullopt);
    const QJsonDocument document = QJsonDocument::fromJson(request.body);
    if (!document.isObject() || !document.object().value(QStringLiteral("events")).isArray())
        return problem(400, QStringLiteral("Bad Request"), QStringLiteral("The body must hold an \"events\" array."));

    qint64 accepted = 0;
    qint64 duplicates = 0;
    QJsonArray rejected;
    for (const QJsonValue &value : document.object().value(QStringLiteral("events")).toArray()) {
        const QJsonObject event = value.toObject();
        const QString eventId = event.value(QStringLiteral("eventId")).toString();
        QString reason;
        for (const QString &key : requiredEventStrings) {
            if (!event.value(key).isString())
                reason = QStringLiteral("missing_%1").arg(key);
        }
        if (event.contains(QStringLiteral("meetingSessionId")) && !event.value(QStringLiteral("meetingSessionId")).isString())
            reason = QStringLiteral("invalid_meetingSessionId");
        const QJsonValue duration = event.value(QStringLiteral("durationSeconds"));
        if (!duration.isDouble() || duration.toDouble() < 0 || duration.toDouble() != double(duration.toInteger()))
            reason = QStringLiteral("invalid_duration");
        if (!reason.isEmpty()) {
            QJsonObject entry{{QStringLiteral("reason"), reason}, {QStringLiteral("detail"), QJsonValue::Null}};
            if (!eventId.isEmpty())
                entry.insert(QStringLiteral("eventId"), eventId);
            rejected.append(entry);
            continue;
        }
        if (m_events.contains(eventId)) {
            ++duplicates;
            continue;
        }
        m_events.insert(eventId, event);
        m_usedSeconds += duration.toInteger();
        ++accepted;
    }

    return FakeResponse::json(200, QJsonObject{
                                       {QStringLiteral("acceptedEvents"), accepted},
                                       {QStringLiteral("duplicateEvents"), duplicates},
                                       {QStringLiteral("rejectedEvents"), rejected},
                                       {QStringLiteral("serverTime"), isoText(m_now)},
                                       {QStringLiteral("subscription"), subscriptionJson()},
                                       {QStringLiteral("usage"), usageJson()},
                                   });
}
