#pragma once

#include "accounts/AppConfigurationStore.h"
#include "base/Cancellation.h"
#include "platform/HttpTransport.h"
#include "services/KavrelBillingServiceError.h"
#include "services/BillingMessages.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class AuthService;

// The client of the backend's billing API: the plan and usage summary, and listening time
// reported as usage events. One request per call; no cache, no retry.
//
// Failures: KavrelBillingServiceError, NetworkError (no HTTP answer, or the request
// time-out) and CancellationError.
class KavrelBillingService final : public QObject
{
    Q_OBJECT

public:
    struct Configuration
    {
        QUrl baseURL;
        QString accessToken;
    };

    static constexpr const char *summaryPath = "api/billing/summary";
    static constexpr const char *usageEventsPath = "api/billing/usage-events";

    // Resolves the base URL with the auth service's configuration store.
    explicit KavrelBillingService(AuthService *authService, QObject *parent = nullptr);
    KavrelBillingService(AuthService *authService, AppConfigurationStore configuration, QObject *parent = nullptr);
    ~KavrelBillingService() override;

    // Time-out of every request (60 s unless set).
    void setRequestTimeout(std::chrono::milliseconds timeout);

    // With the signed-in session's token; without one: authenticationRequired, nothing sent.
    QCoro::Task<KavrelBillingSummary> fetchSummary(CancellationToken token = CancellationToken());
    // With the caller's token, sent as it is.
    QCoro::Task<KavrelBillingSummary> fetchSummary(QString accessToken, CancellationToken token = CancellationToken());
    // Sends {"events": [...]}, an empty list too. With an account, only with that account's
    // session: while another one, or none, is signed in, authenticationRequired, nothing sent.
    QCoro::Task<KavrelBillingUsageBatchResponse> reportUsageEvents(QList<KavrelBillingUsageEvent> events,
                                                                   CancellationToken token = CancellationToken(),
                                                                   std::optional<QString> accountID = std::nullopt);

    // The token of the signed-in session (any failure there, or a session of another account
    // than the one given: authenticationRequired) and the base URL (invalidBackendBaseURL when
    // it does not parse).
    QCoro::Task<Configuration> makeConfiguration(std::optional<QString> accountID = std::nullopt);
    // The same for a token the caller already holds.
    Configuration configurationForToken(QString accessToken) const;

private:
    // Returns the body of a 2xx answer; throws the mapped error of any other status.
    QCoro::Task<QByteArray> performRequest(QUrl url, QByteArray method, std::optional<QByteArray> body, QString accessToken,
                                           CancellationToken token);
    static QUrl endpointURL(const QUrl &baseURL, const QString &path);

    QPointer<AuthService> m_authService;
    AppConfigurationStore m_configuration;
    QNetworkAccessManager *m_manager = nullptr;
    HttpTransport m_transport;
};
