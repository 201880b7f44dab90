#pragma once

#include "accounts/AppConfigurationStore.h"
#include "accounts/KavrelBackendProxyError.h"
#include "accounts/ChatCompletionMessages.h"
#include "base/Cancellation.h"
#include "platform/HttpTransport.h"

#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class AuthService;
class QNetworkAccessManager;

// The authenticated path to the backend's AI and live-speech relays: sends chat
// completions to the proxy and builds the requests of the relay websockets. Every call
// takes a fresh token from AuthService::activeSession() and resolves the base URL anew.
// Each client owns its own instance; it holds no state between calls.
class KavrelBackendProxyService final : public QObject
{
    Q_OBJECT

public:
    using QueryItems = QList<QPair<QString, QString>>;

    static constexpr const char *chatCompletionsPath = "/api/ai/deepseek/chat/completions";

    // Resolves the base URL with the auth service's configuration store.
    explicit KavrelBackendProxyService(AuthService *authService, QObject *parent = nullptr);
    KavrelBackendProxyService(AuthService *authService, AppConfigurationStore configuration, QObject *parent = nullptr);
    ~KavrelBackendProxyService() override;

    // Time-out of chat completions and of the websocket requests built here (60 s).
    void setRequestTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds requestTimeout() const { return m_transport.timeout(); }

    // POSTs the request to the chat-completion proxy and decodes the answer. Throws
    // KavrelBackendProxyError, NetworkError for transport failures, and CancellationError
    // when the token is cancelled (the request is aborted).
    QCoro::Task<KavrelChatCompletionResponse> performChatCompletion(KavrelChatCompletionRequest request,
                                                                    CancellationToken token = CancellationToken());

    // The request for a relay websocket at path: scheme wss for an https base URL and ws
    // otherwise, the query items in order, and the Authorization, Cookie (refresh token)
    // and Origin headers. It does not connect. Throws KavrelBackendProxyError.
    QCoro::Task<QNetworkRequest> makeWebSocketRequest(QString path, QueryItems queryItems);

    // The backend's web origin for the Origin header: the base URL without path, query and
    // fragment, with a leading "api." dropped from the host; the port stays.
    static std::optional<QString> preferredWebSocketOrigin(const QUrl &baseURL);
    // The base URL's own path and path joined with single slashes, the scheme replaced
    // when given, and the query items in order (no "?" without items). Throws
    // KavrelBackendProxyError::invalidRequest.
    static QUrl makeURL(const QUrl &base, const QString &path, const std::optional<QString> &schemeOverride,
                        const QueryItems &queryItems);

private:
    struct ProxyContext
    {
        QUrl baseURL;
        QString accessToken;
        QString refreshToken;
        QString origin;
    };

    QCoro::Task<ProxyContext> proxyContext();
    static std::optional<QString> parsedErrorMessage(const QByteArray &body);

    QPointer<AuthService> m_authService;
    AppConfigurationStore m_configuration;
    QNetworkAccessManager *m_manager = nullptr;
    HttpTransport m_transport;
};
