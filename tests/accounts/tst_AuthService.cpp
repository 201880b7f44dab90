#include "accounts/AuthService.h"
#include "accounts/AuthServiceError.h"
#include "base/Async.h"
#include "platform/InMemorySecretStore.h"
#include "platform/NetworkError.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

const QString account = QString::fromLatin1(AuthService::sessionAccount);

// JSON written with single quotes, which keeps the fixtures readable.
QByteArray j(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

} // namespace

class tst_AuthService : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_auth;
    std::unique_ptr<AuthService> m_service;
    QDateTime m_now;

    InMemorySecretStore *store() const { return TestAuth::secretStoreOf(m_service.get()); }

    std::optional<AuthSession> saved() const
    {
        const auto data = store()->value(account);
        if (!data)
            return std::nullopt;
        return AuthSession::fromJsonBytes(*data);
    }

    // A session known to the fake backend that expires secondsLeft after the test's "now".
    AuthSession saveSession(qint64 secondsLeft)
    {
        AuthSession session = TestAuth::defaultSession();
        session.expiresAt = m_now.addSecs(secondsLeft);
        m_auth->registerSession(session);
        store()->setValue(account, session.toJsonBytes());
        return session;
    }

private Q_SLOTS:
    void init()
    {
        m_backend = std::make_unique<FakeBackend>();
        QVERIFY(m_backend->start());
        m_auth = std::make_unique<FakeAuthBackend>(m_backend.get());
        m_service = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
        m_now = QDateTime::fromString(QStringLiteral("2030-05-01T10:00:00Z"), Qt::ISODate);
        m_service->setClock([this] { return m_now; });
    }

    void cleanup()
    {
        m_service.reset();
        m_auth.reset();
        m_backend.reset();
    }

    void refreshThreshold_data()
    {
        QTest::addColumn<qint64>("secondsLeft");
        QTest::addColumn<bool>("refreshes");
        QTest::newRow("61 s left") << qint64(61) << false;
        QTest::newRow("60 s left") << qint64(60) << true;
        QTest::newRow("expired") << qint64(-3600) << true;
    }

    void refreshThreshold()
    {
        QFETCH(qint64, secondsLeft);
        QFETCH(bool, refreshes);
        const AuthSession original = saveSession(secondsLeft);
        const auto result = runTask(m_service->activeSession());
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::refreshPath)), refreshes ? 1 : 0);
        if (!refreshes) {
            QCOMPARE(*result.value, original);
            return;
        }
        const RecordedRequest request = m_backend->requests(QString::fromLatin1(FakeAuthBackend::refreshPath)).first();
        QCOMPARE(request.json(), (QJsonObject{{QStringLiteral("refresh_token"), original.refreshToken}}));
        QCOMPARE(request.headerCount("Authorization"), 0);
        QVERIFY(result.value->refreshToken != original.refreshToken);
        QVERIFY(m_auth->isRefreshTokenValid(result.value->refreshToken));
        // The saved item now holds the new session, with the user the refresh reply carried.
        QCOMPARE(saved(), result.value);
        QCOMPARE(saved()->user.workspaceID, std::optional<QString>(QStringLiteral("ws-user-1")));
    }

    void concurrentCallersShareOneRefresh()
    {
        saveSession(30);
        m_auth->setReplyDelay(100);
        QList<TaskHandle<AuthSession>> callers;
        for (int i = 0; i < 10; ++i) {
            AuthService *service = m_service.get();
            callers.append(spawnTask([service](CancellationToken) { return service->activeSession(); }));
        }
        QVERIFY(FakeBackend::waitUntil([&] {
            return std::all_of(callers.cbegin(), callers.cend(), [](const auto &caller) { return caller.isFinished(); });
        }));
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::refreshPath)), 1);
        QString accessToken;
        for (const auto &caller : callers) {
            const auto result = runTask([](TaskHandle<AuthSession> handle) -> QCoro::Task<AuthSession> {
                AuthSession session = co_await handle.result();
                co_return session;
            }(caller));
            QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
            if (accessToken.isEmpty())
                accessToken = result.value->accessToken;
            QCOMPARE(result.value->accessToken, accessToken);
        }
        QCOMPARE(saved()->accessToken, accessToken);
    }

    void failedRefreshKeepsTheItem_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("expectedCase");
        const QByteArray reply = j("{'access_token':'a','expires_in':60,'user':{'id':'u','email':'e@x'},'refresh_token':");
        QTest::newRow("blank refresh token") << reply + j("'  '}") << 200 << int(AuthServiceError::Case::invalidResponse);
        QTest::newRow("no refresh token") << reply + j("null}") << 200 << int(AuthServiceError::Case::invalidResponse);
        QTest::newRow("empty 200") << QByteArray() << 200 << int(AuthServiceError::Case::invalidResponse);
        QTest::newRow("rejected") << QByteArray(j("{'error':'invalid_grant'}")) << 401 << int(AuthServiceError::Case::requestFailed);
    }

    void failedRefreshKeepsTheItem()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, expectedCase);
        const AuthSession original = saveSession(10);
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::refreshPath), FakeResponse::json(status, body));
        const auto result = runTask(m_service->activeSession());
        const auto error = result.errorAs<AuthServiceError>();
        QVERIFY(error);
        QCOMPARE(int(error->errorCase()), expectedCase);
        QCOMPARE(saved(), std::optional<AuthSession>(original));
    }

    // The server carries out the step and its answer is lost: each attempt reaches it once,
    // so a spent refresh token or sign-in request is not spent again behind the caller's back.
    void stepsWhoseAnswerIsLostGoOutOncePerAttempt_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("laterStatus"); // of the next attempt, answered
        QTest::addColumn<int>("laterCase");
        QTest::newRow("refresh") << QByteArray(FakeAuthBackend::refreshPath) << 401
                                 << int(AuthServiceError::Case::requestFailed);
        // The sign-in request is spent: only a new sign-in helps, and the caller must know.
        QTest::newRow("authenticator code check") << QByteArray(FakeAuthBackend::mfaVerifyPath) << 404
                                                  << int(AuthServiceError::Case::signInRequestGone);
    }

    void stepsWhoseAnswerIsLostGoOutOncePerAttempt()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, laterStatus);
        QFETCH(int, laterCase);
        saveSession(10);
        m_auth->addAccount(QStringLiteral("ada@example.org"), QStringLiteral("analytical"), QStringLiteral("Ada"), true);
        const auto login = runTask(m_service->loginWithEmail(QStringLiteral("ada@example.org"), QStringLiteral("analytical")));
        QVERIFY2(login.succeeded(), qPrintable(login.errorText()));
        const MfaChallenge challenge = *login.value->challenge;
        auto attempt = [&] {
            if (path == FakeAuthBackend::refreshPath)
                return runTask(m_service->activeSession());
            return runTask(m_service->verifyEmailMfa(challenge.challengeId, challenge.email,
                                                     QString::fromLatin1(FakeAuthBackend::totpCode)));
        };

        m_auth->loseNextAnswers(path.constData(), 1);
        const auto lost = attempt();
        QVERIFY2(lost.errorAs<NetworkError>(), qPrintable(lost.errorText()));
        QVERIFY(AuthService::isTransientFailure(lost.error));
        QTest::qWait(50);
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(path)), 1);

        const auto later = attempt();
        const auto refused = later.errorAs<AuthServiceError>();
        QVERIFY2(refused, qPrintable(later.errorText()));
        QCOMPARE(refused->httpStatus(), laterStatus);
        QCOMPARE(int(refused->errorCase()), laterCase);
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(path)), 2);
    }

    void refreshTrimsTheRotatedToken()
    {
        saveSession(10);
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::refreshPath),
                         FakeResponse::json(200, QByteArray(j("{'access_token':'a2','refresh_token':'  abc \\n','expires_in':900, 'user':{'id':'u9','email':'new@x'}}"))));
        const auto result = runTask(m_service->activeSession());
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(result.value->refreshToken, QStringLiteral("abc"));
        QCOMPARE(saved()->user.email, QStringLiteral("new@x"));
    }

    void refreshOvertakenBySignOutDoesNotSave()
    {
        const AuthSession original = saveSession(10);
        m_auth->setReplyDelay(150);
        AuthService *service = m_service.get();
        auto caller = spawnTask([service](CancellationToken) { return service->activeSession(); });
        QVERIFY(FakeBackend::waitUntil([&] { return m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::refreshPath)) == 1; }));
        // The logout (of a caller that knows no tokens) is answered at once, while the
        // refresh reply is still on its way.
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::logoutPath), FakeResponse::empty(204));
        QVERIFY(runTask(m_service->logout(std::nullopt, std::nullopt)).succeeded());
        QVERIFY(FakeBackend::waitUntil([&] { return caller.isFinished(); }));
        // Signed out stays signed out: the late refresh result is not written back.
        QVERIFY(!store()->value(account));
        const auto result = runTask([](TaskHandle<AuthSession> handle) -> QCoro::Task<AuthSession> {
            AuthSession session = co_await handle.result();
            co_return session;
        }(caller));
        QCOMPARE(result.errorText(), AuthService::signInRequiredText());
    }

    void logoutDuringARefreshRevokesTheRotatedToken()
    {
        const AuthSession original = saveSession(10);
        m_auth->setReplyDelay(150);
        AuthService *service = m_service.get();
        auto caller = spawnTask([service](CancellationToken) { return service->activeSession(); });
        QVERIFY(FakeBackend::waitUntil([&] { return m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::refreshPath)) == 1; }));
        QVERIFY(runTask(m_service->logout(original.accessToken, original.refreshToken)).succeeded());
        QVERIFY(caller.isFinished());
        const auto rotated = runTask([](TaskHandle<AuthSession> handle) -> QCoro::Task<AuthSession> {
            AuthSession session = co_await handle.result();
            co_return session;
        }(caller));
        QVERIFY2(rotated.succeeded(), qPrintable(rotated.errorText()));
        const RecordedRequest logout = m_backend->requests(QString::fromLatin1(FakeAuthBackend::logoutPath)).last();
        QCOMPARE(logout.json().value(QStringLiteral("refresh_token")).toString(), rotated.value->refreshToken);
        QCOMPARE(logout.header("Authorization"), "Bearer " + rotated.value->accessToken.toUtf8());
        QVERIFY(!m_auth->isRefreshTokenValid(rotated.value->refreshToken));
        QVERIFY(!store()->value(account));
    }

    void profileMergesIntoTheCurrentSession()
    {
        // The profile request is slow; meanwhile another client refreshes the tokens.
        const AuthSession original = saveSession(3600);
        QJsonObject profile{{QStringLiteral("id"), original.user.id}, {QStringLiteral("display_name"), QStringLiteral("Countess")}};
        m_backend->route("GET", QString::fromLatin1(FakeAuthBackend::mePath), FakeResponse::json(200, profile).withDelay(300));
        AuthService *service = m_service.get();
        auto profileRefresh = spawnTask([service, original](CancellationToken) { return service->refreshCurrentUserProfile(original); });
        QVERIFY(FakeBackend::waitUntil([&] { return m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::mePath)) == 1; }));
        m_now = m_now.addSecs(3590);
        const auto refreshed = runTask(m_service->activeSession());
        QVERIFY2(refreshed.succeeded(), qPrintable(refreshed.errorText()));
        QVERIFY(!profileRefresh.isFinished());

        QVERIFY(FakeBackend::waitUntil([&] { return profileRefresh.isFinished(); }));
        QCOMPARE(saved()->refreshToken, refreshed.value->refreshToken);
        QCOMPARE(saved()->accessToken, refreshed.value->accessToken);
        QCOMPARE(saved()->user.displayName, QStringLiteral("Countess"));
        // The rotated token is still the saved one, so the next refresh works.
        m_now = m_now.addSecs(3600);
        const auto next = runTask(m_service->activeSession());
        QVERIFY2(next.succeeded(), qPrintable(next.errorText()));
    }

    void destroyedServiceEndsItsRequestsWithCancellation()
    {
        saveSession(10);
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::refreshPath), FakeResponse::hang());
        AuthService *service = m_service.get();
        auto caller = spawnTask([service](CancellationToken) { return service->activeSession(); });
        QVERIFY(FakeBackend::waitUntil([&] { return m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::refreshPath)) == 1; }));
        m_service.reset();
        QVERIFY(FakeBackend::waitUntil([&] { return caller.isFinished(); }));
        const auto result = runTask([](TaskHandle<AuthSession> handle) -> QCoro::Task<AuthSession> {
            AuthSession session = co_await handle.result();
            co_return session;
        }(caller));
        QVERIFY(result.isCancellation());
    }

    void unreadableItem()
    {
        store()->setValue(account, QByteArray("not a session"));
        const auto result = runTask(m_service->activeSession());
        QCOMPARE(result.errorAs<AuthServiceError>()->errorCase(), AuthServiceError::Case::requestFailed);
        QCOMPARE(result.errorText(), QStringLiteral("Sign in to sync meeting history."));
        QCOMPARE(store()->value(account), std::optional<QByteArray>("not a session"));
        QCOMPARE(m_backend->requests().size(), 0);
    }

    void logoutAlwaysDeletes_data()
    {
        QTest::addColumn<QString>("baseUrl"); // "<fake>", "<closed>" or a literal text
        QTest::addColumn<int>("status");
        QTest::newRow("backend answers") << "<fake>" << 204;
        QTest::newRow("backend fails") << "<fake>" << 500;
        QTest::newRow("backend unreachable") << "<closed>" << 0;
        QTest::newRow("invalid base URL") << "http://" << 0;
    }

    void logoutAlwaysDeletes()
    {
        QFETCH(QString, baseUrl);
        QFETCH(int, status);
        QUrl url = m_backend->baseUrl();
        if (baseUrl == QLatin1String("<closed>")) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            url.setPort(probe.serverPort());
        } else if (baseUrl != QLatin1String("<fake>")) {
            url = QUrl(baseUrl);
        }
        m_service = TestAuth::signedInService(url);
        if (status != 0 && status != 204)
            m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::logoutPath), FakeResponse::empty(status));
        const auto result = runTask(m_service->logout(QStringLiteral("at"), QStringLiteral("rt")));
        QVERIFY(result.succeeded());
        QVERIFY(!store()->value(account));
    }

    void logoutRequest()
    {
        QVERIFY(runTask(m_service->logout(QString(), std::nullopt)).succeeded());
        RecordedRequest request = m_backend->requests(QString::fromLatin1(FakeAuthBackend::logoutPath)).last();
        QCOMPARE(request.headerCount("Authorization"), 0);
        QCOMPARE(request.body, QByteArray("{}"));
        QVERIFY(runTask(m_service->logout(QStringLiteral("at"), QStringLiteral("rt"))).succeeded());
        request = m_backend->requests(QString::fromLatin1(FakeAuthBackend::logoutPath)).last();
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer at"));
        QCOMPARE(request.json().value(QStringLiteral("refresh_token")).toString(), QStringLiteral("rt"));
    }

    void profileRefreshMergesAndSaves()
    {
        const AuthSession session = saveSession(3600);
        m_auth->setProfileOverride(QJsonObject{{QStringLiteral("display_name"), QStringLiteral("  Countess ")},
                                               {QStringLiteral("avatar_url"), QStringLiteral("https://a/b.png")}});
        const auto result = runTask(m_service->refreshCurrentUserProfile(session));
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(m_backend->requests(QString::fromLatin1(FakeAuthBackend::mePath)).last().header("Authorization"),
                 "Bearer " + session.accessToken.toUtf8());
        QCOMPARE(result.value->user.displayName, QStringLiteral("Countess"));
        QCOMPARE(result.value->user.avatarURL, std::optional<QString>(QStringLiteral("https://a/b.png")));
        QCOMPARE(result.value->user.newbie, std::optional<bool>(false));
        QCOMPARE(result.value->user.workspaceID, session.user.workspaceID);
        QCOMPARE(result.value->accessToken, session.accessToken);
        QCOMPARE(saved(), result.value);
    }

    void registrationEndToEnd()
    {
        auto challenge = runTask(m_service->startEmailRegistration(QStringLiteral("ada@example.org"), QStringLiteral("  Ada  ")));
        QVERIFY2(challenge.succeeded(), qPrintable(challenge.errorText()));
        QCOMPARE(m_backend->requests(QString::fromLatin1(FakeAuthBackend::registerPath)).last().json(),
                 (QJsonObject{{QStringLiteral("email"), QStringLiteral("ada@example.org")}, {QStringLiteral("name"), QStringLiteral("Ada")}}));

        const auto wrongCode = runTask(m_service->verifyEmailCode(challenge.value->challengeId, challenge.value->email, QStringLiteral("000000")));
        QCOMPARE(wrongCode.errorText(), QStringLiteral("The code is wrong or has expired."));

        challenge = runTask(m_service->resendEmailCode(challenge.value->challengeId, challenge.value->email));
        QVERIFY(challenge.succeeded());
        const auto verification = runTask(m_service->verifyEmailCode(challenge.value->challengeId, challenge.value->email,
                                                                     QString::fromLatin1(FakeAuthBackend::emailCode)));
        QVERIFY2(verification.succeeded(), qPrintable(verification.errorText()));
        QVERIFY(verification.value->verified);

        const auto setup = runTask(m_service->setupRegistrationTotp(verification.value->challengeId, verification.value->email,
                                                                    verification.value->verificationToken));
        QVERIFY2(setup.succeeded(), qPrintable(setup.errorText()));
        QVERIFY(setup.value->qrCodeDataUrl);
        QVERIFY(!store()->value(account));

        CompleteEmailRegistrationInput input;
        input.challengeId = verification.value->challengeId;
        input.email = verification.value->email;
        input.name = QStringLiteral("Ada");
        input.password = QStringLiteral("correct horse");
        input.verificationToken = verification.value->verificationToken;
        input.mfa = EmailRegistrationMFA{QStringLiteral("totp"), setup.value->setupId, QString::fromLatin1(FakeAuthBackend::totpCode)};
        const auto session = runTask(m_service->completeEmailRegistration(input));
        QVERIFY2(session.succeeded(), qPrintable(session.errorText()));
        QCOMPARE(saved(), session.value);
        QCOMPARE(session.value->user.displayName, QStringLiteral("Ada"));
        const QJsonObject sentMfa = m_backend->requests(QString::fromLatin1(FakeAuthBackend::completeRegistrationPath))
                                        .last().json().value(QStringLiteral("mfa")).toObject();
        QCOMPARE(sentMfa.value(QStringLiteral("setupId")).toString(), setup.value->setupId);
        QVERIFY(m_auth->accountHasAuthenticator(QStringLiteral("ada@example.org")));
    }

    void registrationWithoutNameOrAuthenticator()
    {
        const auto challenge = runTask(m_service->startEmailRegistration(QStringLiteral("bob@example.org"), QStringLiteral(" \n ")));
        QVERIFY(challenge.succeeded());
        QCOMPARE(m_backend->requests(QString::fromLatin1(FakeAuthBackend::registerPath)).last().json().keys(),
                 QStringList{QStringLiteral("email")});
        const auto verification = runTask(m_service->verifyEmailCode(challenge.value->challengeId, challenge.value->email,
                                                                     QString::fromLatin1(FakeAuthBackend::emailCode)));
        CompleteEmailRegistrationInput input;
        input.challengeId = verification.value->challengeId;
        input.email = verification.value->email;
        input.password = QStringLiteral("long enough");
        input.verificationToken = verification.value->verificationToken;
        const auto session = runTask(m_service->completeEmailRegistration(input));
        QVERIFY2(session.succeeded(), qPrintable(session.errorText()));
        QVERIFY(m_backend->requests(QString::fromLatin1(FakeAuthBackend::completeRegistrationPath)).last().json().value(QStringLiteral("mfa")).isNull());
        QVERIFY(!m_auth->accountHasAuthenticator(QStringLiteral("bob@example.org")));
    }

    void loginReplyShapes_data()
    {
        QTest::addColumn<int>("keyStyle");
        QTest::addColumn<int>("expiryStyle");
        QTest::addColumn<int>("placement");
        using F = FakeAuthBackend;
        QTest::newRow("snake, expires_at, token in body") << int(F::KeyStyle::snakeCase) << int(F::ExpiryStyle::expiresAt) << int(F::RefreshTokenPlacement::body);
        QTest::newRow("camel, fractional expiry") << int(F::KeyStyle::camelCase) << int(F::ExpiryStyle::expiresAtFractional) << int(F::RefreshTokenPlacement::body);
        QTest::newRow("expires_in, token only in the cookie") << int(F::KeyStyle::snakeCase) << int(F::ExpiryStyle::expiresIn) << int(F::RefreshTokenPlacement::cookieOnly);
        QTest::newRow("camel, blank body token, cookie") << int(F::KeyStyle::camelCase) << int(F::ExpiryStyle::expiresIn) << int(F::RefreshTokenPlacement::blankBodyAndCookie);
    }

    void loginReplyShapes()
    {
        QFETCH(int, keyStyle);
        QFETCH(int, expiryStyle);
        QFETCH(int, placement);
        m_auth->setKeyStyle(FakeAuthBackend::KeyStyle(keyStyle));
        m_auth->setExpiryStyle(FakeAuthBackend::ExpiryStyle(expiryStyle));
        m_auth->setRefreshTokenPlacement(FakeAuthBackend::RefreshTokenPlacement(placement));
        m_auth->addAccount(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906"), QStringLiteral("Grace Hopper"), false);
        m_service->setClock({});

        const auto result = runTask(m_service->loginWithEmail(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906")));
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(result.value->kind, EmailLoginResult::Kind::authenticated);
        const AuthSession session = *result.value->session;
        // Percent-decoded from the cookie where it came from there.
        QVERIFY(session.refreshToken.startsWith(QLatin1String("refresh+")));
        QVERIFY(m_auth->isRefreshTokenValid(session.refreshToken));
        QCOMPARE(session.user.displayName, QStringLiteral("Grace Hopper"));
        const qint64 lifetime = QDateTime::currentDateTimeUtc().secsTo(session.expiresAt);
        QVERIFY(lifetime > 3500 && lifetime <= 3600);
        QCOMPARE(saved()->accessToken, session.accessToken);
        QCOMPARE(saved()->refreshToken, session.refreshToken);
    }

    void loginWithSecondFactor()
    {
        m_auth->addAccount(QStringLiteral("ada@example.org"), QStringLiteral("analytical"), QStringLiteral("Ada"), true);
        const auto wrong = runTask(m_service->loginWithEmail(QStringLiteral("ada@example.org"), QStringLiteral("nope")));
        QCOMPARE(wrong.errorText(), QStringLiteral("Wrong e-mail or password."));

        const auto result = runTask(m_service->loginWithEmail(QStringLiteral("ada@example.org"), QStringLiteral("analytical")));
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(result.value->kind, EmailLoginResult::Kind::mfaRequired);
        QVERIFY(!store()->value(account));
        const MfaChallenge challenge = *result.value->challenge;
        QCOMPARE(challenge.type, QStringLiteral("authenticator"));

        const auto session = runTask(m_service->verifyEmailMfa(challenge.challengeId, challenge.email, QString::fromLatin1(FakeAuthBackend::totpCode)));
        QVERIFY2(session.succeeded(), qPrintable(session.errorText()));
        const QJsonObject body = m_backend->requests(QString::fromLatin1(FakeAuthBackend::mfaVerifyPath)).last().json();
        QCOMPARE(body.value(QStringLiteral("type")).toString(), QStringLiteral("totp"));
        QCOMPARE(saved(), session.value);
    }

    void unusableLoginReplies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const QByteArray challenge = j("{'code':'%1','challengeId':'c','email':'a@b.c','maskedEmail':'a***','type':'totp','expiresIn':300%2}");
        const QString invalid = AuthServiceError::invalidResponse().message();
        QTest::newRow("lower-case code") << 200 << QString::fromUtf8(challenge).arg(QStringLiteral("mfa_required"), QStringLiteral(",\"expiresAt\":\"2030-01-01T00:00:00Z\"")).toUtf8() << invalid;
        QTest::newRow("challenge without expiresAt") << 200 << QString::fromUtf8(challenge).arg(QStringLiteral("MFA_REQUIRED"), QString()).toUtf8() << invalid;
        QTest::newRow("challenge with a non-ISO date") << 200 << QString::fromUtf8(challenge).arg(QStringLiteral("MFA_REQUIRED"), QStringLiteral(",\"expiresAt\":\"01/01/2030\"")).toUtf8() << invalid;
        QTest::newRow("challenge sent as 403") << 403 << QByteArray(j("{'code':'MFA_REQUIRED','message':'Second factor needed'}")) << "Second factor needed";
        QTest::newRow("session without any refresh token")
            << 200 << QByteArray(j("{'access_token':'a','expires_in':60,'user':{'id':'u','email':'e@x'}}")) << invalid;
        QTest::newRow("empty 200") << 200 << QByteArray() << invalid;
        // Expiries that no saved session could hold are refused, never saved unreadable.
        const QByteArray session = j("{'access_token':'a','refresh_token':'r',%1,'user':{'id':'u','email':'e@x'}}");
        QTest::newRow("expires_in past year 9999")
            << 200 << QString::fromUtf8(session).arg(QStringLiteral("\"expires_in\":253402300800")).toUtf8() << invalid;
        QTest::newRow("expires_in of the largest integer")
            << 200 << QString::fromUtf8(session).arg(QStringLiteral("\"expires_in\":9223372036854775807")).toUtf8() << invalid;
        QTest::newRow("expires_at past year 9999 in UTC")
            << 200 << QString::fromUtf8(session).arg(QStringLiteral("\"expires_at\":\"9999-12-31T23:59:59-23:59\"")).toUtf8() << invalid;
    }

    void unusableLoginReplies()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::loginPath), FakeResponse::json(status, body));
        const auto result = runTask(m_service->loginWithEmail(QStringLiteral("a@b.c"), QStringLiteral("pw")));
        QCOMPARE(result.errorText(), expected);
        QVERIFY(!store()->value(account));
    }

    void challengeRepliesMustDecode()
    {
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::registerPath), FakeResponse::empty(200));
        auto result = runTask(m_service->startEmailRegistration(QStringLiteral("a@b.c"), std::nullopt));
        QCOMPARE(result.errorAs<AuthServiceError>()->errorCase(), AuthServiceError::Case::invalidResponse);
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::registerPath), FakeResponse::empty(204));
        result = runTask(m_service->startEmailRegistration(QStringLiteral("a@b.c"), std::nullopt));
        QCOMPARE(result.errorAs<AuthServiceError>()->errorCase(), AuthServiceError::Case::invalidResponse);
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::registerPath), FakeResponse::dropConnection());
        result = runTask(m_service->startEmailRegistration(QStringLiteral("a@b.c"), std::nullopt));
        QVERIFY(result.errorAs<NetworkError>());
    }

    void invalidBaseURLSendsNothing()
    {
        m_service = TestAuth::signedInService(QUrl(QStringLiteral("http://")));
        const auto result = runTask(m_service->loginWithEmail(QStringLiteral("a@b.c"), QStringLiteral("pw")));
        const auto error = result.errorAs<AuthServiceError>();
        QVERIFY(error);
        QCOMPARE(error->errorCase(), AuthServiceError::Case::invalidBackendBaseURL);
        QCOMPARE(error->message(), QStringLiteral("The saved auth backend URL is invalid: http://"));
    }

    void cancellingALoginAbortsIt()
    {
        m_auth->addAccount(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906"), QStringLiteral("Grace"), false);
        m_auth->setReplyDelay(300);
        CancellationToken token;
        QTimer::singleShot(50, [token] { token.cancel(); });
        const auto result = runTask(m_service->loginWithEmail(QStringLiteral("grace@example.org"), QStringLiteral("hopper1906"), token));
        QVERIFY(result.isCancellation());
        // The reply that would have signed the user in arrives later and changes nothing.
        QTest::qWait(400);
        QVERIFY(!store()->value(account));
    }

    void transientFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("transient");
        QTest::newRow("401") << 401 << false;
        QTest::newRow("400") << 400 << false;
        QTest::newRow("408") << 408 << true;
        QTest::newRow("429") << 429 << true;
        QTest::newRow("502") << 502 << true;
    }

    void transientFailures()
    {
        QFETCH(int, status);
        QFETCH(bool, transient);
        const auto error = std::make_exception_ptr(AuthServiceError::requestFailed(QStringLiteral("x"), status));
        QCOMPARE(AuthService::isTransientFailure(error), transient);
        QVERIFY(AuthService::isTransientFailure(std::make_exception_ptr(NetworkError(NetworkError::Kind::timedOut, QNetworkReply::TimeoutError, {}))));
        QVERIFY(!AuthService::isTransientFailure(std::make_exception_ptr(AuthServiceError::invalidResponse())));
        QVERIFY(!AuthService::isTransientFailure(std::make_exception_ptr(AuthServiceError::requestFailed(AuthService::signInRequiredText()))));
    }
};

QTEST_GUILESS_MAIN(tst_AuthService)
#include "tst_AuthService.moc"
