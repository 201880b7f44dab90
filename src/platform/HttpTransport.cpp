#include "platform/HttpTransport.h"

#include "base/KavrelError.h"
#include "platform/NetworkError.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <qcoro/qcoronetworkreply.h>

#include <memory>

namespace {

struct ReplyDeleter
{
    void operator()(QNetworkReply *reply) const
    {
        if (reply)
            reply->deleteLater();
    }
};

struct SendState
{
    bool timedOut = false;
    bool cancelled = false;
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
    if (!manager)
        throw NetworkError(NetworkError::Kind::other, QNetworkReply::UnknownNetworkError, QStringLiteral("no network access"));

    // Our own timer decides about time-outs; Qt's would surface as OperationCanceledError.
    request.setTransferTimeout(0);
    QNetworkReply *raw = body ? manager->sendCustomRequest(request, method, *body)
                              : manager->sendCustomRequest(request, method);
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(raw);
    auto state = std::make_shared<SendState>();

    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, raw, [state, raw] {
        state->timedOut = true;
        raw->abort();
    });
    if (m_timeout.count() > 0)
        timer.start(m_timeout);

    // Abort on the next event-loop turn, not inside cancel(): the canceller finishes its
    // own work before this coroutine runs again.
    QPointer<QNetworkReply> weakReply(raw);
    const CancellationToken::CallbackId callbackId = token.onCancel([state, weakReply] {
        state->cancelled = true;
        QTimer::singleShot(0, weakReply.data(), [weakReply] {
            if (weakReply)
                weakReply->abort();
        });
    });

    co_await raw;

    token.removeCallback(callbackId);
    timer.stop();

    if (state->cancelled || token.isCancelled())
        throw CancellationError();
    if (state->timedOut)
        throw NetworkError(NetworkError::Kind::timedOut, QNetworkReply::TimeoutError, QStringLiteral("timed out"));

    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() && raw->error() != QNetworkReply::NoError)
        throw NetworkError(kindOf(raw->error()), raw->error(), raw->errorString());

    HttpReply result;
    // A status line without a status code HTTP knows (such as "000") is no HTTP answer.
    const int code = status.isValid() ? status.toInt() : 0;
    result.status = code >= 100 && code <= 599 ? code : 0;
    result.body = raw->readAll();
    result.headers = raw->rawHeaderPairs();
    result.url = raw->url();
    co_return result;
}
