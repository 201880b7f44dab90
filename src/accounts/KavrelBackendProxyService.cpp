#include "accounts/KavrelBackendProxyService.h"

#include "accounts/AuthorizedRequest.h"
#include "accounts/AuthService.h"
#include "base/Json.h"
#include "base/Text.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QStringDecoder>
#include <QUrlQuery>

namespace {

QString trimmedSlashes(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start) == QLatin1Char('/'))
        ++start;
    while (end > start && text.at(end - 1) == QLatin1Char('/'))
        --end;
    return text.mid(start, end - start);
}

bool isUsableBaseURL(const QUrl &url)
{
    return url.isValid() && !url.isRelative() && !url.host().isEmpty();
}

} // namespace

KavrelBackendProxyService::KavrelBackendProxyService(AuthService *authService, QObject *parent)
    : KavrelBackendProxyService(authService, authService->configurationStore(), parent)
{
}

KavrelBackendProxyService::KavrelBackendProxyService(AuthService *authService, AppConfigurationStore configuration,
                                                     QObject *parent)
    : QObject(parent)
    , m_authService(authService)
    , m_configuration(std::move(configuration))
    , m_manager(new QNetworkAccessManager(this))
    , m_transport(m_manager)
{
}

KavrelBackendProxyService::~KavrelBackendProxyService() = default;

void KavrelBackendProxyService::setRequestTimeout(std::chrono::milliseconds timeout)
{
    m_transport.setTimeout(timeout);
}

std::optional<QString> KavrelBackendProxyService::preferredWebSocketOrigin(const QUrl &baseURL)
{
    if (!baseURL.isValid())
        return std::nullopt;
    QUrl origin = baseURL;
    const QString host = origin.host();
    if (host.startsWith(QLatin1String("api.")))
        origin.setHost(host.mid(4));
    origin.setPath(QString());
    origin.setQuery(QString());
    origin.setFragment(QString());
    if (!origin.isValid())
        return std::nullopt;
    const QString text = origin.toString(QUrl::FullyEncoded);
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

QUrl KavrelBackendProxyService::makeURL(const QUrl &base, const QString &path, const std::optional<QString> &schemeOverride,
                                        const QueryItems &queryItems)
{
    if (!base.isValid())
        throw KavrelBackendProxyError::invalidRequest();
    QUrl url = base;
    QStringList parts;
    const QString basePath = trimmedSlashes(base.path());
    const QString extraPath = trimmedSlashes(path);
    if (!basePath.isEmpty())
        parts.append(basePath);
    if (!extraPath.isEmpty())
        parts.append(extraPath);
    url.setPath(QLatin1Char('/') + parts.join(QLatin1Char('/')));
    if (schemeOverride)
        url.setScheme(*schemeOverride);
    if (queryItems.isEmpty()) {
        url.setQuery(QString());
    } else {
        QUrlQuery query;
        query.setQueryItems(queryItems);
        url.setQuery(query);
    }
    if (!url.isValid())
        throw KavrelBackendProxyError::invalidRequest();
    return url;
}

QCoro::Task<KavrelBackendProxyService::ProxyContext> KavrelBackendProxyService::proxyContext()
{
    // The session comes first: a signed-out user is told to sign in, whatever else is wrong.
    QPointer<KavrelBackendProxyService> self(this);
    QPointer<AuthService> service = m_authService;
    std::optional<AuthSession> session;
    if (service) {
        try {
            session = co_await service->activeSession();
        } catch (...) {
            // Whatever kept the token provider from answering, the user has to sign in.
        }
    }
    // The owner may have dropped this proxy while a refresh ran.
    if (!self)
        throw CancellationError();
    if (!session)
        throw KavrelBackendProxyError::authenticationRequired();

    const QUrl baseURL(m_configuration.resolvedValue(AppConfigurationKind::authBackendBaseURL), QUrl::StrictMode);
    const std::optional<QString> origin = isUsableBaseURL(baseURL) ? preferredWebSocketOrigin(baseURL) : std::nullopt;
    if (!isUsableBaseURL(baseURL) || !origin)
        throw KavrelBackendProxyError::invalidBackendBaseURL(m_configuration.resolvedValue(AppConfigurationKind::authBackendBaseURL));

    ProxyContext context;
    context.baseURL = baseURL;
    context.accessToken = session->accessToken;
    context.refreshToken = session->refreshToken;
    context.origin = *origin;
    co_return context;
}

std::optional<QString> KavrelBackendProxyService::parsedErrorMessage(const QByteArray &body)
{
    try {
        const JsonReader envelope = JsonReader::parse(body);
        const JsonReader error = envelope.object(QStringLiteral("error"));
        if (auto message = Text::nilIfEmpty(error.optionalString(QStringLiteral("message"))))
            return message;
    } catch (const KavrelError &) {
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(body);
    // A gateway's page in place of the backend's answer is not shown as the message.
    if (decoder.hasError() || !Text::isWrittenForPeople(text))
        return std::nullopt;
    return Text::nilIfEmpty(text);
}

QCoro::Task<KavrelChatCompletionResponse> KavrelBackendProxyService::performChatCompletion(KavrelChatCompletionRequest request,
                                                                                          CancellationToken token)
{
    const ProxyContext context = co_await proxyContext();
    token.throwIfCancelled();
    const QUrl url = makeURL(context.baseURL, QString::fromLatin1(chatCompletionsPath), std::nullopt, QueryItems());

    const QNetworkRequest networkRequest = AuthorizedRequest::json(url, context.accessToken);
    const QByteArray body = QJsonDocument(request.toJson()).toJson(QJsonDocument::Compact);

    const HttpReply reply = co_await m_transport.send(networkRequest, "POST", body, token);
    if (reply.status == 0)
        throw KavrelBackendProxyError::invalidResponse();
    if (reply.status < 200 || reply.status > 299) {
        const QString message = parsedErrorMessage(reply.body)
                                    .value_or(QStringLiteral("КАВРЕЛ backend request failed with status %1.").arg(reply.status));
        throw KavrelBackendProxyError::serverError(message, reply.status);
    }
    if (reply.body.isEmpty())
        throw KavrelBackendProxyError::invalidResponse();
    try {
        co_return KavrelChatCompletionResponse::fromJson(JsonReader::parse(reply.body).object());
    } catch (const KavrelError &) {
        throw KavrelBackendProxyError::invalidResponse();
    }
}

QCoro::Task<QNetworkRequest> KavrelBackendProxyService::makeWebSocketRequest(QString path, QueryItems queryItems)
{
    const ProxyContext context = co_await proxyContext();
    const QString scheme = context.baseURL.scheme() == QLatin1String("https") ? QStringLiteral("wss") : QStringLiteral("ws");
    const QUrl url = makeURL(context.baseURL, path, scheme, queryItems);

    QNetworkRequest request(url);
    // Carries the 60 s time-out to whoever opens the socket.
    request.setTransferTimeout(int(m_transport.timeout().count()));
    AuthorizedRequest::authorize(request, context.accessToken);
    request.setRawHeader("Cookie", "norvantis_refresh_token=" + context.refreshToken.toUtf8());
    request.setRawHeader("Origin", context.origin.toUtf8());
    co_return request;
}
