#include "session/LiveTranslationRouter.h"
#include "session/SessionTurnStore.h"
#include "session/StableReconstructionScheduler.h"
#include "speech/TranslationTestSupport.h"

#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString chatPath = QString::fromLatin1(FakeTranslationRelay::chatPath);

// The transcript lines of the last message of a chat request.
QStringList transcriptLinesOf(const RecordedRequest &request)
{
    const QJsonArray messages = request.json().value("messages").toArray();
    const QString content = messages.last().toObject().value("content").toString();
    static const QRegularExpression line(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\] .*$"), QRegularExpression::MultilineOption);
    QStringList lines;
    auto it = line.globalMatch(content);
    while (it.hasNext())
        lines.append(it.next().captured(0));
    return lines;
}

bool isRewrite(const RecordedRequest &request)
{
    return request.json().value("messages").toArray().first().toObject().value("content").toString().startsWith(
        QStringLiteral("Reconstruct clean"));
}

FakeResponse chatReply(const QString &content)
{
    const QJsonObject message{{"role", "assistant"}, {"content", content}};
    return FakeResponse::json(200, QJsonObject{{"choices", QJsonArray{QJsonObject{{"index", 0}, {"message", message}}}}});
}

} // namespace

class tst_StableReconstructionScheduler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void windowSelection_data();
    void windowSelection();
    void backlogIsWorkedOffWindowByWindow();
    void repliesThatDoNotFit_data();
    void repliesThatDoNotFit();
    void aChangedWindowIsNotWrittenBack();
    void aTranslationThatArrivedMeanwhileIsKept();
    void blockTranslationReplacesTranslations();
    void newTurnsDoNotCancelARunningRewrite();
    void aPendingPreviewPostponesTheRun();

private:
    void addClosedTurns(int count);
    bool waitForStable(int index) { return FakeBackend::waitUntil([&] { return m_scheduler->nextStableTurnIndex() == index && !m_scheduler->isRunning(); }); }
    QList<RecordedRequest> rewrites() const;

    enum class Reply { clean, extraLine, fenced, blankTexts, notJson };

    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<KavrelLocalizationStore> m_localization;
    std::unique_ptr<TranslationTest::Fixture> m_fixture;
    std::unique_ptr<SessionTurnStore> m_turns;
    std::unique_ptr<LiveTranslationRouter> m_router;
    std::unique_ptr<StableReconstructionScheduler> m_scheduler;
    Reply m_reply = Reply::clean;
    int m_replyDelayMs = 0;
    int m_clock = 0;
};

void tst_StableReconstructionScheduler::init()
{
    m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("preferences.ini")));
    m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
    m_fixture = std::make_unique<TranslationTest::Fixture>();
    m_reply = Reply::clean;
    m_replyDelayMs = 0;
    m_clock = 0;
    // The model rewrites each line as "Clean <text>"; the block translation as "EN <text>".
    m_fixture->backend.route("POST", chatPath, [this](const RecordedRequest &request) {
        const QStringList lines = transcriptLinesOf(request);
        if (!isRewrite(request)) {
            QStringList translated;
            for (const QString &line : lines)
                translated.append(line.left(11) + QStringLiteral("EN ") + line.mid(11));
            return chatReply(translated.join('\n')).withDelay(m_replyDelayMs);
        }
        QJsonArray items;
        for (const QString &line : lines) {
            const QString text = m_reply == Reply::blankTexts ? QStringLiteral("  ") : QStringLiteral("Clean ") + line.mid(11);
            items.append(QJsonObject{{"timestamp", line.mid(1, 8)}, {"speaker", QJsonValue()}, {"text", text}});
        }
        if (m_reply == Reply::extraLine)
            items.append(QJsonObject{{"timestamp", "00:00:00"}, {"text", "extra"}});
        QString content = QString::fromUtf8(QJsonDocument(items).toJson(QJsonDocument::Compact));
        if (m_reply == Reply::fenced)
            content = QStringLiteral("```json\n") + content + QStringLiteral("\n```");
        if (m_reply == Reply::notJson)
            content = QStringLiteral("Sure! Here is the dialogue.");
        return chatReply(content).withDelay(m_replyDelayMs);
    });
    m_turns = std::make_unique<SessionTurnStore>([this] {
        return QDateTime(QDate(2026, 5, 4), QTime(10, 0).addSecs(m_clock++));
    });
    m_router = std::make_unique<LiveTranslationRouter>(
        m_fixture->service.get(), m_turns.get(), *m_localization, [] { return LiveTranslationRouter::Settings(); },
        [](const QUuid &) { return true; }, [](const std::optional<QString> &) {});
    m_scheduler = std::make_unique<StableReconstructionScheduler>(m_turns.get(), m_fixture->proxy.get(),
                                                                  m_fixture->service.get(), m_router.get());
    m_scheduler->setDebounce(std::chrono::milliseconds(10));
}

void tst_StableReconstructionScheduler::cleanup()
{
    m_scheduler.reset();
    m_router.reset();
    m_turns.reset();
    m_fixture.reset();
}

void tst_StableReconstructionScheduler::addClosedTurns(int count)
{
    const int first = m_turns->count();
    for (int i = 0; i < count; ++i)
        m_turns->applyFinalTranscript(QStringLiteral("turn %1.").arg(first + i), true);
}

QList<RecordedRequest> tst_StableReconstructionScheduler::rewrites() const
{
    QList<RecordedRequest> result;
    const QList<RecordedRequest> requests = m_fixture->backend.requests(chatPath);
    for (const RecordedRequest &request : requests) {
        if (isRewrite(request))
            result.append(request);
    }
    return result;
}

void tst_StableReconstructionScheduler::windowSelection_data()
{
    QTest::addColumn<int>("closed");
    QTest::addColumn<bool>("lastOpen");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("end"); // -1: no window
    QTest::addColumn<int>("offset");
    QTest::newRow("three turns") << 3 << false << 0 << 0 << 3 << 0;
    QTest::newRow("twelve turns, first window") << 12 << false << 0 << 0 << 5 << 0;
    QTest::newRow("twelve turns, second window") << 12 << false << 5 << 3 << 10 << 3;
    QTest::newRow("twelve turns, last window") << 12 << false << 10 << 8 << 12 << 8;
    QTest::newRow("open turn stays outside") << 2 << true << 0 << 0 << 2 << 0;
    QTest::newRow("all stable") << 4 << true << 4 << 0 << -1 << 0;
    QTest::newRow("no turns") << 0 << false << 0 << 0 << -1 << 0;
}

void tst_StableReconstructionScheduler::windowSelection()
{
    QFETCH(int, closed);
    QFETCH(bool, lastOpen);
    QFETCH(int, next);
    QFETCH(int, first);
    QFETCH(int, end);
    QFETCH(int, offset);
    std::vector<SessionTurn> turns(std::size_t(closed + (lastOpen ? 1 : 0)));
    for (std::size_t i = 0; i < turns.size(); ++i)
        turns[i].isClosed = int(i) < closed;
    const auto window = StableTranscriptText::stableWindowSelection(turns, next);
    if (end < 0) {
        QVERIFY(!window);
        return;
    }
    QVERIFY(window);
    QCOMPARE(*window, (StableTranscriptText::StableWindow{first, end, offset}));
}

void tst_StableReconstructionScheduler::backlogIsWorkedOffWindowByWindow()
{
    addClosedTurns(12);
    QVERIFY(waitForStable(12));
    const QList<RecordedRequest> sent = rewrites();
    QCOMPARE(sent.size(), 3);
    QCOMPARE(transcriptLinesOf(sent[0]).size(), 5);
    QCOMPARE(transcriptLinesOf(sent[1]).size(), 7);
    QCOMPARE(transcriptLinesOf(sent[1]).first(), QStringLiteral("[10:00:03] Clean turn 3."));
    QCOMPARE(transcriptLinesOf(sent[2]).size(), 4);
    QCOMPARE(m_turns->at(11).text, QStringLiteral("Clean turn 11."));
    // Context turns are sent again as they now read.
    QCOMPARE(m_turns->at(3).text, QStringLiteral("Clean Clean turn 3."));
    const QJsonObject body = sent[0].json();
    QCOMPARE(body.value("max_tokens").toInt(), 900);
    QCOMPARE(body.value("temperature").toDouble(), 0.0);
}

void tst_StableReconstructionScheduler::repliesThatDoNotFit_data()
{
    QTest::addColumn<int>("reply");
    QTest::addColumn<QString>("text");
    QTest::newRow("one line too many") << int(Reply::extraLine) << "turn 0.";
    QTest::newRow("not JSON") << int(Reply::notJson) << "turn 0.";
    QTest::newRow("blank texts keep the live text") << int(Reply::blankTexts) << "turn 0.";
    QTest::newRow("fenced reply is read") << int(Reply::fenced) << "Clean turn 0.";
}

void tst_StableReconstructionScheduler::repliesThatDoNotFit()
{
    QFETCH(int, reply);
    QFETCH(QString, text);
    m_reply = Reply(reply);
    m_turns->applyFinalTranscript(QStringLiteral("turn 0."), true);
    m_turns->setSpeakerLabels(0, QStringLiteral("A"), QStringLiteral("B"));
    addClosedTurns(1);
    QVERIFY(waitForStable(2)); // the window counts as done either way
    QCOMPARE(m_turns->at(0).text, text);
    QCOMPARE(rewrites().size(), 1);
}

void tst_StableReconstructionScheduler::aChangedWindowIsNotWrittenBack()
{
    m_replyDelayMs = 150;
    addClosedTurns(2);
    QVERIFY(FakeBackend::waitUntil([&] { return rewrites().size() == 1; }));
    m_turns->setText(1, QStringLiteral("turn 1, corrected."));
    QVERIFY(FakeBackend::waitUntil([&] { return !m_scheduler->isRunning(); }));
    QCOMPARE(m_scheduler->nextStableTurnIndex(), 0);
    QCOMPARE(m_turns->at(0).text, QStringLiteral("turn 0."));
}

void tst_StableReconstructionScheduler::aTranslationThatArrivedMeanwhileIsKept()
{
    m_replyDelayMs = 150;
    addClosedTurns(2);
    m_turns->setTranslationText(0, QStringLiteral("old"));
    QVERIFY(FakeBackend::waitUntil([&] { return rewrites().size() == 1; }));
    // The completed translation of turn 1 arrives while the model works.
    m_router->applyTranslationEvent(DeepSeekTranslationEvent::completed(m_turns->at(1).id, QStringLiteral("turn one")));
    QVERIFY(waitForStable(2));
    QCOMPARE(m_turns->at(1).text, QStringLiteral("Clean turn 1."));
    QCOMPARE(m_turns->at(1).translationText, QStringLiteral("turn one"));
    QCOMPARE(m_turns->at(0).translationText, QStringLiteral("old"));
}

void tst_StableReconstructionScheduler::blockTranslationReplacesTranslations()
{
    QVERIFY(m_fixture->startReady());
    m_turns->setTranslationAvailable(true);
    m_turns->applyFinalTranscript(QStringLiteral("eins."), true);
    m_turns->setTranslationText(0, QStringLiteral("live one"));
    QVERIFY(waitForStable(1));
    QCOMPARE(m_turns->at(0).text, QStringLiteral("Clean eins."));
    QCOMPARE(m_turns->at(0).translationText, QStringLiteral("EN Clean eins."));
    QCOMPARE(m_turns->at(0).translationSpeakerLabel, std::nullopt);
}

void tst_StableReconstructionScheduler::newTurnsDoNotCancelARunningRewrite()
{
    m_replyDelayMs = 100;
    addClosedTurns(1);
    // Speech goes on: a turn closes while each request is out.
    for (int round = 1; round <= 3; ++round) {
        QVERIFY(FakeBackend::waitUntil([&] { return rewrites().size() == round; }));
        addClosedTurns(1);
    }
    QVERIFY(waitForStable(4));
    // Every request was answered and written; none was thrown away by the next closed turn.
    QCOMPARE(rewrites().size(), 4);
    QCOMPARE(m_turns->at(0).text, QStringLiteral("Clean Clean Clean turn 0."));
    QCOMPARE(m_turns->at(3).text, QStringLiteral("Clean turn 3."));
}

void tst_StableReconstructionScheduler::aPendingPreviewPostponesTheRun()
{
    addClosedTurns(1);
    m_turns->applyFinalTranscript(QStringLiteral("still"), false);
    m_router->applyTranslationEvent(DeepSeekTranslationEvent::preview(m_turns->at(1).id, QStringLiteral("noch")));
    QTest::qWait(100);
    QCOMPARE(rewrites().size(), 0);
    m_router->applyTranslationEvent(DeepSeekTranslationEvent::completed(m_turns->at(1).id, QStringLiteral("still")));
    QVERIFY(waitForStable(1));
    QCOMPARE(rewrites().size(), 1);
}

QTEST_GUILESS_MAIN(tst_StableReconstructionScheduler)
#include "tst_StableReconstructionScheduler.moc"
