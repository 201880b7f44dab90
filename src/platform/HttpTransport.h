#pragma once

#include "base/Cancellation.h"

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QPair>
#include <QPointer>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

#include <QNetworkAccessManager>

// A complete HTTP reply, whatever its status.
struct HttpReply
{
    int status = 0; // 0: the reply was not an HTTP reply (another URL scheme, a status outside 100-599)
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // as received, repeated fields kept apart
    QUrl url;

    // The first header with this name (case-insensitive), or nothing.
    std::optional<QByteArray> header(const QByteArray &name) const;
    // Every header with this name (case-insensitive), in order.
    QList<QByteArray> headerValues(const QByteArray &name) const;
};

// Sends one request and waits for the whole reply. GET, HEAD and OPTIONS go over a long-lived
// QNetworkAccessManager. Every other method changes something on the server, and Qt's HTTP
// stack sends a request again when its connection closes before the answer begins, so those
// go over a connection of their own (OneShotHttpConnection, with the manager's cookie jar and
// the proxy the manager would take), where they are written once: one call of send() reaches the server at most once.
// The time-out is our own timer: Qt reports its transfer time-out as a cancellation, which
// must not read as a user's cancel. Reply bodies are capped; each client sets the cap its
// largest answer needs.
class HttpTransport final
{
public:
    static constexpr std::chrono::milliseconds defaultTimeout{60000};
    static constexpr qint64 defaultMaximumBodySize = 4 * 1024 * 1024;

    explicit HttpTransport(QNetworkAccessManager *manager);

    QNetworkAccessManager *manager() const { return m_manager.data(); }
    std::chrono::milliseconds timeout() const { return m_timeout; }
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    qint64 maximumBodySize() const { return m_maximumBodySize; }
    void setMaximumBodySize(qint64 bytes) { m_maximumBodySize = bytes; }

    // Returns the reply for any HTTP status (status 0 for a reply that is not HTTP). Throws
    // NetworkError when no complete HTTP reply came (whatever status preceded a failed body, or
    // a body shorter than its Content-Length), and responseTooLarge (the exchange is aborted)
    // for a body over the cap. Throws CancellationError when the token is cancelled (the
    // request is aborted at once) and when the manager is destroyed before the reply ends.
    QCoro::Task<HttpReply> send(QNetworkRequest request, QByteArray method, std::optional<QByteArray> body,
                                CancellationToken token = CancellationToken()) const;

private:
    QPointer<QNetworkAccessManager> m_manager;
    std::chrono::milliseconds m_timeout = defaultTimeout;
    qint64 m_maximumBodySize = defaultMaximumBodySize;
};
