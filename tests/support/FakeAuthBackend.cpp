#include "support/FakeAuthBackend.h"

#include "support/TestTotp.h"

#include "accounts/AuthSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

namespace {

// The fixed code keeps older tests short; an authenticator computing from the secret works too.
bool acceptsTotpCode(const QString &code)
{
    return code == QLatin1String(FakeAuthBackend::totpCode)
        || TestTotp::accepts(QLatin1String(FakeAuthBackend::totpSecret), code);
}

} // namespace

FakeAuthBackend::FakeAuthBackend(FakeBackend *backend, QObject *parent)
    : QObject(parent)
    , m_backend(backend)
{
    installRoutes();
}

QString FakeAuthBackend::isoDate(const QDateTime &date, bool fractional)
{
    const QString format = fractional ? QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'") : QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'");
    return date.toUTC().toString(format);
}

FakeResponse FakeAuthBackend::errorReply(int status, const QString &key, const QString &text)
{
    QJsonObject body;
    body.insert(key, text);
    body.insert(QStringLiteral("statusCode"), status);
    return FakeResponse::json(status, body);
}

void FakeAuthBackend::addAccount(const QString &email, const QString &password, const QString &name, bool withAuthenticator)
{
    Account account;
    account.id = QStringLiteral("user-%1").arg(++m_serial);
    account.email = email;
    account.password = password;
    account.name = name;
    account.withAuthenticator = withAuthenticator;
    m_accounts.insert(email, account);
}

void FakeAuthBackend::loseNextAnswers(const char *path, int count)
{
    m_answersToLose.insert(QString::fromLatin1(path), count);
}

void FakeAuthBackend::failNext(const char *path, const FakeResponse &response, int count)
{
    m_failures.insert(QString::fromLatin1(path), {response, count});
}

bool FakeAuthBackend::accountHasAuthenticator(const QString &email) const
{
    return m_accounts.value(email).withAuthenticator;
}

void FakeAuthBackend::registerSession(const AuthSession &session)
{
    if (!m_accounts.contains(session.user.email)) {
        Account account;
        account.id = session.user.id;
        account.email = session.user.email;
        account.password = QStringLiteral("unused-password");
        account.name = session.user.displayName;
        m_accounts.insert(account.email, account);
    }
    m_refreshTokens.insert(session.refreshToken, session.user.email);
    m_accessTokens.insert(session.accessToken, session.user.email);
}

void FakeAuthBackend::installRoutes()
{
    auto bind = [this](const char *path, FakeResponse (FakeAuthBackend::*handler)(const RecordedRequest &),
                       const QByteArray &method) {
        m_backend->route(method, QString::fromLatin1(path), [this, handler](const RecordedRequest &request) {
            auto failure = m_failures.find(request.path);
            if (failure != m_failures.end() && failure->second > 0) {
                --failure->second;
                return failure->first;
            }
            FakeResponse response = (this->*handler)(request);
            if (m_answersToLose.value(request.path) > 0) {
                --m_answersToLose[request.path];
                response = FakeResponse::dropConnection();
            }
            if (m_replyDelayMs > 0 && response.delayMs == 0)
                response.withDelay(m_replyDelayMs);
            return response;
        });
    };
    bind(registerPath, &FakeAuthBackend::handleRegister, "POST");
    bind(verifyPath, &FakeAuthBackend::handleVerify, "POST");
    bind(resendCodePath, &FakeAuthBackend::handleResend, "POST");
    bind(totpSetupPath, &FakeAuthBackend::handleTotpSetup, "POST");
    bind(completeRegistrationPath, &FakeAuthBackend::handleComplete, "POST");
    bind(loginPath, &FakeAuthBackend::handleLogin, "POST");
    bind(mfaVerifyPath, &FakeAuthBackend::handleMfaVerify, "POST");
    bind(refreshPath, &FakeAuthBackend::handleRefresh, "POST");
    bind(logoutPath, &FakeAuthBackend::handleLogout, "POST");
    bind(mePath, &FakeAuthBackend::handleMe, "GET");
    bind(chatCompletionsPath, &FakeAuthBackend::handleChat, "POST");

    // The relays' websockets: accepted, and the upgrade's headers are recorded by the backend.
    for (const char *path : {speechSocketPath, translationSocketPath, legacyTranslationSocketPath})
        m_backend->webSocketRoute(QString::fromLatin1(path), FakeWebSocketRoute());
}

QJsonObject FakeAuthBackend::challengeJson(const QString &challengeId, const Challenge &challenge) const
{
    QJsonObject object;
    object.insert(QStringLiteral("challengeId"), challengeId);
    object.insert(QStringLiteral("email"), challenge.email);
    object.insert(QStringLiteral("maskedEmail"), challenge.email.left(1) + QStringLiteral("***") + challenge.email.mid(challenge.email.indexOf(QLatin1Char('@'))));
    object.insert(QStringLiteral("purpose"), QStringLiteral("registration"));
    object.insert(QStringLiteral("linkedAuthProviders"), QJsonArray());
    object.insert(QStringLiteral("expiresIn"), 600);
    object.insert(QStringLiteral("expiresAt"), isoDate(QDateTime::currentDateTimeUtc().addSecs(600)));
    object.insert(QStringLiteral("resendAfter"), 30);
    return object;
}

QJsonObject FakeAuthBackend::userJson(const Account &account) const
{
    QJsonObject user;
    user.insert(QStringLiteral("id"), account.id);
    user.insert(QStringLiteral("email"), account.email);
    if (m_keyStyle == KeyStyle::snakeCase) {
        user.insert(QStringLiteral("display_name"), account.name);
        user.insert(QStringLiteral("avatar_url"), QJsonValue::Null);
        user.insert(QStringLiteral("workspace_id"), QStringLiteral("ws-") + account.id);
        user.insert(QStringLiteral("default_workspace"), QJsonObject{{QStringLiteral("id"), QStringLiteral("ws-") + account.id}});
    } else {
        user.insert(QStringLiteral("displayName"), account.name);
        user.insert(QStringLiteral("workspaceId"), QStringLiteral("ws-") + account.id);
        user.insert(QStringLiteral("defaultWorkspace"), QJsonObject{{QStringLiteral("id"), QStringLiteral("ws-") + account.id}});
    }
    user.insert(QStringLiteral("newbie"), true);
    user.insert(QStringLiteral("workspaces"), QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("ws-") + account.id}}});
    return user;
}

FakeResponse FakeAuthBackend::sessionReply(const Account &account, bool forRefresh)
{
    const int serial = ++m_serial;
    const QString accessToken = QStringLiteral("access-%1-%2").arg(account.id).arg(serial);
    const QString refreshToken = QStringLiteral("refresh+%1/%2=").arg(account.id).arg(serial);
    m_accessTokens.insert(accessToken, account.email);
    m_refreshTokens.insert(refreshToken, account.email);

    const bool snake = m_keyStyle == KeyStyle::snakeCase;
    QJsonObject body;
    body.insert(snake ? QStringLiteral("access_token") : QStringLiteral("accessToken"), accessToken);
    body.insert(snake ? QStringLiteral("token_type") : QStringLiteral("tokenType"), QStringLiteral("Bearer"));
    const QDateTime expiry = QDateTime::currentDateTimeUtc().addSecs(m_sessionLifetimeSeconds);
    switch (m_expiryStyle) {
    case ExpiryStyle::expiresAt:
        body.insert(snake ? QStringLiteral("expires_at") : QStringLiteral("expiresAt"), isoDate(expiry));
        break;
    case ExpiryStyle::expiresAtFractional:
        body.insert(snake ? QStringLiteral("expires_at") : QStringLiteral("expiresAt"), isoDate(expiry, true));
        break;
    case ExpiryStyle::expiresIn:
        body.insert(snake ? QStringLiteral("expires_in") : QStringLiteral("expiresIn"), m_sessionLifetimeSeconds);
        break;
    }
    body.insert(QStringLiteral("user"), userJson(account));

    const QString refreshKey = snake ? QStringLiteral("refresh_token") : QStringLiteral("refreshToken");
    const RefreshTokenPlacement placement = forRefresh ? RefreshTokenPlacement::body : m_refreshTokenPlacement;
    if (placement == RefreshTokenPlacement::body)
        body.insert(refreshKey, refreshToken);
    else if (placement == RefreshTokenPlacement::blankBodyAndCookie)
        body.insert(refreshKey, QStringLiteral("   "));

    FakeResponse response = FakeResponse::json(200, body);
    if (placement != RefreshTokenPlacement::body) {
        // Two cookies in one field, the second with an Expires date that holds a comma.
        const QByteArray encoded = QUrl::toPercentEncoding(refreshToken);
        response.withHeader("Set-Cookie", "kavrel_hint=1; Path=/, norvantis_refresh_token=" + encoded
                                              + "; Path=/; Expires=Wed, 21 Oct 2099 07:28:00 GMT; HttpOnly");
    }
    return response;
}

std::optional<QString> FakeAuthBackend::bearerEmail(const RecordedRequest &request) const
{
    const QByteArray header = request.header("Authorization");
    if (!header.startsWith("Bearer "))
        return std::nullopt;
    const QString token = QString::fromUtf8(header.mid(7));
    const auto it = m_accessTokens.constFind(token);
    if (it == m_accessTokens.constEnd())
        return std::nullopt;
    return *it;
}

FakeResponse FakeAuthBackend::handleRegister(const RecordedRequest &request)
{
    const QJsonObject body = request.json();
    const QString email = body.value(QStringLiteral("email")).toString();
    if (!email.contains(QLatin1Char('@')))
        return errorReply(422, QStringLiteral("message"), QStringLiteral("Enter a valid e-mail address."));
    if (m_accounts.contains(email))
        return errorReply(409, QStringLiteral("message"), QStringLiteral("An account with this e-mail already exists."));
    Challenge challenge;
    challenge.email = email;
    challenge.name = body.value(QStringLiteral("name")).toString();
    const QString challengeId = QStringLiteral("challenge-%1").arg(++m_serial);
    m_challenges.insert(challengeId, challenge);
    return FakeResponse::json(200, challengeJson(challengeId, challenge));
}

FakeResponse FakeAuthBackend::handleVerify(const RecordedRequest &request)
{
    const QJsonObject body = request.json();
    const QString challengeId = body.value(QStringLiteral("challengeId")).toString();
    auto it = m_challenges.find(challengeId);
    if (it == m_challenges.end() || it->email != body.value(QStringLiteral("email")).toString())
        return errorReply(404, QStringLiteral("detail"), QStringLiteral("This code request was not found."));
    if (body.value(QStringLiteral("code")).toString() != QLatin1String(emailCode))
        return errorReply(400, QStringLiteral("error_description"), QStringLiteral("The code is wrong or has expired."));
    it->verificationToken = QStringLiteral("verification-%1").arg(++m_serial);
    QJsonObject reply = challengeJson(challengeId, *it);
    reply.remove(QStringLiteral("resendAfter"));
    reply.insert(QStringLiteral("verified"), true);
    reply.insert(QStringLiteral("verificationToken"), it->verificationToken);
    return FakeResponse::json(200, reply);
}

FakeResponse FakeAuthBackend::handleResend(const RecordedRequest &request)
{
    const QJsonObject body = request.json();
    const QString challengeId = body.value(QStringLiteral("challengeId")).toString();
    const auto it = m_challenges.constFind(challengeId);
    if (it == m_challenges.constEnd() || it->email != body.value(QStringLiteral("email")).toString())
        return errorReply(404, QStringLiteral("title"), QStringLiteral("Challenge not found"));
    const Challenge challenge = *it;
    const QString renewedId = QStringLiteral("challenge-%1").arg(++m_serial);
    m_challenges.insert(renewedId, challenge);
    return FakeResponse::json(200, challengeJson(renewedId, challenge));
}

FakeResponse FakeAuthBackend::handleTotpSetup(const RecordedRequest &request)
{
    const QJsonObject body = request.json();
    auto it = m_challenges.find(body.value(QStringLiteral("challengeId")).toString());
    if (it == m_challenges.end() || it->verificationToken.isEmpty()
        || it->verificationToken != body.value(QStringLiteral("verificationToken")).toString())
        return errorReply(403, QStringLiteral("error"), QStringLiteral("The e-mail address is not verified."));
    it->setupId = QStringLiteral("setup-%1").arg(++m_serial);
    QJsonObject reply;
    reply.insert(QStringLiteral("setupId"), it->setupId);
    reply.insert(QStringLiteral("otpauthUri"), QStringLiteral("otpauth://totp/Kavrel:%1?secret=%2&issuer=Kavrel").arg(it->email, QLatin1String(totpSecret)));
    reply.insert(QStringLiteral("secret"), QLatin1String(totpSecret));
    reply.insert(QStringLiteral("qrCodeDataUrl"), QStringLiteral("data:image/png;base64,iVBORw0KGgo="));
    reply.insert(QStringLiteral("expiresIn"), 600);
    reply.insert(QStringLiteral("expiresAt"), isoDate(QDateTime::currentDateTimeUtc().addSecs(600), true));
    return FakeResponse::json(200, reply);
}

FakeResponse FakeAuthBackend::handleComplete(const RecordedRequest &request)
{
    const QJsonObject body = request.json();
    const QString challengeId = body.value(QStringLiteral("challengeId")).toString();
    const auto it = m_challenges.constFind(challengeId);
    if (it == m_challenges.constEnd() || it->verificationToken.isEmpty()
        || it->verificationToken != body.value(QStringLiteral("verificationToken")).toString())
        return errorReply(403, QStringLiteral("error"), QStringLiteral("The e-mail address is not verified."));
    const QString password = body.value(QStringLiteral("password")).toString();
    if (password.size() < 8)
        return errorReply(400, QStringLiteral("title"), QStringLiteral("The password needs at least 8 characters."));
    const QJsonValue mfa = body.value(QStringLiteral("mfa"));
    bool withAuthenticator = false;
    if (mfa.isObject()) {
        const QJsonObject object = mfa.toObject();
        if (object.value(QStringLiteral("type")).toString() != QLatin1String("totp")
            || object.value(QStringLiteral("setupId")).toString() != it->setupId
            || !acceptsTotpCode(object.value(QStringLiteral("code")).toString()))
            return errorReply(400, QStringLiteral("message"), QStringLiteral("The authenticator code is wrong."));
        withAuthenticator = true;
    } else if (!mfa.isNull()) {
        return errorReply(400, QStringLiteral("message"), QStringLiteral("mfa must be an object or null."));
    }
    const QString email = it->email;
    addAccount(email, password, body.value(QStringLiteral("name")).toString(), withAuthenticator);
    m_challenges.remove(challengeId);
    return sessionReply(m_accounts.value(email), false);
}

FakeResponse FakeAuthBackend::handleLogin(const RecordedRequest &request)
{
    const QJsonObject body = request.json();
    const QString email = body.value(QStringLiteral("email")).toString();
    const auto it = m_accounts.constFind(email);
    if (it == m_accounts.constEnd() || it->password != body.value(QStringLiteral("password")).toString())
        return errorReply(401, QStringLiteral("message"), QStringLiteral("Wrong e-mail or password."));
    if (it->withAuthenticator) {
        const QString challengeId = QStringLiteral("mfa-%1").arg(++m_serial);
        m_mfaChallenges.insert(challengeId, email);
        QJsonObject reply;
        reply.insert(QStringLiteral("code"), QStringLiteral("MFA_REQUIRED"));
        reply.insert(QStringLiteral("challengeId"), challengeId);
        reply.insert(QStringLiteral("email"), email);
        reply.insert(QStringLiteral("maskedEmail"), email.left(1) + QStringLiteral("***"));
        reply.insert(QStringLiteral("type"), QStringLiteral("authenticator"));
        reply.insert(QStringLiteral("expiresIn"), 300);
        reply.insert(QStringLiteral("expiresAt"), isoDate(QDateTime::currentDateTimeUtc().addSecs(300)));
        return FakeResponse::json(200, reply);
    }
    return sessionReply(*it, false);
}

FakeResponse FakeAuthBackend::handleMfaVerify(const RecordedRequest &request)
{
    const QJsonObject body = request.json();
    const QString challengeId = body.value(QStringLiteral("challengeId")).toString();
    const auto it = m_mfaChallenges.constFind(challengeId);
    if (it == m_mfaChallenges.constEnd() || *it != body.value(QStringLiteral("email")).toString())
        return errorReply(404, QStringLiteral("detail"), QStringLiteral("This sign-in request was not found."));
    if (body.value(QStringLiteral("type")).toString() != QLatin1String("totp")
        || !acceptsTotpCode(body.value(QStringLiteral("code")).toString()))
        return errorReply(401, QStringLiteral("message"), QStringLiteral("The authenticator code is wrong."));
    const QString email = *it;
    m_mfaChallenges.remove(challengeId);
    return sessionReply(m_accounts.value(email), false);
}

FakeResponse FakeAuthBackend::handleRefresh(const RecordedRequest &request)
{
    const QString refreshToken = request.json().value(QStringLiteral("refresh_token")).toString();
    const auto it = m_refreshTokens.constFind(refreshToken);
    if (it == m_refreshTokens.constEnd()) {
        QJsonObject body;
        body.insert(QStringLiteral("error"), QStringLiteral("invalid_grant"));
        body.insert(QStringLiteral("error_description"), QStringLiteral("The refresh token is invalid or was already used."));
        return FakeResponse::json(401, body);
    }
    const QString email = *it;
    // Refresh tokens rotate: the one just used is spent.
    m_refreshTokens.remove(refreshToken);
    return sessionReply(m_accounts.value(email), true);
}

FakeResponse FakeAuthBackend::handleLogout(const RecordedRequest &request)
{
    const QString refreshToken = request.json().value(QStringLiteral("refresh_token")).toString();
    m_refreshTokens.remove(refreshToken);
    const QByteArray header = request.header("Authorization");
    if (header.startsWith("Bearer "))
        m_accessTokens.remove(QString::fromUtf8(header.mid(7)));
    return FakeResponse::empty(204);
}

FakeResponse FakeAuthBackend::handleMe(const RecordedRequest &request)
{
    const std::optional<QString> email = bearerEmail(request);
    if (!email)
        return errorReply(401, QStringLiteral("message"), QStringLiteral("Unauthorized"));
    const Account account = m_accounts.value(*email);
    QJsonObject profile;
    profile.insert(QStringLiteral("id"), account.id);
    profile.insert(QStringLiteral("email"), account.email);
    profile.insert(QStringLiteral("display_name"), account.name);
    profile.insert(QStringLiteral("avatar_url"), QJsonValue::Null);
    profile.insert(QStringLiteral("newbie"), false);
    for (auto it = m_profileOverride.constBegin(); it != m_profileOverride.constEnd(); ++it)
        profile.insert(it.key(), it.value());
    return FakeResponse::json(200, profile);
}

FakeResponse FakeAuthBackend::handleChat(const RecordedRequest &request)
{
    if (!bearerEmail(request)) {
        QJsonObject error;
        error.insert(QStringLiteral("message"), QStringLiteral("Unauthorized"));
        QJsonObject body;
        body.insert(QStringLiteral("error"), error);
        return FakeResponse::json(401, body);
    }
    if (m_chatReply)
        return *m_chatReply;
    const QJsonArray messages = request.json().value(QStringLiteral("messages")).toArray();
    const QString last = messages.isEmpty() ? QString() : messages.last().toObject().value(QStringLiteral("content")).toString();
    QJsonObject message;
    message.insert(QStringLiteral("role"), QStringLiteral("assistant"));
    message.insert(QStringLiteral("content"), QStringLiteral("echo: ") + last);
    QJsonObject choice;
    choice.insert(QStringLiteral("index"), 0);
    choice.insert(QStringLiteral("message"), message);
    choice.insert(QStringLiteral("finish_reason"), QStringLiteral("stop"));
    QJsonObject body;
    body.insert(QStringLiteral("id"), QStringLiteral("chatcmpl-%1").arg(++m_serial));
    body.insert(QStringLiteral("choices"), QJsonArray{choice});
    return FakeResponse::json(200, body);
}
