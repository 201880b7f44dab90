#include "platform/OneShotHttpConnection.h"

#include <QLocale>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace {

bool isSecure(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool isPlain(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
}

QByteArray hostField(const QUrl &url)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    const int defaultPort = isSecure(url) ? 443 : 80;
    const int port = url.port(defaultPort);
    if (port != defaultPort)
        host += ':' + QByteArray::number(port);
    return host;
}

// The language list Qt's HTTP stack sends for the system locale.
QByteArray acceptLanguage()
{
    QString locale = QLocale::system().name();
    locale.replace(QLatin1Char('_'), QLatin1Char('-'));
    if (locale == QLatin1String("C"))
        return "en,*";
    if (locale.startsWith(QLatin1String("en-")))
        return locale.toLatin1() + ",*";
    return locale.toLatin1() + ",en,*";
}

// The proxy Qt's HTTP stack takes from the list, as it does: the first HTTP proxy that can
// forward a plain request, or the first that can carry a connection of any kind (no proxy at
// all among them). Nothing when none suits.
struct ProxyChoice
{
    QNetworkProxy proxy;
    bool forwards = false;
};

std::optional<ProxyChoice> chooseProxy(const QList<QNetworkProxy> &proxies, bool secure)
{
    for (const QNetworkProxy &proxy : proxies) {
        if (!secure && (proxy.capabilities() & QNetworkProxy::CachingCapability)
            && (proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::HttpCachingProxy))
            return ProxyChoice{proxy, true};
        if (proxy.capabilities() & QNetworkProxy::TunnelingCapability)
            return ProxyChoice{proxy, false};
    }
    return std::nullopt;
}

bool holdsLineBreak(const QByteArray &text)
{
    return text.contains('\r') || text.contains('\n');
}

QNetworkReply::NetworkError replyErrorOf(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QNetworkReply::SslHandshakeFailedError;
    default:
        // As with Qt's stack: "network unreachable" and the like have no code of their own.
        return QNetworkReply::UnknownNetworkError;
    }
}

} // namespace

OneShotHttpConnection::OneShotHttpConnection(QNetworkRequest request, QByteArray method, std::optional<QByteArray> body,
                                             qint64 maximumBodySize, QNetworkCookieJar *cookieJar,
                                             QList<QNetworkProxy> proxies, QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_method(std::move(method))
    , m_body(std::move(body))
    , m_cookieJar(cookieJar)
    , m_proxies(std::move(proxies))
    // A caller that names its own codings reads the body itself.
    , m_parser(m_method.compare("HEAD", Qt::CaseInsensitive) == 0, maximumBodySize,
               !m_request.hasRawHeader("Accept-Encoding"))
{
}

OneShotHttpConnection::~OneShotHttpConnection()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

QByteArray OneShotHttpConnection::requestHead(const QNetworkRequest &request, const QByteArray &method,
                                              const std::optional<QByteArray> &body, QNetworkCookieJar *cookieJar,
                                              const std::optional<QNetworkProxy> &forwardingProxy)
{
    const QUrl url = request.url();
    QUrl targetUrl = url;
    if (targetUrl.path().isEmpty())
        targetUrl.setPath(QStringLiteral("/"));
    QUrl::FormattingOptions parts = QUrl::FullyEncoded | QUrl::RemoveFragment | QUrl::RemoveUserInfo;
    // A proxy is told the whole URL; the server itself only the path and query.
    if (!forwardingProxy)
        parts |= QUrl::RemoveScheme | QUrl::RemoveAuthority;
    const QByteArray target = targetUrl.toEncoded(parts);

    QByteArray head = method + ' ' + target + " HTTP/1.1\r\n";
    head += "Host: " + hostField(url) + "\r\n";
    if (forwardingProxy && !forwardingProxy->user().isEmpty() && !request.hasRawHeader("Proxy-Authorization")) {
        const QByteArray credentials = forwardingProxy->user().toUtf8() + ':' + forwardingProxy->password().toUtf8();
        head += "Proxy-Authorization: Basic " + credentials.toBase64() + "\r\n";
    }
    // Framing and the connection are this class's to state.
    static const QByteArray ownFields[] = {"Host", "Content-Length", "Transfer-Encoding", "Connection", "Expect"};
    const QList<QByteArray> names = request.rawHeaderList();
    for (const QByteArray &name : names) {
        bool own = false;
        for (const QByteArray &field : ownFields)
            own = own || name.compare(field, Qt::CaseInsensitive) == 0;
        if (!own)
            head += name + ": " + request.rawHeader(name) + "\r\n";
    }
    if (!request.hasRawHeader("User-Agent"))
        head += "User-Agent: Mozilla/5.0\r\n";
    if (!request.hasRawHeader("Accept-Language"))
        head += "Accept-Language: " + acceptLanguage() + "\r\n";
    if (!request.hasRawHeader("Accept-Encoding"))
        head += "Accept-Encoding: gzip, deflate\r\n";
    if (cookieJar && !request.hasRawHeader("Cookie")) {
        const QList<QNetworkCookie> cookies = cookieJar->cookiesForUrl(url);
        QByteArray pairs;
        for (const QNetworkCookie &cookie : cookies) {
            if (!pairs.isEmpty())
                pairs += "; ";
            pairs += cookie.toRawForm(QNetworkCookie::NameAndValueOnly);
        }
        if (!pairs.isEmpty())
            head += "Cookie: " + pairs + "\r\n";
    }
    if (body || method == "POST" || method == "PUT" || method == "PATCH")
        head += "Content-Length: " + QByteArray::number(body ? body->size() : 0) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

void OneShotHttpConnection::start()
{
    if (m_socket || m_finished)
        return;
    const QUrl url = m_request.url();
    std::optional<std::pair<QNetworkReply::NetworkError, QString>> refusal;
    if (!isPlain(url) && !isSecure(url))
        refusal = {QNetworkReply::ProtocolUnknownError, QStringLiteral("the scheme of %1 is not HTTP").arg(url.scheme())};
    else if (url.host().isEmpty())
        refusal = {QNetworkReply::HostNotFoundError, QStringLiteral("the URL names no host")};
    // A line break would end a line of the head early and let the rest pass for lines of its own.
    bool lineBreak = holdsLineBreak(m_method);
    const QList<QByteArray> names = m_request.rawHeaderList();
    for (const QByteArray &name : names)
        lineBreak = lineBreak || holdsLineBreak(name) || holdsLineBreak(m_request.rawHeader(name));
    if (lineBreak)
        refusal = {QNetworkReply::ProtocolInvalidOperationError, QStringLiteral("the request's head holds a line break")};
    const std::optional<ProxyChoice> proxy = chooseProxy(m_proxies, isSecure(url));
    if (!refusal && !proxy)
        refusal = {QNetworkReply::ProxyNotFoundError, QStringLiteral("No suitable proxy found")};
    if (refusal) {
        // Ends on the next turn, as a connection that fails would.
        QTimer::singleShot(0, this, [this, refusal] { finish(refusal->first, refusal->second); });
        return;
    }

    if (isSecure(url)) {
        auto *socket = new QSslSocket(this);
        QSslConfiguration configuration = m_request.sslConfiguration();
        configuration.setAllowedNextProtocols({QSslConfiguration::NextProtocolHttp1_1});
        socket->setSslConfiguration(configuration);
        connect(socket, &QSslSocket::encrypted, this, &OneShotHttpConnection::writeRequest);
        m_socket = socket;
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QAbstractSocket::connected, this, &OneShotHttpConnection::writeRequest);
    }
    // Each read takes at most this much from the system: the body's cap is checked between
    // reads, and one read of a fast server's bytes would otherwise take all the system holds.
    m_socket->setReadBufferSize(64 * 1024);
    connect(m_socket, &QIODevice::readyRead, this, &OneShotHttpConnection::readAvailable);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &OneShotHttpConnection::handleSocketError);
    connect(m_socket, &QAbstractSocket::disconnected, this, &OneShotHttpConnection::handleClosed);
    // The socket is told its proxy: left to itself it would ask for one for a bare connection
    // to the host, which is not what the manager asks for the URL.
    if (proxy->forwards) {
        m_forwardingProxy = proxy->proxy;
        m_socket->setProxy(QNetworkProxy::NoProxy);
        m_socket->connectToHost(proxy->proxy.hostName(), proxy->proxy.port());
        return;
    }
    QNetworkProxy tunnel = proxy->proxy;
    if (tunnel.type() == QNetworkProxy::HttpProxy) {
        // The proxy sees the same User-Agent as the server, as with Qt's stack.
        tunnel.setRawHeader("User-Agent", m_request.hasRawHeader("User-Agent") ? m_request.rawHeader("User-Agent")
                                                                              : QByteArray("Mozilla/5.0"));
    }
    m_socket->setProxy(tunnel);
    if (auto *socket = qobject_cast<QSslSocket *>(m_socket))
        socket->connectToHostEncrypted(url.host(), quint16(url.port(443)));
    else
        m_socket->connectToHost(url.host(), quint16(url.port(80)));
}

void OneShotHttpConnection::abort()
{
    finish(QNetworkReply::OperationCanceledError, QStringLiteral("aborted"));
}

void OneShotHttpConnection::writeRequest()
{
    // The one write of this exchange; nothing here ever writes the request again.
    if (m_written || m_finished)
        return;
    m_written = true;
    QByteArray bytes = requestHead(m_request, m_method, m_body, m_cookieJar.data(), m_forwardingProxy);
    if (m_body)
        bytes += *m_body;
    m_socket->write(bytes);
}

void OneShotHttpConnection::readAvailable()
{
    if (m_finished || !m_socket)
        return;
    m_parser.feed(m_socket->readAll());
    switch (m_parser.state()) {
    case HttpResponseParser::State::complete:
        finish(QNetworkReply::NoError, QString());
        return;
    case HttpResponseParser::State::failed:
        finish(isTooLarge() ? QNetworkReply::UnknownContentError : QNetworkReply::ProtocolFailure,
               m_parser.failureDetail());
        return;
    case HttpResponseParser::State::head:
    case HttpResponseParser::State::body:
        return;
    }
}

void OneShotHttpConnection::handleSocketError(QAbstractSocket::SocketError socketError)
{
    if (m_finished)
        return;
    if (socketError == QAbstractSocket::RemoteHostClosedError) {
        handleClosed();
        return;
    }
    readAvailable();
    if (m_finished)
        return;
    QNetworkReply::NetworkError error = replyErrorOf(socketError);
    // The connection that failed went to the proxy: it is the proxy that could not be reached.
    if (m_forwardingProxy && !m_written) {
        if (error == QNetworkReply::ConnectionRefusedError)
            error = QNetworkReply::ProxyConnectionRefusedError;
        else if (error == QNetworkReply::HostNotFoundError)
            error = QNetworkReply::ProxyNotFoundError;
    }
    finish(error, m_socket ? m_socket->errorString() : QString());
}

void OneShotHttpConnection::handleClosed()
{
    if (m_finished)
        return;
    // What the connection delivered before it ended still counts.
    readAvailable();
    if (m_finished)
        return;
    m_parser.finishInput();
    if (m_parser.isComplete())
        finish(QNetworkReply::NoError, QString());
    else
        finish(QNetworkReply::RemoteHostClosedError, m_parser.failureDetail());
}

void OneShotHttpConnection::finish(QNetworkReply::NetworkError error, const QString &errorString)
{
    if (m_finished)
        return;
    m_finished = true;
    m_error = error;
    m_errorString = errorString;
    if (error == QNetworkReply::NoError && m_cookieJar) {
        const QUrl url = m_request.url();
        for (const auto &field : m_parser.headers()) {
            if (field.first.compare("Set-Cookie", Qt::CaseInsensitive) == 0)
                m_cookieJar->setCookiesFromUrl(QNetworkCookie::parseCookies(field.second), url);
        }
    }
    // Nothing more is read or written: the answer is whole, or the exchange is over.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    Q_EMIT finished();
}
