#include "accounts/AuthService.h"
#include "accounts/KavrelBackendProxyError.h"
#include "accounts/KavrelBackendProxyService.h"
#include "services/DeepSeekAnswerAssistService.h"
#include "services/DeepSeekMeetingProtocolService.h"
#include "services/DeepSeekSummaryService.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <memory>

namespace {

// What the model is asked, written out in full for the inputs below.
const char *const inputLanguage = "English ";
const char *const outputLanguage = "Russian";
const char *const protocolLanguage = "German";
const char *const sentTranscript = "  \n Hello there.\nHow are you? \t\n";

const char *const summarySystem =
    "Summarize transcripts in Russian. Keep only explicit facts. Use 8 to 12 concise bullet points. Preserve requests, decisions, dates, names, and next steps. Do not invent details. Do not cut off mid-bullet.";

const char *const summaryUser =
    "Source language: English \n"
    "Output language: Russian\n"
    "\n"
    "Transcript:\n"
    "Hello there.\n"
    "How are you?";

const char *const answerSystem =
    "You help a user answer naturally during a live meeting. Read the transcript and identify the most recent question asked by another participant.\n"
    "Tags mean: [REMOTE] = other people in the meeting, [YOU] = the local user.\n"
    "Draft a reply in Russian that sounds like something a real person would say out loud right now.\n"
    "Keep it conversational, clear, and reasonably short. Prefer 1 to 3 natural spoken sentences, not an essay.\n"
    "Use first-person wording when appropriate. Do not sound academic, robotic, or encyclopedic.\n"
    "Do not mention the transcript, the tags, or that you are an assistant.\n"
    "If context is incomplete, make the most reasonable helpful assumption and phrase it naturally, without overexplaining.\n"
    "If there is no clear question yet, say that there is no clear question yet in one short natural sentence.\n"
    "Return only the suggested answer text. No analysis, no labels, no bullet points unless the answer truly needs a tiny list.";

const char *const answerUser =
    "Transcript source language: English \n"
    "Answer language: Russian\n"
    "\n"
    "Transcript:\n"
    "Hello there.\n"
    "How are you?";

const char *const protocolUser =
    "You are given a meeting transcript.\n"
    "\n"
    "Your task is to convert it into a full structured meeting protocol (meeting minutes), not a short summary.\n"
    "\n"
    "Requirements:\n"
    "\n"
    "Capture ALL meaningful topics discussed during the meeting in logical order.\n"
    "Structure the result into sections:\n"
    "Topics discussed\n"
    "Decisions made\n"
    "Agreed actions\n"
    "Responsible persons (if identifiable from the transcript)\n"
    "Open questions / unresolved points\n"
    "Do not omit secondary but meaningful discussions — the protocol must reflect the full meeting, not only the main topic.\n"
    "Remove conversational noise:\n"
    "repetitions\n"
    "interruptions\n"
    "filler phrases\n"
    "emotional or informal fragments that do not affect meaning\n"
    "Preserve meaning precisely:\n"
    "do not invent facts\n"
    "do not add interpretations not present in the transcript\n"
    "if no decision was made, explicitly state that the topic remains open\n"
    "Organize mixed discussions by topic first, even if they were interleaved in conversation.\n"
    "Use professional business style:\n"
    "clear, structured, concise, but sufficiently complete.\n"
    "Output format:\n"
    "Meeting Protocol\n"
    "1. Topics Discussed\n"
    "...\n"
    "2. Decisions Made\n"
    "...\n"
    "3. Agreed Actions\n"
    "...\n"
    "4. Responsible Persons\n"
    "...\n"
    "5. Open Questions\n"
    "...\n"
    "Important:\n"
    "Do not compress content too aggressively.\n"
    "The goal is to preserve the full substance of the meeting while making it structured and readable.\n"
    "Inputi and Output language: German\n"
    "\n"
    "Below is the transcript:\n"
    "\n"
    "Hello there.\n"
    "How are you?";

const QString chatPath = QString::fromLatin1(FakeAuthBackend::chatCompletionsPath);

QJsonObject message(const char *role, const char *content)
{
    return QJsonObject{{"role", QString::fromLatin1(role)}, {"content", QString::fromUtf8(content)}};
}

QJsonObject request(const QJsonArray &messages, double temperature, int maxTokens)
{
    return QJsonObject{{"model", "deepseek-chat"}, {"messages", messages}, {"temperature", temperature},
                       {"max_tokens", maxTokens}, {"stream", false}};
}

FakeResponse reply(std::optional<QString> content, std::optional<QString> finishReason = QStringLiteral("stop"),
                   int choices = 1)
{
    QJsonArray list;
    for (int i = 0; i < choices; ++i) {
        QJsonObject choiceMessage{{"role", "assistant"}};
        choiceMessage.insert("content", content ? QJsonValue(i == 0 ? *content : QStringLiteral("other choice")) : QJsonValue());
        QJsonObject choice{{"index", i}, {"message", choiceMessage}};
        choice.insert("finish_reason", finishReason ? QJsonValue(*finishReason) : QJsonValue());
        list.append(choice);
    }
    return FakeResponse::json(200, QJsonObject{{"id", "chatcmpl-1"}, {"choices", list}});
}

enum class Kind { summary, answer, protocol };

} // namespace

Q_DECLARE_METATYPE(Kind)

class tst_DeepSeekTextServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void requestsAreExact_data();
    void requestsAreExact();
    void cutOffReplyIsAskedOnceMore_data();
    void cutOffReplyIsAskedOnceMore();
    void emptyReplies_data();
    void emptyReplies();
    void blankTranscriptSendsNothing_data();
    void blankTranscriptSendsNothing();
    void failuresOfTheFirstAttemptAreWrapped();

private:
    TaskResult<QString> run(Kind kind, const QString &transcript = QString::fromUtf8(sentTranscript));

    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_fakeAuth;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<KavrelBackendProxyService> m_proxy;
};

void tst_DeepSeekTextServices::init()
{
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_fakeAuth = std::make_unique<FakeAuthBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
    m_fakeAuth->registerSession(TestAuth::defaultSession());
    m_proxy = std::make_unique<KavrelBackendProxyService>(m_auth.get());
}

void tst_DeepSeekTextServices::cleanup()
{
    m_proxy.reset();
    m_auth.reset();
    m_fakeAuth.reset();
    m_backend.reset();
}

TaskResult<QString> tst_DeepSeekTextServices::run(Kind kind, const QString &transcript)
{
    switch (kind) {
    case Kind::summary: {
        DeepSeekSummaryService service(m_proxy.get());
        return runTask(service.summarize(transcript, QString::fromLatin1(inputLanguage), QString::fromLatin1(outputLanguage)));
    }
    case Kind::answer: {
        DeepSeekAnswerAssistService service(m_proxy.get());
        return runTask(service.suggestAnswer(transcript, QString::fromLatin1(inputLanguage), QString::fromLatin1(outputLanguage)));
    }
    case Kind::protocol: {
        DeepSeekMeetingProtocolService service(m_proxy.get());
        return runTask(service.generateProtocol(transcript, QString::fromLatin1(protocolLanguage)));
    }
    }
    return {};
}

void tst_DeepSeekTextServices::requestsAreExact_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QJsonObject>("expected");

    QTest::newRow("summary") << Kind::summary
                             << request({message("system", summarySystem), message("user", summaryUser)}, 0, 640);
    QTest::newRow("answer") << Kind::answer
                            << request({message("system", answerSystem), message("user", answerUser)}, 0.2, 420);
    QTest::newRow("protocol") << Kind::protocol << request({message("user", protocolUser)}, 0, 2200);
}

void tst_DeepSeekTextServices::requestsAreExact()
{
    QFETCH(Kind, kind);
    QFETCH(QJsonObject, expected);
    m_fakeAuth->setChatCompletionReply(reply(QStringLiteral("  The result.\n")));

    const auto outcome = run(kind);
    QCOMPARE(outcome.value, QStringLiteral("The result."));
    const auto requests = m_backend->requests(chatPath);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().json(), expected);
    QCOMPARE(requests.first().header("Authorization"), QByteArray("Bearer test-access-token"));
    if (kind == Kind::protocol) {
        // The instructions are 1346 bytes of UTF-8 (one em dash among them) before the language.
        const QByteArray content = expected.value("messages").toArray().first().toObject().value("content").toString().toUtf8();
        QCOMPARE(content.indexOf(protocolLanguage), 1346);
    }
}

void tst_DeepSeekTextServices::cutOffReplyIsAskedOnceMore_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("firstLimit");
    QTest::addColumn<int>("secondLimit");
    QTest::addColumn<QString>("truncatedText");

    QTest::newRow("summary") << Kind::summary << 640 << 1100 << "The AI backend returned a truncated summary response.";
    QTest::newRow("protocol") << Kind::protocol << 2200 << 3600 << "The AI backend returned a truncated meeting protocol response.";
}

void tst_DeepSeekTextServices::cutOffReplyIsAskedOnceMore()
{
    QFETCH(Kind, kind);
    QFETCH(int, firstLimit);
    QFETCH(int, secondLimit);
    QFETCH(QString, truncatedText);

    m_backend->routeSequence("POST", chatPath, {reply(QStringLiteral("- half a"), QStringLiteral("length")),
                                                reply(QStringLiteral("- whole\n"), QStringLiteral("stop"))});
    const auto completed = run(kind);
    QCOMPARE(completed.value, QStringLiteral("- whole"));
    auto requests = m_backend->requests(chatPath);
    QCOMPARE(requests.size(), 2);
    QJsonObject first = requests.at(0).json();
    QJsonObject second = requests.at(1).json();
    QCOMPARE(first.value("max_tokens").toInt(), firstLimit);
    QCOMPARE(second.value("max_tokens").toInt(), secondLimit);
    first.remove("max_tokens");
    second.remove("max_tokens");
    QCOMPARE(second, first);

    // Cut off twice: the second attempt's error reaches the caller as it is.
    m_backend->clearRecords();
    m_backend->routeSequence("POST", chatPath, {reply(QStringLiteral("- half a"), QStringLiteral("length"))});
    const auto truncated = run(kind);
    QVERIFY(!truncated.succeeded());
    QCOMPARE(errorMessage(truncated.error), truncatedText);
    QCOMPARE(m_backend->requests(chatPath).size(), 2);

    // A suggested answer that was cut off is still used, after one request.
    m_backend->clearRecords();
    const auto answer = run(Kind::answer);
    QCOMPARE(answer.value, QStringLiteral("- half a"));
    QCOMPARE(m_backend->requests(chatPath).size(), 1);
}

void tst_DeepSeekTextServices::emptyReplies_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<FakeResponse>("answer");
    QTest::addColumn<QString>("message"); // empty: success with "first"

    const QString emptySummary = QStringLiteral("The app could not generate a summary: The AI backend returned an empty summary response.");
    const QString emptyProtocol = QStringLiteral("The app could not generate a meeting protocol: The AI backend returned an empty meeting protocol response.");
    const QString emptyAnswer = QStringLiteral("The AI backend returned an empty answer suggestion.");
    const FakeResponse blank = reply(QStringLiteral("  \n"));
    const FakeResponse blankCutOff = reply(QStringLiteral(" "), QStringLiteral("length"));
    const FakeResponse noContent = reply(std::nullopt);
    const FakeResponse noChoices = FakeResponse::json(200, QJsonObject{{"choices", QJsonArray()}});
    const FakeResponse several = reply(QStringLiteral("first"), std::nullopt, 3);

    QTest::newRow("summary, blank") << Kind::summary << blank << emptySummary;
    QTest::newRow("summary, blank and cut off") << Kind::summary << blankCutOff << emptySummary;
    QTest::newRow("summary, no content") << Kind::summary << noContent << emptySummary;
    QTest::newRow("summary, no choices") << Kind::summary << noChoices << emptySummary;
    QTest::newRow("summary, several choices") << Kind::summary << several << QString();
    QTest::newRow("protocol, blank and cut off") << Kind::protocol << blankCutOff << emptyProtocol;
    QTest::newRow("protocol, no choices") << Kind::protocol << noChoices << emptyProtocol;
    QTest::newRow("answer, blank") << Kind::answer << blank << emptyAnswer;
    QTest::newRow("answer, no content") << Kind::answer << noContent << emptyAnswer;
    QTest::newRow("answer, several choices") << Kind::answer << several << QString();
}

void tst_DeepSeekTextServices::emptyReplies()
{
    QFETCH(Kind, kind);
    QFETCH(FakeResponse, answer);
    QFETCH(QString, message);
    m_fakeAuth->setChatCompletionReply(answer);
    const auto outcome = run(kind);
    if (message.isEmpty()) {
        QCOMPARE(outcome.value, QStringLiteral("first"));
    } else {
        QVERIFY(!outcome.succeeded());
        QCOMPARE(errorMessage(outcome.error), message);
    }
    QCOMPARE(m_backend->requests(chatPath).size(), 1);
}

void tst_DeepSeekTextServices::blankTranscriptSendsNothing_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("summary") << Kind::summary << "The AI backend returned an empty summary response.";
    QTest::newRow("answer") << Kind::answer << "The AI backend returned an empty answer suggestion.";
    QTest::newRow("protocol") << Kind::protocol << "The AI backend returned an empty meeting protocol response.";
}

void tst_DeepSeekTextServices::blankTranscriptSendsNothing()
{
    QFETCH(Kind, kind);
    QFETCH(QString, message);
    const auto outcome = run(kind, QStringLiteral(" \n\t \u2028"));
    QVERIFY(!outcome.succeeded());
    QCOMPARE(errorMessage(outcome.error), message);
    QCOMPARE(m_backend->requests(chatPath).size(), 0);
}

void tst_DeepSeekTextServices::failuresOfTheFirstAttemptAreWrapped()
{
    const FakeResponse upstreamDown =
        FakeResponse::json(502, QJsonObject{{"error", QJsonObject{{"message", " Upstream model unavailable "}}}});
    m_fakeAuth->setChatCompletionReply(upstreamDown);

    const auto summary = run(Kind::summary);
    QCOMPARE(errorMessage(summary.error), QStringLiteral("The app could not generate a summary: Upstream model unavailable"));
    QCOMPARE(summary.errorAs<DeepSeekSummaryError>()->errorCase(), DeepSeekSummaryError::Case::requestFailed);
    QCOMPARE(errorMessage(run(Kind::answer).error), QStringLiteral("The app could not draft an answer: Upstream model unavailable"));
    QCOMPARE(errorMessage(run(Kind::protocol).error),
             QStringLiteral("The app could not generate a meeting protocol: Upstream model unavailable"));

    // Signed out, the proxy's own text follows the prefix.
    auto signedOut = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
    KavrelBackendProxyService proxy(signedOut.get());
    DeepSeekSummaryService service(&proxy);
    const auto signedOutSummary = runTask(service.summarize(QStringLiteral("Hi"), QStringLiteral("English"), QStringLiteral("English")));
    QCOMPARE(errorMessage(signedOutSummary.error),
             QStringLiteral("The app could not generate a summary: Sign in to use КАВРЕЛ AI and live transcription features."));

    // Only the first attempt wraps: the retry's failure comes as the proxy made it.
    m_backend->routeSequence("POST", chatPath, {reply(QStringLiteral("- half"), QStringLiteral("length")), upstreamDown});
    const auto retried = run(Kind::protocol);
    const auto proxyError = retried.errorAs<KavrelBackendProxyError>();
    QVERIFY(proxyError.has_value());
    QCOMPARE(*proxyError, KavrelBackendProxyError::serverError(QStringLiteral("Upstream model unavailable")));
}

QTEST_GUILESS_MAIN(tst_DeepSeekTextServices)
#include "tst_DeepSeekTextServices.moc"
