#pragma once

#include "platform/HttpResponseParser.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QNetworkCookieJar;

// One HTTP/1.1 exchange over a connection of its own (TLS for https), for a request that must
// not reach the server twice. Qt's HTTP stack (6.4) writes a request again, on a new connection,
// whenever its connection closes before the status line of the answer is whole, whatever the
// method: a request the server carried out and whose answer got lost is then carried out twice.
// Here the request is written once, to one connection; when that connection ends before the
// answer is whole, the exchange fails and it is the caller's rules that decide about another
// attempt.
//
// The request goes out as QNetworkAccessManager would send it: the request's own header fields,
// Host, Content-Length, the cookies of the jar for its URL, and the same User-Agent,
// Accept-Language and Accept-Encoding where the request has none; a body in gzip or deflate is
// then decoded. It takes the road the manager would: through the first of the proxies the
// manager's settings give for the URL that suits it (a plain request goes to an HTTP proxy in
// absolute form, anything else through a tunnel the proxy opens), or direct. Set-Cookie fields
// of the answer go into the jar. Redirects are not followed (a redirect is an answer like any
// other).
//
// Main thread only.
class OneShotHttpConnection final : public QObject
{
    Q_OBJECT

public:
    // proxies: what the manager's proxy settings give for the request's URL, in order.
    OneShotHttpConnection(QNetworkRequest request, QByteArray method, std::optional<QByteArray> body,
                          qint64 maximumBodySize, QNetworkCookieJar *cookieJar, QList<QNetworkProxy> proxies,
                          QObject *parent = nullptr);
    ~OneShotHttpConnection() override;

    // Connects and writes the request. Ends with finished(), always on a later turn.
    void start();
    // Ends the exchange now (finished() follows at once) with OperationCanceledError.
    void abort();

    bool isFinished() const { return m_finished; }
    // The answer, once finished without an error.
    const HttpResponseParser &parser() const { return m_parser; }
    QNetworkReply::NetworkError error() const { return m_error; }
    QString errorString() const { return m_errorString; }
    // The body passed the cap; the exchange was aborted.
    bool isTooLarge() const { return m_parser.failure() == HttpResponseParser::Failure::tooLarge; }

    // The head of the request as it goes on the wire; forwardingProxy, when there is one, is the
    // HTTP proxy a plain request is handed to.
    static QByteArray requestHead(const QNetworkRequest &request, const QByteArray &method,
                                  const std::optional<QByteArray> &body, QNetworkCookieJar *cookieJar,
                                  const std::optional<QNetworkProxy> &forwardingProxy = std::nullopt);

Q_SIGNALS:
    void finished();

private:
    void writeRequest();
    void readAvailable();
    void handleSocketError(QAbstractSocket::SocketError socketError);
    void handleClosed();
    void finish(QNetworkReply::NetworkError error, const QString &errorString);

    QNetworkRequest m_request;
    QByteArray m_method;
    std::optional<QByteArray> m_body;
    QPointer<QNetworkCookieJar> m_cookieJar;
    QList<QNetworkProxy> m_proxies;
    std::optional<QNetworkProxy> m_forwardingProxy;
    HttpResponseParser m_parser;
    QAbstractSocket *m_socket = nullptr;
    bool m_written = false;
    bool m_finished = false;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    QString m_errorString;
};
