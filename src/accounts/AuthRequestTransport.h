#pragma once

#include "accounts/AuthMessages.h"
#include "base/Cancellation.h"
#include "platform/HttpTransport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class QNetworkAccessManager;
class QNetworkCookieJar;

// The one request path of the auth client: JSON in and out, an optional bearer token,
// readable messages mined from failed replies, session replies and the refresh-token
// cookie. Owns the auth client's network access manager and its cookie jar.
class AuthRequestTransport final
{
public:
    static constexpr const char *refreshTokenCookieName = "norvantis_refresh_token";

    explicit AuthRequestTransport(QObject *owner);
    ~AuthRequestTransport();

    QNetworkAccessManager *manager() const { return m_manager; }
    QNetworkCookieJar *cookieJar() const { return m_cookieJar; }
    void setTimeout(std::chrono::milliseconds timeout) { m_http.setTimeout(timeout); }

    // Returns a reply of status 200-299 (its body may be empty). Throws NetworkError and
    // CancellationError from the transport, AuthServiceError::invalidResponse for a reply
    // that is not HTTP, and AuthServiceError::requestFailed with the mined message for
    // any other status.
    QCoro::Task<HttpReply> performRawJSONRequest(QUrl url, QByteArray method, std::optional<QByteArray> bodyData,
                                                 std::optional<QString> bearerToken,
                                                 CancellationToken token = CancellationToken()) const;

    // Throws AuthServiceError::invalidResponse for an empty or undecodable body.
    static SessionResponse decodeSessionResponse(const QByteArray &body, const QDateTime &now);

    // The refresh token set by the reply: first from the cookie jar for the reply's URL,
    // then from its Set-Cookie fields.
    std::optional<QString> refreshToken(const HttpReply &reply) const;
    // The refresh token in Set-Cookie field values (each may hold several cookies joined
    // by commas or line breaks).
    static std::optional<QString> refreshTokenFromSetCookie(const QList<QByteArray> &fieldValues);

    // The message of a failed reply: the error body's message, else the body text, else
    // "Auth backend request failed with status <code>.".
    static QString failureMessage(int status, const QByteArray &body);

private:
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkCookieJar *m_cookieJar = nullptr;
    HttpTransport m_http;
};
