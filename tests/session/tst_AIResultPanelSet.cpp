#include "accounts/AuthService.h"
#include "accounts/KavrelBackendProxyService.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "services/DeepSeekAnswerAssistService.h"
#include "services/DeepSeekMeetingProtocolService.h"
#include "services/DeepSeekSummaryService.h"
#include "session/AILocalFallback.h"
#include "session/AIResultPanelSet.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/TestAuth.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString chatPath = QString::fromLatin1(FakeAuthBackend::chatCompletionsPath);
const QString transcript = QStringLiteral("[10:00:00] We agreed to ship on Friday.\n[10:00:05] Who owns testing?");

FakeResponse reply(const QString &content)
{
    const QJsonObject message{{"role", "assistant"}, {"content", content}};
    const QJsonObject choice{{"index", 0}, {"message", message}, {"finish_reason", "stop"}};
    return FakeResponse::json(200, QJsonObject{{"id", "chatcmpl-1"}, {"choices", QJsonArray{choice}}});
}

FakeResponse failure()
{
    return FakeResponse::json(502, QJsonObject{{"error", QJsonObject{{"message", "upstream down"}}}});
}

} // namespace

class tst_AIResultPanelSet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void oneRequestAtATimeAndColumnVisibility();
    void summaryIsShownAgainButProtocolIsAskedAgain();
    void failureShowsAFallbackThatIsNeverStored();
    void resultsOfAnEndedConversationAreDropped_data();
    void resultsOfAnEndedConversationAreDropped();
    void blankTranscriptStartsNothing();
    void clearEndsTheRunningRequest();

    void fallbackTexts_data();
    void fallbackTexts();
    void fallbackTextsReadInTheInterfaceLanguage();

private:
    void waitIdle() { QVERIFY(FakeBackend::waitUntil([&] { return !m_panels->isAnyLoading(); })); }

    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<KavrelLocalizationStore> m_localization;
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_fakeAuth;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<KavrelBackendProxyService> m_proxy;
    std::unique_ptr<DeepSeekSummaryService> m_summary;
    std::unique_ptr<DeepSeekMeetingProtocolService> m_protocol;
    std::unique_ptr<DeepSeekAnswerAssistService> m_answer;
    QUuid m_generation;
    std::unique_ptr<AIResultPanelSet> m_panels;
};

void tst_AIResultPanelSet::init()
{
    m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("preferences.ini")));
    m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
    m_localization->setLanguage(KavrelAppLanguage::english);
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_fakeAuth = std::make_unique<FakeAuthBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
    m_fakeAuth->registerSession(TestAuth::defaultSession());
    m_proxy = std::make_unique<KavrelBackendProxyService>(m_auth.get());
    m_summary = std::make_unique<DeepSeekSummaryService>(m_proxy.get());
    m_protocol = std::make_unique<DeepSeekMeetingProtocolService>(m_proxy.get());
    m_answer = std::make_unique<DeepSeekAnswerAssistService>(m_proxy.get());
    m_generation = QUuid::createUuid();
    m_panels = std::make_unique<AIResultPanelSet>(m_summary.get(), m_protocol.get(), m_answer.get(), *m_localization,
                                                [this] { return m_generation; });
}

void tst_AIResultPanelSet::cleanup()
{
    m_panels.reset();
    m_answer.reset();
    m_protocol.reset();
    m_summary.reset();
    m_proxy.reset();
    m_auth.reset();
    m_fakeAuth.reset();
    m_backend.reset();
}

void tst_AIResultPanelSet::oneRequestAtATimeAndColumnVisibility()
{
    m_fakeAuth->setChatCompletionReply(reply(QStringLiteral("- minutes")).withDelay(150));
    QSignalSpy saves(m_panels.get(), &AIResultPanelSet::historySaveRequested);

    // An answer is open in the source column; the translation column has a summary.
    m_panels->restoreText(AIPanel::translationSummary, QStringLiteral("kept"));
    m_panels->startSummary(AIResultTarget::translation, transcript, "English", "English");
    QVERIFY(m_panels->isVisible(AIPanel::translationSummary)); // shown again, no request
    m_panels->startAnswerAssist(AIResultTarget::source, transcript, "English", "English");
    waitIdle();
    QCOMPARE(saves.count(), 0); // an answer brings no save of its own
    QVERIFY(m_panels->isVisible(AIPanel::transcriptAnswer));

    m_panels->startMeetingProtocol(AIResultTarget::source, transcript, "English");
    QVERIFY(m_panels->isLoading(AIPanel::transcriptProtocol));
    QVERIFY(m_panels->isVisible(AIPanel::transcriptProtocol));
    QVERIFY(!m_panels->isVisible(AIPanel::transcriptAnswer));
    QVERIFY(m_panels->isVisible(AIPanel::translationSummary)); // the other column is untouched

    // While it loads, every tool of both columns refuses.
    m_panels->startSummary(AIResultTarget::source, transcript, "English", "English");
    m_panels->startAnswerAssist(AIResultTarget::translation, transcript, "English", "English");
    QVERIFY(!m_panels->isVisible(AIPanel::transcriptSummary));
    QVERIFY(!m_panels->isVisible(AIPanel::translationAnswer));

    waitIdle();
    QCOMPARE(m_backend->requestCount(chatPath), 2);
    QCOMPARE(m_panels->text(AIPanel::transcriptProtocol), QStringLiteral("- minutes"));
    QCOMPARE(m_panels->errorMessage(AIPanel::transcriptProtocol), std::nullopt);
    QCOMPARE(saves.count(), 1);
}

void tst_AIResultPanelSet::summaryIsShownAgainButProtocolIsAskedAgain()
{
    m_fakeAuth->setChatCompletionReply(reply(QStringLiteral("- point")));
    m_panels->startSummary(AIResultTarget::source, transcript, "English", "English");
    waitIdle();
    m_panels->startMeetingProtocol(AIResultTarget::source, transcript, "English"); // hides the summary
    waitIdle();
    QVERIFY(!m_panels->isVisible(AIPanel::transcriptSummary));
    m_panels->startSummary(AIResultTarget::source, transcript, "English", "English");
    QVERIFY(m_panels->isVisible(AIPanel::transcriptSummary));
    QVERIFY(!m_panels->isLoading(AIPanel::transcriptSummary));
    m_panels->startMeetingProtocol(AIResultTarget::source, transcript, "English");
    waitIdle();
    QCOMPARE(m_backend->requestCount(chatPath), 3);
}

void tst_AIResultPanelSet::failureShowsAFallbackThatIsNeverStored()
{
    m_fakeAuth->setChatCompletionReply(failure());
    QSignalSpy saves(m_panels.get(), &AIResultPanelSet::historySaveRequested);
    m_panels->startSummary(AIResultTarget::source, transcript, "English", "English");
    waitIdle();
    QCOMPARE(m_panels->text(AIPanel::transcriptSummary), AILocalFallback::summary(transcript));
    QCOMPARE(m_panels->errorMessage(AIPanel::transcriptSummary),
             std::optional<QString>(QStringLiteral("AI summary failed, showing a local fallback instead.")));
    QVERIFY(m_panels->isShowingFallback(AIPanel::transcriptSummary));
    QCOMPARE(m_panels->storedText(AIPanel::transcriptSummary), QString());
    QCOMPARE(saves.count(), 1);

    // Asking again while the fallback shows asks the service again; its answer replaces it.
    m_fakeAuth->setChatCompletionReply(reply(QStringLiteral("- real")));
    m_panels->startSummary(AIResultTarget::source, transcript, "English", "English");
    QVERIFY(m_panels->isLoading(AIPanel::transcriptSummary));
    waitIdle();
    QCOMPARE(m_panels->storedText(AIPanel::transcriptSummary), QStringLiteral("- real"));
    QCOMPARE(m_panels->errorMessage(AIPanel::transcriptSummary), std::nullopt);

    m_fakeAuth->setChatCompletionReply(failure());
    m_panels->startMeetingProtocol(AIResultTarget::translation, transcript, "English");
    waitIdle();
    QCOMPARE(m_panels->errorMessage(AIPanel::translationProtocol),
             std::optional<QString>(QStringLiteral("AI protocol failed, showing a local fallback instead.")));
    QCOMPARE(m_panels->storedText(AIPanel::translationProtocol), QString());
    m_panels->startAnswerAssist(AIResultTarget::source, transcript, "English", "English");
    waitIdle();
    QCOMPARE(m_panels->text(AIPanel::transcriptAnswer), AILocalFallback::answer(transcript));
    QCOMPARE(m_panels->errorMessage(AIPanel::transcriptAnswer),
             std::optional<QString>(QStringLiteral("AI answer assist failed, showing a local fallback instead.")));
}

void tst_AIResultPanelSet::resultsOfAnEndedConversationAreDropped_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("summary") << 0 << true;
    QTest::newRow("protocol") << 1 << true;
    QTest::newRow("answer") << 2 << true;
    QTest::newRow("protocol fallback") << 1 << false;
}

void tst_AIResultPanelSet::resultsOfAnEndedConversationAreDropped()
{
    QFETCH(int, tool);
    QFETCH(bool, succeeds);
    m_fakeAuth->setChatCompletionReply((succeeds ? reply(QStringLiteral("late")) : failure()).withDelay(100));
    QSignalSpy saves(m_panels.get(), &AIResultPanelSet::historySaveRequested);
    const AIPanel panel = tool == 0 ? AIPanel::transcriptSummary : tool == 1 ? AIPanel::transcriptProtocol : AIPanel::transcriptAnswer;
    if (tool == 0)
        m_panels->startSummary(AIResultTarget::source, transcript, "English", "English");
    else if (tool == 1)
        m_panels->startMeetingProtocol(AIResultTarget::source, transcript, "English");
    else
        m_panels->startAnswerAssist(AIResultTarget::source, transcript, "English", "English");
    QVERIFY(m_panels->isLoading(panel));

    // "Start New": a new conversation, its panels emptied.
    m_generation = QUuid::createUuid();
    m_panels->clear();
    waitIdle();
    QCOMPARE(m_panels->text(panel), QString());
    QVERIFY(!m_panels->isVisible(panel));
    QCOMPARE(saves.count(), 0);
}

void tst_AIResultPanelSet::blankTranscriptStartsNothing()
{
    QSignalSpy changes(m_panels.get(), &AIResultPanelSet::transcriptSummaryChanged);
    m_panels->startSummary(AIResultTarget::source, QStringLiteral(" \n\t "), "English", "English");
    m_panels->startMeetingProtocol(AIResultTarget::source, QString(), "English");
    QVERIFY(!m_panels->isAnyLoading());
    QCOMPARE(changes.count(), 0);
    QCOMPARE(m_backend->requestCount(chatPath), 0);
}

void tst_AIResultPanelSet::clearEndsTheRunningRequest()
{
    // The last meeting's protocol never answers; the next meeting's tools work at once.
    m_fakeAuth->setChatCompletionReply(FakeResponse::hang());
    m_panels->startMeetingProtocol(AIResultTarget::source, transcript, "English");
    QVERIFY(m_panels->isLoading(AIPanel::transcriptProtocol));
    m_generation = QUuid::createUuid();
    m_panels->clear();
    QVERIFY(!m_panels->isAnyLoading());

    m_fakeAuth->setChatCompletionReply(reply(QStringLiteral("- next")));
    m_panels->startSummary(AIResultTarget::source, transcript, "English", "English");
    QVERIFY(m_panels->isLoading(AIPanel::transcriptSummary));
    waitIdle();
    QCOMPARE(m_panels->storedText(AIPanel::transcriptSummary), QStringLiteral("- next"));
    QCOMPARE(m_panels->text(AIPanel::transcriptProtocol), QString());
}

void tst_AIResultPanelSet::fallbackTexts_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("answer");

    QTest::newRow("decision and question")
        << QStringLiteral("[10:00:00] Anna: we   agreed on the ship date.\n[10:00:05] Ben: who owns testing?")
        << "- Anna: we agreed on the ship date.\n- Ben: who owns testing?"
        << "Meeting Protocol\n\n1. Topics Discussed\n- Anna: we agreed on the ship date.\n- Ben: who owns testing?\n\n"
           "2. Decisions Made\n- Anna: we agreed on the ship date.\n\n3. Open Questions\n- Ben: who owns testing?"
        << "A concise fallback answer can acknowledge the latest question and respond to its main point directly.\n\n"
           "Latest question:\nBen: who owns testing?\n\nMost recent context:\nBen: who owns testing?";
    QTest::newRow("no question, no decision")
        << QStringLiteral("first line\n\n[10:00:01]   \nlast line")
        << "- first line\n- last line"
        << "Meeting Protocol\n\n1. Topics Discussed\n- first line\n- last line\n\n2. Decisions Made\n"
           "- No explicit decisions detected in the local fallback.\n\n3. Open Questions\n"
           "- No explicit open questions detected in the local fallback."
        << "A safe fallback answer is to confirm the latest point and add the most recent concrete detail from the "
           "conversation.\n\nLatest context:\nlast line";
    QTest::newRow("only time stamps") << QStringLiteral("[10:00:00]\n[10:00:01]  ") << QStringLiteral("[10:00:00]\n[10:00:01]  ")
                                      << QStringLiteral("[10:00:00]\n[10:00:01]  ") << QStringLiteral("[10:00:00]\n[10:00:01]  ");
}

void tst_AIResultPanelSet::fallbackTexts()
{
    QFETCH(QString, input);
    QFETCH(QString, summary);
    QFETCH(QString, protocol);
    QFETCH(QString, answer);
    QCOMPARE(AILocalFallback::summary(input), summary);
    QCOMPARE(AILocalFallback::meetingProtocol(input), protocol);
    QCOMPARE(AILocalFallback::answer(input), answer);

    // Long transcripts: twelve summary bullets, eight topics.
    QStringList many;
    for (int i = 1; i <= 20; ++i)
        many.append(QStringLiteral("[10:00:%1] line %2").arg(i, 2, 10, QLatin1Char('0')).arg(i));
    QCOMPARE(AILocalFallback::summary(many.join('\n')).count(QStringLiteral("- ")), 12);
    QVERIFY(AILocalFallback::meetingProtocol(many.join('\n')).contains(QStringLiteral("- line 8\n\n2. Decisions")));
}

void tst_AIResultPanelSet::fallbackTextsReadInTheInterfaceLanguage()
{
    m_localization->setLanguage(KavrelAppLanguage::russian);
    const QString lines = QStringLiteral("[10:00:01] We agreed on Friday.\n[10:00:05] Who sends the notes?");
    QCOMPARE(AILocalFallback::meetingProtocol(lines, m_localization.get()),
             QStringLiteral("Протокол встречи\n\n1. Обсуждённые темы\n- We agreed on Friday.\n- Who sends the notes?\n\n"
                            "2. Принятые решения\n- We agreed on Friday.\n\n3. Открытые вопросы\n- Who sends the notes?"));
    QCOMPARE(AILocalFallback::meetingProtocol(QStringLiteral("[10:00:01] Hello"), m_localization.get()),
             QStringLiteral("Протокол встречи\n\n1. Обсуждённые темы\n- Hello\n\n2. Принятые решения\n"
                            "- В локальной версии явных решений не найдено.\n\n3. Открытые вопросы\n"
                            "- В локальной версии явных открытых вопросов не найдено."));
    QCOMPARE(AILocalFallback::answer(lines, m_localization.get()),
             QStringLiteral("Короткий запасной ответ: отметьте последний вопрос и ответьте прямо на его суть.\n\n"
                            "Последний вопрос:\nWho sends the notes?\n\nПоследний контекст:\nWho sends the notes?"));
    // Without a store, or in English, the texts are the English ones the other cases check.
    m_localization->setLanguage(KavrelAppLanguage::english);
    QCOMPARE(AILocalFallback::answer(lines, m_localization.get()), AILocalFallback::answer(lines));

    // The panel set writes its fallback in the interface language.
    m_localization->setLanguage(KavrelAppLanguage::russian);
    m_fakeAuth->setChatCompletionReply(failure());
    m_panels->startMeetingProtocol(AIResultTarget::source, transcript, "English");
    waitIdle();
    QVERIFY(m_panels->text(AIPanel::transcriptProtocol).startsWith(QStringLiteral("Протокол встречи\n\n1. Обсуждённые темы\n")));
    QCOMPARE(m_panels->errorMessage(AIPanel::transcriptProtocol),
             std::optional<QString>(QStringLiteral("Не удалось создать AI-протокол, вместо него показана локальная версия.")));
}

QTEST_GUILESS_MAIN(tst_AIResultPanelSet)
#include "tst_AIResultPanelSet.moc"
