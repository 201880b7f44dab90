// The fake product backend as a process of its own, for the end-to-end run of the real program:
// sign-in with an authenticator, the speech relay with scripted results, live translation,
// history and billing. Prints its base URL on the first line of standard output and serves until
// it is terminated. GET /e2e/state tells the test what the server holds: every meeting record
// (in the detail shape), every usage event, and every history and usage request with the e-mail
// of the account whose token it carried. Two accounts can sign in: ada@example.com and
// grace@example.com, both with an authenticator. POST /e2e/history/down and /e2e/history/up take
// the history endpoint away and bring it back; POST /e2e/history/lost has it carry out every
// request and lose the answer (a gateway's 502 instead), /e2e/history/dropped the same with
// the connection closed unanswered, and POST /e2e/history/silent has it take every request and
// never answer. POST /e2e/ai/failing has the AI service answer every request with a 500,
// /e2e/ai/silent has it take every request and never answer, and /e2e/ai/up brings it back.
// GET /e2e/state also counts the speech relay's open connections. POST
// /e2e/auth/lose-code-answer has the next authenticator-code check carried out and its answer
// lost (the connection closes unanswered); POST /e2e/auth/refuse-refresh has every later token
// refresh refused for good (401 invalid_grant), until POST /e2e/auth/refresh-up. POST
// /e2e/speech/drop drops the speech relay's connections, as a network hiccup does.
//
// --session-lifetime <seconds>: the lifetime of the access tokens it issues (an hour unless set).
// --keep-talking: instead of the three scripted turns, the speaker never stops, as in a long
// meeting: an interim result every second and a final one every four seconds.
//
// --no-chat: the chat-completion proxy refuses every request (503), so the rewrite of closed turns
// leaves them, and their live translations, as the relays gave them.
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/FakeSpeechRelay.h"
#include "support/FakeTranslationRelay.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// What the scripted speaker says, one final result every few seconds after the relay opens.
const QStringList scriptedTurns = {
    QStringLiteral("Good morning everyone, thank you for joining."),
    QStringLiteral("Today we review the launch plan for the new release."),
    QStringLiteral("Please send your questions before Friday."),
};

// Sentences the endless speaker cycles through, each said over four seconds.
const QStringList endlessSentences = {
    QStringLiteral("Let us go through the numbers of the last quarter one more time."),
    QStringLiteral("The release moves to Thursday so that the team can finish the tests."),
    QStringLiteral("Marketing needs the final screenshots by the end of the week."),
    QStringLiteral("We will review the open questions in the next meeting."),
};

// Every operation of the history endpoint, for the test's outages.
const char *const historyOperations[] = {"RecoverMeetingSession", "StartMeetingSession", "UpdateMeetingSession",
                                         "MeetingSessionRevision", "MeetingSessions", "MeetingSession"};

void talkForever(FakeWebSocketSession *session)
{
    auto *timer = new QTimer(session);
    auto second = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, session, [session, second] {
        const int now = (*second)++;
        const QString sentence = endlessSentences.at((now / 4) % endlessSentences.size());
        const QStringList words = sentence.split(u' ');
        if (now % 4 == 3) {
            session->sendText(FakeSpeechRelay::results(sentence, true, true));
            return;
        }
        const qsizetype spoken = words.size() * (now % 4 + 1) / 4;
        session->sendText(FakeSpeechRelay::results(words.mid(0, spoken).join(u' '), false, false));
    });
    timer->start(1000);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);

    FakeBackend backend;
    if (!backend.start())
        return 1;
    FakeAuthBackend auth(&backend);
    auth.addAccount(QStringLiteral("ada@example.com"), QStringLiteral("correct-horse-battery"),
                    QStringLiteral("Ada Lovelace"), true);
    // Another person on the same computer.
    auth.addAccount(QStringLiteral("grace@example.com"), QStringLiteral("analytical-engine-1843"),
                    QStringLiteral("Grace Hopper"), true);
    FakeHistoryBackend history(&backend);
    FakeBillingBackend billing(&backend);
    FakeTranslationRelay translation(&backend);
    FakeSpeechRelay speech(&backend);

    // History and billing accept whichever session the sign-in issued; whose it was is noted.
    QJsonArray requests;
    // How many times each sign-in route was asked.
    QJsonObject signInRequests;
    QObject::connect(&backend, &FakeBackend::requestReceived, &application, [&](const RecordedRequest &request) {
        if (request.path.startsWith(QLatin1String("/api/auth/email/")))
            signInRequests[request.path] = signInRequests.value(request.path).toInt() + 1;
        const bool toHistory = request.path == QLatin1String(FakeHistoryBackend::graphQLPath);
        if (toHistory || request.path == QLatin1String(FakeBillingBackend::usageEventsPath)) {
            const std::optional<QString> account = auth.accountOf(request);
            requests.append(QJsonObject{
                {"path", request.path},
                {"operation", toHistory ? FakeHistoryBackend::operationName(request.json().value("query").toString()) : QString()},
                {"account", account ? QJsonValue(*account) : QJsonValue()}});
        }
        const QByteArray authorization = request.header("Authorization");
        if (!authorization.startsWith("Bearer "))
            return;
        const QString token = QString::fromUtf8(authorization.mid(7));
        if (auth.isAccessTokenValid(token)) {
            history.setAccessToken(token);
            billing.setAccessToken(token);
        }
    });

    const QStringList arguments = application.arguments();
    if (arguments.contains(QStringLiteral("--no-chat")))
        auth.setChatCompletionReply(FakeResponse::json(503, QJsonObject{{"error", QJsonObject{{"message", "unavailable"}}}}));
    const bool keepTalking = arguments.contains(QStringLiteral("--keep-talking"));
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--session-lifetime")); at > 0 && at + 1 < arguments.size())
        auth.setSessionLifetimeSeconds(arguments.at(at + 1).toLongLong());
    speech.onOpen = [keepTalking](FakeWebSocketSession *session) {
        if (keepTalking) {
            talkForever(session);
            return;
        }
        QPointer<FakeWebSocketSession> guarded(session);
        for (qsizetype index = 0; index < scriptedTurns.size(); ++index) {
            const QString text = scriptedTurns.at(index);
            QTimer::singleShot(int(500 + 1000 * index), [guarded, text] {
                if (!guarded)
                    return;
                guarded->sendText(FakeSpeechRelay::results(text.left(text.size() / 2), false, false));
                guarded->sendText(FakeSpeechRelay::results(text, true, true));
            });
        }
    };

    backend.route("GET", QStringLiteral("/e2e/state"), [&history, &billing, &speech, &requests, &signInRequests](const RecordedRequest &) {
        QJsonArray meetings;
        for (const QString &id : history.meetingIds()) {
            if (const std::optional<QJsonObject> meeting = history.meeting(id))
                meetings.append(*meeting);
        }
        QJsonArray events;
        for (const QJsonObject &event : billing.events())
            events.append(event);
        int speechConnections = 0;
        for (const FakeWebSocketSession *session : speech.sessions())
            speechConnections += session && session->isConnected() ? 1 : 0;
        return FakeResponse::json(200, QJsonObject{{"meetings", meetings}, {"usageEvents", events}, {"requests", requests},
                                                   {"speechConnections", speechConnections}, {"signInRequests", signInRequests}});
    });

    // The sign-in answers take their time (each request is handled as it comes), and are quick again.
    backend.route("POST", QStringLiteral("/e2e/auth/slow"), [&auth](const RecordedRequest &) {
        auth.setReplyDelay(4000);
        return FakeResponse::json(200, QJsonObject{{"auth", "slow"}});
    });
    backend.route("POST", QStringLiteral("/e2e/auth/quick"), [&auth](const RecordedRequest &) {
        auth.setReplyDelay(0);
        return FakeResponse::json(200, QJsonObject{{"auth", "quick"}});
    });

    backend.route("POST", QStringLiteral("/e2e/auth/lose-code-answer"), [&auth](const RecordedRequest &) {
        auth.loseNextAnswers(FakeAuthBackend::mfaVerifyPath, 1);
        return FakeResponse::json(200, QJsonObject{{"auth", "code answer lost"}});
    });
    backend.route("POST", QStringLiteral("/e2e/auth/refuse-refresh"), [&auth](const RecordedRequest &) {
        const QJsonObject refusal{{"error", "invalid_grant"}, {"error_description", "The refresh token was revoked."}};
        auth.failNext(FakeAuthBackend::refreshPath, FakeResponse::json(401, refusal), 1000000);
        return FakeResponse::json(200, QJsonObject{{"auth", "refresh refused"}});
    });
    backend.route("POST", QStringLiteral("/e2e/speech/drop"), [&speech](const RecordedRequest &) {
        for (FakeWebSocketSession *session : speech.sessions()) {
            if (session && session->isConnected())
                session->abort();
        }
        return FakeResponse::json(200, QJsonObject{{"speech", "dropped"}});
    });
    backend.route("POST", QStringLiteral("/e2e/auth/refresh-up"), [&auth](const RecordedRequest &) {
        auth.failNext(FakeAuthBackend::refreshPath, FakeResponse::json(200, QJsonObject()), 0);
        return FakeResponse::json(200, QJsonObject{{"auth", "refresh up"}});
    });

    // The history endpoint goes away (every request's connection closes unanswered) and comes
    // back, as the test says.
    backend.route("POST", QStringLiteral("/e2e/history/down"), [&history](const RecordedRequest &) {
        for (const char *operation : historyOperations) {
            FakeHistoryBackend::ScriptedReply reply = FakeHistoryBackend::ScriptedReply::dropConnection(false);
            history.script(QString::fromLatin1(operation), reply);
        }
        return FakeResponse::json(200, QJsonObject{{"history", "down"}});
    });
    backend.route("POST", QStringLiteral("/e2e/history/lost"), [&history](const RecordedRequest &) {
        for (const char *operation : historyOperations) {
            FakeHistoryBackend::ScriptedReply reply =
                FakeHistoryBackend::ScriptedReply::httpFailure(502, "<html>502 Bad Gateway</html>", "text/html");
            reply.commitEvery = true;
            reply.times = 0;
            history.script(QString::fromLatin1(operation), reply);
        }
        return FakeResponse::json(200, QJsonObject{{"history", "lost"}});
    });
    backend.route("POST", QStringLiteral("/e2e/history/silent"), [&history](const RecordedRequest &) {
        for (const char *operation : historyOperations) {
            FakeHistoryBackend::ScriptedReply reply = FakeHistoryBackend::ScriptedReply::hang(false);
            reply.times = 0;
            history.script(QString::fromLatin1(operation), reply);
        }
        return FakeResponse::json(200, QJsonObject{{"history", "silent"}});
    });
    backend.route("POST", QStringLiteral("/e2e/history/dropped"), [&history](const RecordedRequest &) {
        for (const char *operation : historyOperations) {
            FakeHistoryBackend::ScriptedReply reply = FakeHistoryBackend::ScriptedReply::dropConnection(false);
            reply.commitEvery = true;
            history.script(QString::fromLatin1(operation), reply);
        }
        return FakeResponse::json(200, QJsonObject{{"history", "dropped"}});
    });
    backend.route("POST", QStringLiteral("/e2e/history/up"), [&history](const RecordedRequest &) {
        history.clearScripts();
        return FakeResponse::json(200, QJsonObject{{"history", "up"}});
    });

    backend.route("POST", QStringLiteral("/e2e/ai/failing"), [&auth](const RecordedRequest &) {
        auth.setChatCompletionReply(FakeResponse::json(500, QJsonObject{{"error", QJsonObject{{"message", "boom"}}}}));
        return FakeResponse::json(200, QJsonObject{{"ai", "failing"}});
    });
    backend.route("POST", QStringLiteral("/e2e/ai/silent"), [&auth](const RecordedRequest &) {
        auth.setChatCompletionReply(FakeResponse::hang());
        return FakeResponse::json(200, QJsonObject{{"ai", "silent"}});
    });
    backend.route("POST", QStringLiteral("/e2e/ai/up"), [&auth](const RecordedRequest &) {
        auth.setChatCompletionReply(std::nullopt);
        return FakeResponse::json(200, QJsonObject{{"ai", "up"}});
    });

    std::printf("%s\n", backend.baseUrl().toString().toUtf8().constData());
    std::fflush(stdout);
    return application.exec();
}
