#include "accounts/AuthRequestTransport.h"

#include "accounts/AuthMessages.h"
#include "accounts/AuthServiceError.h"
#include "base/Json.h"
#include "base/Text.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QStringDecoder>

namespace {

std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Percent-decoding that fails on a malformed escape or bytes that are not UTF-8.
std::optional<QString> percentDecoded(const QByteArray &raw)
{
    QByteArray bytes;
    bytes.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw.at(i);
        if (c != '%') {
            bytes.append(c);
            continue;
        }
        if (i + 2 >= raw.size())
            return std::nullopt;
        const int high = Text::hexDigitValue(raw.at(i + 1));
        const int low = Text::hexDigitValue(raw.at(i + 2));
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.append(char(high * 16 + low));
        i += 2;
    }
    return strictUtf8(bytes);
}

} // namespace

AuthRequestTransport::AuthRequestTransport(QObject *owner)
    : m_manager(new QNetworkAccessManager(owner))
    , m_cookieJar(new QNetworkCookieJar(m_manager))
    , m_http(m_manager)
{
    m_manager->setCookieJar(m_cookieJar);
}

AuthRequestTransport::~AuthRequestTransport() = default;

QCoro::Task<HttpReply> AuthRequestTransport::performRawJSONRequest(QUrl url, QByteArray method,
                                                                   std::optional<QByteArray> bodyData,
                                                                   std::optional<QString> bearerToken,
                                                                   CancellationToken token) const
{
    QNetworkRequest request(url);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Accept", "application/json");
    if (bearerToken && !bearerToken->isEmpty())
        request.setRawHeader("Authorization", "Bearer " + bearerToken->toUtf8());

    HttpReply reply = co_await m_http.send(request, method, bodyData, token);
    if (reply.status == 0)
        throw AuthServiceError::invalidResponse();
    if (reply.status >= 200 && reply.status <= 299)
        co_return reply;
    throw AuthServiceError::requestFailed(failureMessage(reply.status, reply.body), reply.status);
}

QString AuthRequestTransport::failureMessage(int status, const QByteArray &body)
{
    if (const auto decoded = APIErrorResponse::decode(body)) {
        if (auto message = decoded->resolvedMessage())
            return *message;
    }
    // A gateway's page in place of the backend's answer is not shown as the message.
    if (const auto text = strictUtf8(body); text && Text::isWrittenForPeople(*text))
        return *text;
    return QStringLiteral("Auth backend request failed with status %1.").arg(status);
}

SessionResponse AuthRequestTransport::decodeSessionResponse(const QByteArray &body, const QDateTime &now)
{
    if (body.isEmpty())
        throw AuthServiceError::invalidResponse();
    try {
        return SessionResponse::fromJson(JsonReader::parse(body).object(), now);
    } catch (const KavrelError &) {
        throw AuthServiceError::invalidResponse();
    }
}

std::optional<QString> AuthRequestTransport::refreshToken(const HttpReply &reply) const
{
    if (reply.url.isValid() && m_cookieJar) {
        const QList<QNetworkCookie> cookies = m_cookieJar->cookiesForUrl(reply.url);
        for (const QNetworkCookie &cookie : cookies) {
            if (cookie.name() != refreshTokenCookieName)
                continue;
            if (auto value = Text::nilIfEmpty(QString::fromUtf8(cookie.value())))
                return value;
            break;
        }
    }
    return refreshTokenFromSetCookie(reply.headerValues("Set-Cookie"));
}

std::optional<QString> AuthRequestTransport::refreshTokenFromSetCookie(const QList<QByteArray> &fieldValues)
{
    const QByteArray prefix = QByteArray(refreshTokenCookieName) + '=';
    for (const QByteArray &fieldValue : fieldValues) {
        // Several Set-Cookie fields may arrive joined by line breaks or by commas; an
        // Expires date contains a comma too, and its pieces simply do not match.
        const QList<QByteArray> lines = fieldValue.split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> pieces = line.split(',');
            for (const QByteArray &rawPiece : pieces) {
                const QString pieceText = Text::trimmed(QString::fromUtf8(rawPiece));
                const QByteArray piece = pieceText.toUtf8();
                if (!piece.startsWith(prefix))
                    continue;
                QByteArray rawValue = piece.mid(prefix.size());
                const qsizetype semicolon = rawValue.indexOf(';');
                if (semicolon >= 0)
                    rawValue.truncate(semicolon);
                if (const auto decoded = percentDecoded(rawValue)) {
                    if (auto value = Text::nilIfEmpty(*decoded))
                        return value;
                }
                if (auto value = Text::nilIfEmpty(QString::fromUtf8(rawValue)))
                    return value;
            }
        }
    }
    return std::nullopt;
}
