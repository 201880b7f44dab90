#include "accounts/AuthService.h"
#include "accounts/AuthSession.h"
#include "accounts/AuthMessages.h"
#include "accounts/ChatCompletionMessages.h"
#include "base/Json.h"
#include "support/JsonLiteral.h"

#include <QJsonDocument>
#include <QTest>

namespace {

// JSON written with single quotes, which keeps the fixtures readable.
QByteArray j(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

const char *failureKind(const std::function<void()> &work, QString *reason = nullptr)
{
    try {
        work();
        return "ok";
    } catch (const JsonDecodeError &error) {
        if (reason)
            *reason = error.reason();
        return "decode";
    }
}

} // namespace

class tst_AccountModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void userDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expectedDisplayName");
        QTest::addColumn<QString>("expectedAvatar"); // "<nil>" for absent

        QTest::newRow("blank display_name falls to displayName")
            << QByteArray(j("{'id':'u','email':'a@b.c','display_name':'   ','displayName':'Ada'}")) << "Ada" << "<nil>";
        QTest::newRow("name is the last spelling")
            << QByteArray(j("{'id':'u','email':'a@b.c','display_name':null,'name':' Ada L '}")) << "Ada L" << "<nil>";
        QTest::newRow("no name gives the trimmed e-mail")
            << QByteArray(j("{'id':' u ','email':'  a@b.c\\n','display_name':'','displayName':'  '}")) << "a@b.c" << "<nil>";
        QTest::newRow("empty avatar_url falls to avatarUrl")
            << QByteArray(j("{'id':'u','email':'a@b.c','avatar_url':'','avatarUrl':' https://x/y.png '}")) << "a@b.c"
            << "https://x/y.png";
        QTest::newRow("both avatars blank")
            << QByteArray(j("{'id':'u','email':'a@b.c','avatar_url':' ','avatarUrl':''}")) << "a@b.c" << "<nil>";
    }

    void userDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, expectedDisplayName);
        QFETCH(QString, expectedAvatar);
        const AuthenticatedUser user = AuthenticatedUser::fromJson(jsonObject(json));
        QCOMPARE(user.id, QStringLiteral("u"));
        QCOMPARE(user.email, QStringLiteral("a@b.c"));
        QCOMPARE(user.displayName, expectedDisplayName);
        QCOMPARE(user.avatarURL.value_or(QStringLiteral("<nil>")), expectedAvatar);
        // What is written reads back unchanged.
        QCOMPARE(AuthenticatedUser::fromJson(user.toJson()), user);
        QVERIFY(!user.toJson().contains(QStringLiteral("avatar_url")) || user.avatarURL);
    }

    void userDecodingFailures_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason"); // empty: any failure

        QTest::newRow("numeric id") << QByteArray(j("{'id':5,'email':'a@b.c'}")) << QString();
        QTest::newRow("numeric email") << QByteArray(j("{'id':'u','email':1}")) << QString();
        QTest::newRow("missing id") << QByteArray(j("{'email':'a@b.c'}")) << QStringLiteral("Expected one of keys: id.");
        QTest::newRow("blank id") << QByteArray(j("{'id':'  ','email':'a@b.c'}")) << QStringLiteral("Expected one of keys: id.");
        QTest::newRow("missing email") << QByteArray(j("{'id':'u'}")) << QStringLiteral("Expected one of keys: email.");
        QTest::newRow("newbie as string") << QByteArray(j("{'id':'u','email':'a@b.c','newbie':'yes'}")) << QString();
        QTest::newRow("display_name as number") << QByteArray(j("{'id':'u','email':'a@b.c','display_name':3,'name':'x'}")) << QString();
        QTest::newRow("workspace without id") << QByteArray(j("{'id':'u','email':'a@b.c','workspace':{}}")) << QString();
        QTest::newRow("workspaces element without id")
            << QByteArray(j("{'id':'u','email':'a@b.c','workspaces':[{'id':'w'},{'name':'x'}]}")) << QString();
    }

    void userDecodingFailures()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        QString actualReason;
        QCOMPARE(failureKind([&] { AuthenticatedUser::fromJson(jsonObject(json)); }, &actualReason), "decode");
        if (!reason.isEmpty())
            QCOMPARE(actualReason, reason);
    }

    void userWorkspacesAndFlags()
    {
        const AuthenticatedUser user = AuthenticatedUser::fromJson(jsonObject(j("{ 'id':'u','email':'a@b.c','newbie':null,'workspace':null, 'defaultWorkspace':null,'default_workspace':{'id':'dw'}, 'current_workspace_id':' cw ','workspaces':[]}")));
        QVERIFY(!user.newbie);
        QVERIFY(!user.workspace);
        QCOMPARE(user.defaultWorkspace->id, QStringLiteral("dw"));
        QCOMPARE(user.currentWorkspaceID, std::optional<QString>(QStringLiteral("cw")));
        QVERIFY(user.workspaces);
        QVERIFY(user.workspaces->isEmpty());
        QCOMPARE(AuthenticatedUser::fromJson(user.toJson()), user);
    }

    void initials_data()
    {
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two of three words") << "ada lovelace byron" << "a@b.c" << "AL";
        QTest::newRow("accented") << QStringLiteral("élan") << "a@b.c" << QStringLiteral("É");
        QTest::newRow("decomposed accent stays one character")
            << QStringLiteral("e\u0301lan vital") << "a@b.c" << QStringLiteral("E\u0301V");
        QTest::newRow("runs of white space") << "  \tgrace \n\n hopper " << "a@b.c" << "GH";
        QTest::newRow("blank name uses e-mail") << " \n " << "zed@b.c" << "Z";
        QTest::newRow("both empty") << "" << "" << "";
        QTest::newRow("emoji grapheme") << QStringLiteral("👩‍💻 coder") << "a@b.c" << QStringLiteral("👩‍💻C");
    }

    void initials()
    {
        QFETCH(QString, displayName);
        QFETCH(QString, email);
        QFETCH(QString, expected);
        AuthenticatedUser user;
        user.displayName = displayName;
        user.email = email;
        QCOMPARE(user.initials(), expected);
    }

    void updatingWithProfile()
    {
        AuthenticatedUser user;
        user.id = QStringLiteral("u");
        user.email = QStringLiteral("old@b.c");
        user.displayName = QStringLiteral("Old Name");
        user.avatarURL = QStringLiteral("https://old");
        user.newbie = true;
        user.workspaceID = QStringLiteral("w");

        const CurrentUserProfileResponse profile = CurrentUserProfileResponse::fromJson(
            jsonObject(j("{'email':'  new@b.c ','display_name':'  ','avatar_url':null,'newbie':false,'workspaceId':'ignored'}")));
        const AuthenticatedUser updated = user.updating(profile);
        QCOMPARE(updated.email, QStringLiteral("new@b.c"));
        QCOMPARE(updated.displayName, QStringLiteral("Old Name"));
        QCOMPARE(updated.avatarURL, user.avatarURL);
        QCOMPARE(updated.newbie, std::optional<bool>(false));
        QCOMPARE(updated.workspaceID, user.workspaceID);
        QCOMPARE(updated.id, QStringLiteral("u"));
    }

    void sessionRoundTripDropsFractions()
    {
        AuthSession session;
        session.accessToken = QStringLiteral("a");
        session.refreshToken = QStringLiteral("r");
        session.tokenType = QStringLiteral("Bearer");
        session.expiresAt = QDateTime::fromString(QStringLiteral("2025-01-02T03:04:05.750Z"), Qt::ISODateWithMs);
        session.user.id = QStringLiteral("u");
        session.user.email = QStringLiteral("a@b.c");
        session.user.displayName = QStringLiteral("a@b.c");

        const QByteArray bytes = session.toJsonBytes();
        QVERIFY(bytes.contains("\"expiresAt\":\"2025-01-02T03:04:05Z\""));
        const AuthSession read = AuthSession::fromJsonBytes(bytes);
        QCOMPARE(read.expiresAt.toMSecsSinceEpoch(), session.expiresAt.toMSecsSinceEpoch() - 750);
        session.expiresAt = read.expiresAt;
        QCOMPARE(read, session);

        // A stored session missing a field does not read at all.
        QJsonObject broken = session.toJson();
        broken.remove(QStringLiteral("tokenType"));
        QCOMPARE(failureKind([&] { AuthSession::fromJson(broken); }), "decode");
    }

    void emailFlowRecords()
    {
        CompleteEmailRegistrationInput input;
        input.challengeId = QStringLiteral("c");
        QVERIFY(input.toJson().value(QStringLiteral("mfa")).isNull());
        QVERIFY(input.toJson().contains(QStringLiteral("mfa")));

        const QByteArray challengeJson = j("{'challengeId':'c','email':'a@b.c','maskedEmail':'a***','purpose':'registration', 'linkedAuthProviders':['google'],'expiresIn':600,'expiresAt':'2025-01-02T03:04:05.5Z'}");
        const EmailChallenge challenge = EmailChallenge::fromJson(jsonObject(challengeJson));
        QVERIFY(!challenge.resendAfter);
        QVERIFY(!challenge.toJson().contains(QStringLiteral("resendAfter")));
        QCOMPARE(challenge.linkedAuthProviders, QStringList{QStringLiteral("google")});
        // expiresIn must be a whole number; 1.5 is not one.
        QCOMPARE(failureKind([&] {
                     EmailChallenge::fromJson(jsonObject(QByteArray(challengeJson).replace("600", "1.5")));
                 }),
                 "decode");

        const TotpSetup setup = TotpSetup::fromJson(jsonObject(j("{'setupId':'s','otpauthUri':'otpauth://x','secret':'S', 'qrCodeDataUrl':null,'expiresIn':1,'expiresAt':'2025-01-02T03:04:05Z'}")));
        QVERIFY(!setup.qrCodeDataUrl);
        QCOMPARE(TotpSetup::fromJson(setup.toJson()), setup);
    }

    void chatRecords()
    {
        KavrelChatCompletionRequest request;
        request.model = QStringLiteral("deepseek-chat");
        request.messages = {{QStringLiteral("system"), QStringLiteral("s")}, {QStringLiteral("user"), QStringLiteral("u")}};
        QJsonObject json = request.toJson();
        QCOMPARE(json.keys(), (QStringList{QStringLiteral("messages"), QStringLiteral("model"), QStringLiteral("stream")}));
        request.temperature = 0.2;
        request.maxTokens = 800;
        json = request.toJson();
        QCOMPARE(json.value(QStringLiteral("max_tokens")).toInteger(), 800);
        QCOMPARE(json.value(QStringLiteral("messages")).toArray().at(1).toObject().value(QStringLiteral("role")).toString(),
                 QStringLiteral("user"));

        const auto response = KavrelChatCompletionResponse::fromJson(jsonObject(j("{'choices':[{'message':{}}, {'message':{'content':'hi'},'finish_reason':'stop'}]}")));
        QCOMPARE(response.choices.size(), 2);
        QVERIFY(!response.choices.at(0).message.content);
        QVERIFY(!response.choices.at(0).finishReason);
        QCOMPARE(response.choices.at(1).message.content, std::optional<QString>(QStringLiteral("hi")));
        QCOMPARE(failureKind([&] { KavrelChatCompletionResponse::fromJson(jsonObject(j("{'choices':[{}]}"))); }), "decode");
    }
};

QTEST_GUILESS_MAIN(tst_AccountModel)
#include "tst_AccountModel.moc"
