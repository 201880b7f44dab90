#pragma once

#include "platform/HttpResponseParser.h"

#include <QAbstractSocket>
#include <QByteArray>
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
// Host, Content-Length, the cookies of the jar for its URL, and the same User-Agent and
// Accept-Language where the request has none. Set-Cookie fields of the answer go into the jar.
// Redirects are not followed (a redirect is an answer like any other), and no compressed body
// is asked for.
//
// Main thread only.
class OneShotHttpConnection final : public QObject
{
    Q_OBJECT

public:
    OneShotHttpConnection(QNetworkRequest request, QByteArray method, std::optional<QByteArray> body,
                          qint64 maximumBodySize, QNetworkCookieJar *cookieJar, QObject *parent = nullptr);
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

    // The request as it goes on the wire: the head and the body.
    static QByteArray requestHead(const QNetworkRequest &request, const QByteArray &method,
                                  const std::optional<QByteArray> &body, QNetworkCookieJar *cookieJar);

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
    HttpResponseParser m_parser;
    QAbstractSocket *m_socket = nullptr;
    bool m_written = false;
    bool m_finished = false;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    QString m_errorString;
};
