#include "services/KavrelBillingService.h"

#include "accounts/AuthorizedRequest.h"
#include "accounts/AuthService.h"
#include "base/Dates.h"
#include "base/Json.h"
#include "base/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QStringDecoder>

namespace {

// An RFC 9457 problem-details error body.
struct ProblemDetail
{
    std::optional<QString> title;
    std::optional<QString> detail;
    std::optional<qint64> status;

    static ProblemDetail fromJsonBytes(const QByteArray &body)
    {
        const JsonReader reader = JsonReader::parse(body);
        ProblemDetail problem;
        problem.title = reader.optionalString(QStringLiteral("title"));
        problem.detail = reader.optionalString(QStringLiteral("detail"));
        problem.status = reader.optionalInteger(QStringLiteral("status"));
        return problem;
    }

    // "title: detail", or whichever of the two is not blank.
    std::optional<QString> resolvedMessage() const
    {
        const QString trimmedTitle = title ? Text::trimmed(*title) : QString();
        const QString trimmedDetail = detail ? Text::trimmed(*detail) : QString();
        if (!trimmedTitle.isEmpty() && !trimmedDetail.isEmpty())
            return trimmedTitle + QStringLiteral(": ") + trimmedDetail;
        if (!trimmedDetail.isEmpty())
            return trimmedDetail;
        if (!trimmedTitle.isEmpty())
            return trimmedTitle;
        return std::nullopt;
    }
};

QString failureMessage(int status, const QByteArray &body)
{
    try {
        if (auto message = ProblemDetail::fromJsonBytes(body).resolvedMessage())
            return *message;
    } catch (const JsonDecodeError &) {
        // Not problem details; the body text speaks for itself.
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = Text::trimmed(decoder.decode(body));
    // A gateway's page in place of the backend's answer is not shown as the message.
    if (!decoder.hasError() && Text::isWrittenForPeople(text))
        return text;
    return QStringLiteral("Billing request failed with status %1.").arg(status);
}

template<typename T>
T decodeReply(const QByteArray &body)
{
    if (body.isEmpty())
        throw KavrelBillingServiceError::invalidResponse();
    try {
        const QJsonDocument document = QJsonDocument::fromJson(body);
        if (!document.isObject())
            throw KavrelBillingServiceError::invalidResponse();
        return T::fromJson(document.object());
    } catch (const JsonDecodeError &) {
        throw KavrelBillingServiceError::invalidResponse();
    }
}

} // namespace

KavrelBillingService::KavrelBillingService(AuthService *authService, QObject *parent)
    : KavrelBillingService(authService, authService ? authService->configurationStore() : AppConfigurationStore(nullptr), parent)
{
}

KavrelBillingService::KavrelBillingService(AuthService *authService, AppConfigurationStore configuration, QObject *parent)
    : QObject(parent)
    , m_authService(authService)
    , m_configuration(std::move(configuration))
    , m_manager(new QNetworkAccessManager(this))
    , m_transport(m_manager)
{
}

KavrelBillingService::~KavrelBillingService() = default;

void KavrelBillingService::setRequestTimeout(std::chrono::milliseconds timeout)
{
    m_transport.setTimeout(timeout);
}

QCoro::Task<KavrelBillingService::Configuration> KavrelBillingService::makeConfiguration(std::optional<QString> accountID)
{
    QPointer<KavrelBillingService> self(this);
    QPointer<AuthService> authService = m_authService;
    if (!authService)
        throw KavrelBillingServiceError::authenticationRequired();
    QString accessToken;
    bool signedIn = false;
    try {
        const AuthSession session = co_await authService->activeSession();
        accessToken = session.accessToken;
        signedIn = !accountID || session.user.id == *accountID;
    } catch (...) {
        // Whatever went wrong, the user has to sign in (again) to see billing data.
    }
    // The owner may have dropped this service while a refresh ran.
    if (!self)
        throw CancellationError();
    if (!signedIn)
        throw KavrelBillingServiceError::authenticationRequired();
    co_return configurationForToken(accessToken);
}

KavrelBillingService::Configuration KavrelBillingService::configurationForToken(QString accessToken) const
{
    const QString text = m_configuration.resolvedValue(AppConfigurationKind::authBackendBaseURL);
    const QUrl base(text, QUrl::StrictMode);
    if (!base.isValid() || base.isRelative() || base.host().isEmpty())
        throw KavrelBillingServiceError::invalidBackendBaseURL(text);
    Configuration configuration;
    configuration.baseURL = base;
    configuration.accessToken = accessToken;
    return configuration;
}

QUrl KavrelBillingService::endpointURL(const QUrl &baseURL, const QString &path)
{
    QUrl url = baseURL;
    QString joined = baseURL.path();
    if (!joined.endsWith(QLatin1Char('/')))
        joined.append(QLatin1Char('/'));
    joined.append(path);
    url.setPath(joined);
    return url;
}

QCoro::Task<QByteArray> KavrelBillingService::performRequest(QUrl url, QByteArray method, std::optional<QByteArray> body,
                                                             QString accessToken, CancellationToken token)
{
    const QNetworkRequest request = AuthorizedRequest::json(url, accessToken);

    const HttpReply reply = co_await m_transport.send(request, method, body, token);
    if (reply.status == 0)
        throw KavrelBillingServiceError::invalidResponse();
    if (reply.status < 200 || reply.status > 299)
        throw KavrelBillingServiceError::requestFailed(failureMessage(reply.status, reply.body));
    co_return reply.body;
}

QCoro::Task<KavrelBillingSummary> KavrelBillingService::fetchSummary(CancellationToken token)
{
    QPointer<KavrelBillingService> self(this);
    const Configuration configuration = co_await makeConfiguration();
    if (!self)
        throw CancellationError();
    const QUrl url = endpointURL(configuration.baseURL, QString::fromLatin1(summaryPath));
    const QByteArray body = co_await performRequest(url, QByteArrayLiteral("GET"), std::nullopt,
                                                    configuration.accessToken, token);
    co_return decodeReply<KavrelBillingSummary>(body);
}

QCoro::Task<KavrelBillingSummary> KavrelBillingService::fetchSummary(QString accessToken, CancellationToken token)
{
    const Configuration configuration = configurationForToken(accessToken);
    const QUrl url = endpointURL(configuration.baseURL, QString::fromLatin1(summaryPath));
    const QByteArray body = co_await performRequest(url, QByteArrayLiteral("GET"), std::nullopt,
                                                    configuration.accessToken, token);
    co_return decodeReply<KavrelBillingSummary>(body);
}

QCoro::Task<KavrelBillingUsageBatchResponse> KavrelBillingService::reportUsageEvents(QList<KavrelBillingUsageEvent> events,
                                                                                     CancellationToken token,
                                                                                     std::optional<QString> accountID)
{
    QPointer<KavrelBillingService> self(this);
    const Configuration configuration = co_await makeConfiguration(accountID);
    if (!self)
        throw CancellationError();

    QJsonArray eventsJson;
    for (const KavrelBillingUsageEvent &event : events)
        eventsJson.append(event.toJson());
    QJsonObject requestJson;
    requestJson.insert(QStringLiteral("events"), eventsJson);
    const std::optional<QByteArray> body = QJsonDocument(requestJson).toJson(QJsonDocument::Compact);

    const QUrl url = endpointURL(configuration.baseURL, QString::fromLatin1(usageEventsPath));
    const QByteArray reply = co_await performRequest(url, QByteArrayLiteral("POST"), body, configuration.accessToken, token);
    co_return decodeReply<KavrelBillingUsageBatchResponse>(reply);
}
