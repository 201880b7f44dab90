#include "platform/HttpTransport.h"

#include "base/Async.h"
#include "base/KavrelError.h"
#include "platform/NetworkError.h"
#include "platform/OneShotHttpConnection.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QTimer>

#include <coroutine>
#include <memory>

namespace {

// How much of a body Qt's stack may hold unread; more comes as this is read.
constexpr qint64 readBufferSize = 64 * 1024;

struct SendState
{
    bool timedOut = false;
    bool cancelled = false;
    bool tooLarge = false;
    // The reply was deleted without finishing: its network access manager went away.
    bool destroyed = false;
    bool resumed = false;
    std::coroutine_handle<> handle;
    QByteArray body;
};

// Waits for an exchange (a QNetworkReply or a OneShotHttpConnection) to finish or to be
// deleted, whichever comes first. One deleted with its manager never emits finished; the
// waiter then resumes on the next turn, outside the destructor that is running.
template<typename Exchange>
class ExchangeEndAwaiter
{
public:
    ExchangeEndAwaiter(Exchange *exchange, std::shared_ptr<SendState> state)
        : m_exchange(exchange), m_state(std::move(state)) {}

    bool await_ready() const noexcept { return m_exchange->isFinished(); }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_state->handle = handle;
        auto state = m_state;
        QObject::connect(m_exchange, &Exchange::finished, m_exchange, [state] {
            if (state->resumed)
                return;
            state->resumed = true;
            state->handle.resume();
        });
        QObject::connect(m_exchange, &QObject::destroyed, [state] {
            if (state->resumed)
                return;
            state->resumed = true;
            state->destroyed = true;
            kavrel::detail::resumeLater(state->handle);
        });
    }
    void await_resume() const noexcept {}

private:
    Exchange *m_exchange;
    std::shared_ptr<SendState> m_state;
};

// One exchange from its start to its end: our own time-out and the caller's token end it with
// abort(), and it is deleted (later) when the send is over, unless it went with its manager.
template<typename Exchange>
class ExchangeWatch
{
public:
    ExchangeWatch(Exchange *exchange, std::chrono::milliseconds timeout, CancellationToken token)
        : m_exchange(exchange), m_token(std::move(token)), m_state(std::make_shared<SendState>())
    {
        auto state = m_state;
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, exchange, [state, exchange] {
            state->timedOut = true;
            exchange->abort();
        });
        if (timeout.count() > 0)
            m_timer.start(timeout);
        // Abort on the next event-loop turn, not inside cancel(): the canceller finishes its
        // own work before this coroutine runs again.
        QPointer<Exchange> weakExchange(exchange);
        m_callbackId = m_token.onCancel([state, weakExchange] {
            state->cancelled = true;
            QTimer::singleShot(0, weakExchange.data(), [weakExchange] {
                if (weakExchange)
                    weakExchange->abort();
            });
        });
    }
    ~ExchangeWatch()
    {
        stopWatching();
        if (m_exchange)
            m_exchange->deleteLater();
    }
    ExchangeWatch(const ExchangeWatch &) = delete;
    ExchangeWatch &operator=(const ExchangeWatch &) = delete;

    const std::shared_ptr<SendState> &state() const { return m_state; }
    ExchangeEndAwaiter<Exchange> end() const { return ExchangeEndAwaiter<Exchange>(m_exchange.data(), m_state); }

    // Once the exchange has ended: a cancel, or the manager gone with the exchange, throws
    // CancellationError; our time-out throws NetworkError.
    void throwIfEndedUnanswered()
    {
        stopWatching();
        if (m_state->destroyed || m_state->cancelled || m_token.isCancelled())
            throw CancellationError();
        if (m_state->timedOut)
            throw NetworkError(NetworkError::Kind::timedOut, QNetworkReply::TimeoutError, QStringLiteral("timed out"));
    }

private:
    void stopWatching()
    {
        m_timer.stop();
        if (m_watchingToken)
            m_token.removeCallback(m_callbackId);
        m_watchingToken = false;
    }

    QPointer<Exchange> m_exchange;
    CancellationToken m_token;
    std::shared_ptr<SendState> m_state;
    QTimer m_timer;
    CancellationToken::CallbackId m_callbackId{};
    bool m_watchingToken = true;
};

NetworkError::Kind kindOf(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return NetworkError::Kind::cannotConnect;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return NetworkError::Kind::connectionLost;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return NetworkError::Kind::timedOut;
    default:
        return NetworkError::Kind::other;
    }
}

// Whether the reply's error is a failure of the transfer rather than something its status
// stands for. With a 2xx status there is nothing else an error can be (a decompression failure,
// for one, arrives as UnknownContentError). With other statuses Qt gives errors of its own: for
// 400 and above one per status (404 ContentNotFoundError, 400 ProtocolInvalidOperationError …),
// for a redirect it could not follow one about the redirect; only a broken connection, proxy or
// protocol counts there.
bool isTransferFailure(QNetworkReply::NetworkError code, int status)
{
    if (status >= 200 && status < 300)
        return true;
    if (code == QNetworkReply::TooManyRedirectsError || code == QNetworkReply::InsecureRedirectError)
        return false;
    const int number = int(code);
    return number < 200 || code == QNetworkReply::ProtocolFailure;
}

// The body length the answer's head promised, where it binds: not for a HEAD request or a
// status without a body, nor beside a chunked transfer. (A body Qt decompresses comes without
// the header: its length was that of the compressed bytes.)
std::optional<qint64> promisedBodyLength(const QNetworkReply &reply, const QByteArray &method, int status)
{
    if (method.compare("HEAD", Qt::CaseInsensitive) == 0 || status < 200 || status == 204 || status == 304)
        return std::nullopt;
    if (reply.hasRawHeader("Transfer-Encoding"))
        return std::nullopt;
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    if (!length.isValid())
        return std::nullopt;
    return length.toLongLong();
}

// A status line without a status code HTTP knows (such as "000") is no HTTP answer.
int knownStatusOrZero(int code)
{
    return code >= 100 && code <= 599 ? code : 0;
}

// Qt's HTTP stack, with its connection reuse (and its resending of a request whose connection
// closed before the answer began).
QCoro::Task<HttpReply> sendThroughManager(QNetworkAccessManager *manager, QNetworkRequest request, QByteArray method,
                                          std::optional<QByteArray> body, std::chrono::milliseconds timeout,
                                          qint64 limit, CancellationToken token)
{
    // Our own timer decides about time-outs; Qt's would surface as OperationCanceledError.
    request.setTransferTimeout(0);
    QNetworkReply *raw = body ? manager->sendCustomRequest(request, method, *body)
                              : manager->sendCustomRequest(request, method);
    // Qt's HTTP thread hands the body over to this thread as fast as the server sends it, and
    // a busy event loop lets those hand-overs pile up unread (Qt gathers them all before it
    // says that anything is ready). With a bounded read buffer it waits until what it handed
    // over has been read, so the cap below is checked while the body is still small.
    raw->setReadBufferSize(readBufferSize);
    ExchangeWatch<QNetworkReply> watch(raw, timeout, token);
    const std::shared_ptr<SendState> state = watch.state();
    // A body that does not decompress is an error Qt reports but does not end on: the
    // transfer would go on until the server stops sending.
    QObject::connect(raw, &QNetworkReply::errorOccurred, raw, [raw] {
        QMetaObject::invokeMethod(raw, [raw] {
            if (!raw->isFinished())
                raw->abort();
        }, Qt::QueuedConnection);
    });

    // The body is taken as it arrives, and the exchange stops as soon as it is certain to
    // pass the limit: a decoder never sees more than that, and memory stays bounded.
    auto readAvailable = [state, raw, limit] {
        if (state->tooLarge)
            return;
        const QVariant announced = raw->header(QNetworkRequest::ContentLengthHeader);
        const qint64 available = raw->bytesAvailable();
        if ((announced.isValid() && announced.toLongLong() > limit) || state->body.size() + available > limit) {
            state->tooLarge = true;
            raw->abort();
            return;
        }
        if (available > 0)
            state->body.append(raw->read(available));
    };
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, readAvailable);
    QObject::connect(raw, &QNetworkReply::readyRead, raw, readAvailable);
    // Only the body of the last answer of a followed redirect counts.
    QObject::connect(raw, &QNetworkReply::redirected, raw, [state] { state->body.clear(); });

    co_await watch.end();
    watch.throwIfEndedUnanswered();
    readAvailable();
    if (state->tooLarge)
        throw NetworkError(NetworkError::Kind::responseTooLarge, QNetworkReply::UnknownContentError,
                           QStringLiteral("the reply is larger than %1 bytes").arg(limit));

    // A status line does not make a reply: a connection that drops in the middle of the body,
    // or a compressed body that does not decompress, leaves a status and a part of the body
    // (or none) behind. Only a failure that an HTTP status itself stands for (404, 500 …)
    // is an answer.
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A body shorter than its head promised was cut off. When the connection closes right
    // after the part that came, Qt reports either the broken transfer or a finished answer
    // with the status's own error, whichever event it handles first; the count decides.
    if (status.isValid()) {
        const std::optional<qint64> promised = promisedBodyLength(*raw, method, status.toInt());
        if (promised && state->body.size() < *promised)
            throw NetworkError(NetworkError::Kind::connectionLost, QNetworkReply::RemoteHostClosedError,
                               QStringLiteral("the reply ended after %1 of the %2 bytes it announced")
                                   .arg(state->body.size())
                                   .arg(*promised));
    }
    const QNetworkReply::NetworkError failure = raw->error();
    if (failure != QNetworkReply::NoError && (!status.isValid() || isTransferFailure(failure, status.toInt())))
        throw NetworkError(kindOf(failure), failure, raw->errorString());

    HttpReply result;
    result.status = knownStatusOrZero(status.isValid() ? status.toInt() : 0);
    result.body = std::move(state->body);
    result.headers = raw->rawHeaderPairs();
    result.url = raw->url();
    co_return result;
}

// The proxies the manager would consider for a request to this URL, as it asks for them: its
// own factory, else its own proxy, else the application's settings (which read the system's
// and the environment's).
QList<QNetworkProxy> proxiesFor(const QNetworkAccessManager &manager, const QUrl &url)
{
    const QNetworkProxyQuery query(url);
    if (QNetworkProxyFactory *factory = manager.proxyFactory()) {
        QList<QNetworkProxy> proxies = factory->queryProxy(query);
        if (proxies.isEmpty())
            proxies.append(QNetworkProxy(QNetworkProxy::NoProxy));
        return proxies;
    }
    if (manager.proxy().type() != QNetworkProxy::DefaultProxy)
        return {manager.proxy()};
    return QNetworkProxyFactory::proxyForQuery(query);
}

// A connection of the request's own, on which the request is written once.
QCoro::Task<HttpReply> sendOnItsOwnConnection(QNetworkAccessManager *manager, QNetworkRequest request, QByteArray method,
                                              std::optional<QByteArray> body, std::chrono::milliseconds timeout,
                                              qint64 limit, CancellationToken token)
{
    // A child of the manager, so that it ends with the client that owns the manager.
    auto *raw = new OneShotHttpConnection(request, method, body, limit, manager->cookieJar(),
                                          proxiesFor(*manager, request.url()), manager);
    ExchangeWatch<OneShotHttpConnection> watch(raw, timeout, token);
    raw->start();
    co_await watch.end();
    watch.throwIfEndedUnanswered();
    if (raw->isTooLarge())
        throw NetworkError(NetworkError::Kind::responseTooLarge, QNetworkReply::UnknownContentError,
                           QStringLiteral("the reply is larger than %1 bytes").arg(limit));
    // A body cut short, a connection that closed before the answer, bytes that are not HTTP.
    if (raw->error() != QNetworkReply::NoError)
        throw NetworkError(kindOf(raw->error()), raw->error(), raw->errorString());

    const HttpResponseParser &answer = raw->parser();
    HttpReply result;
    result.status = knownStatusOrZero(answer.status().value_or(0));
    result.body = answer.body();
    result.headers = answer.headers();
    result.url = request.url();
    co_return result;
}

// Methods that change nothing on the server: Qt may send them again as it sees fit.
bool isSafeToRepeat(const QByteArray &method)
{
    return method == "GET" || method == "HEAD" || method == "OPTIONS";
}

} // namespace

std::optional<QByteArray> HttpReply::header(const QByteArray &name) const
{
    for (const auto &field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return std::nullopt;
}

QList<QByteArray> HttpReply::headerValues(const QByteArray &name) const
{
    QList<QByteArray> values;
    for (const auto &field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            values.append(field.second);
    }
    return values;
}

HttpTransport::HttpTransport(QNetworkAccessManager *manager)
    : m_manager(manager)
{
}

QCoro::Task<HttpReply> HttpTransport::send(QNetworkRequest request, QByteArray method, std::optional<QByteArray> body,
                                           CancellationToken token) const
{
    token.throwIfCancelled();
    QNetworkAccessManager *manager = m_manager.data();
    // The client that owned the manager is gone.
    if (!manager)
        throw CancellationError();
    const std::chrono::milliseconds timeout = m_timeout;
    const qint64 limit = m_maximumBodySize;
    if (isSafeToRepeat(method)) {
        HttpReply reply = co_await sendThroughManager(manager, request, method, body, timeout, limit, token);
        co_return reply;
    }
    HttpReply reply = co_await sendOnItsOwnConnection(manager, request, method, body, timeout, limit, token);
    co_return reply;
}
