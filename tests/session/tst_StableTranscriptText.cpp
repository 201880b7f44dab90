#include "session/StableTranscriptText.h"

#include <QTest>

using StableTranscriptText::TranslatedLine;

class tst_StableTranscriptText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rewriteRequestIsExact();
    void codeFences_data();
    void codeFences();
    void structuredReply_data();
    void structuredReply();
    void translatedLines_data();
    void translatedLines();
};

void tst_StableTranscriptText::rewriteRequestIsExact()
{
    const KavrelChatCompletionRequest request = StableTranscriptText::reconstructionRequest(
        QStringLiteral("[10:00:00] hello\n[10:00:03] world"));
    QCOMPARE(request.model, QStringLiteral("deepseek-chat"));
    QCOMPARE(request.temperature, std::optional<double>(0));
    QCOMPARE(request.maxTokens, std::optional<qint64>(900));
    QCOMPARE(request.stream, false);
    QCOMPARE(request.messages.size(), 2);
    QCOMPARE(request.messages[0].role, QStringLiteral("system"));
    QCOMPARE(request.messages[0].content.size(), 406);
    QVERIFY(request.messages[0].content.endsWith(QStringLiteral("No markdown, no explanations, no code fences.")));
    QVERIFY(request.messages[0].content.contains(QStringLiteral("\n[{\"timestamp\":\"HH:mm:ss\",\"text\":\"clean text\"}]\n")));
    QCOMPARE(request.messages[1].role, QStringLiteral("user"));
    QCOMPARE(request.messages[1].content,
             QStringLiteral("Reconstruct this stable dialogue window:\n\n[10:00:00] hello\n[10:00:03] world"));
}

void tst_StableTranscriptText::codeFences_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("cleaned");
    QTest::newRow("plain") << " [1] \n" << "[1]";
    QTest::newRow("fence with language tag") << "```json\n[{\"a\":1}]\n```" << "[{\"a\":1}]";
    QTest::newRow("fence without tag") << "```\n[2]\n```  " << "[2]";
    QTest::newRow("one-line fence keeps its opening") << "```[3]```" << "```[3]";
    QTest::newRow("unclosed fence") << "```json\n[4]" << "[4]";
    QTest::newRow("fence inside text stays") << "x ```y```" << "x ```y```";
}

void tst_StableTranscriptText::codeFences()
{
    QFETCH(QString, reply);
    QFETCH(QString, cleaned);
    QCOMPARE(StableTranscriptText::stripMarkdownCodeFence(reply), cleaned);
}

void tst_StableTranscriptText::structuredReply_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<std::optional<QStringList>>("texts");
    const std::optional<QStringList> none;
    QTest::newRow("two lines") << R"([{"timestamp":"10:00:00","text":"Hello."},{"timestamp":"10:00:03","speaker":null,"text":" "}])"
                               << std::optional<QStringList>(QStringList{"Hello.", " "});
    QTest::newRow("speaker present") << R"([{"timestamp":"x","speaker":"A","text":"t"}])"
                                     << std::optional<QStringList>(QStringList{"t"});
    QTest::newRow("empty array") << "[]" << std::optional<QStringList>(QStringList{});
    QTest::newRow("missing text") << R"([{"timestamp":"10:00:00"}])" << none;
    QTest::newRow("missing timestamp") << R"([{"text":"a"}])" << none;
    QTest::newRow("number as text") << R"([{"timestamp":"1","text":5}])" << none;
    QTest::newRow("speaker of wrong type") << R"([{"timestamp":"1","speaker":3,"text":"a"}])" << none;
    QTest::newRow("one bad element fails all") << R"([{"timestamp":"1","text":"a"},7])" << none;
    QTest::newRow("object, not array") << R"({"timestamp":"1","text":"a"})" << none;
    QTest::newRow("prose") << "Here you go: []" << none;
}

void tst_StableTranscriptText::structuredReply()
{
    QFETCH(QString, reply);
    QFETCH(std::optional<QStringList>, texts);
    QCOMPARE(StableTranscriptText::structuredDialogueTexts(reply), texts);
}

void tst_StableTranscriptText::translatedLines_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<QStringList>("translations");
    QTest::newRow("time stamp and text") << "[10:00:00] Hello there" << QStringList{"Hello there"};
    QTest::newRow("time stamp, label, text") << "[10:00:00]  Anna:  Hello" << QStringList{"Anna: Hello"};
    QTest::newRow("blank lines dropped") << "\n[10:00:00] a\n\n   \n[10:00:01] b\n" << QStringList{"a", "b"};
    QTest::newRow("no time stamp") << "  plain line  " << QStringList{"plain line"};
    QTest::newRow("bracket start is no label") << "[note]: x" << QStringList{"[note]: x"};
    QTest::newRow("label up to 81 characters")
        << QString(QString(81, QLatin1Char('L')) + QStringLiteral(": x")) << QStringList{QString(81, QLatin1Char('L')) + ": x"};
    QTest::newRow("longer is no label") << QString(QString(82, QLatin1Char('L')) + QStringLiteral(": x"))
                                        << QStringList{QString(82, QLatin1Char('L')) + ": x"};
    QTest::newRow("time at the start is taken apart") << "[10:00:00] Time: 10:30 today" << QStringList{"Time: 10:30 today"};
    QTest::newRow("malformed time stays in text") << "[1:00:00] hi" << QStringList{"[1:00:00] hi"};
}

void tst_StableTranscriptText::translatedLines()
{
    QFETCH(QString, block);
    QFETCH(QStringList, translations);
    QStringList actual;
    const QList<TranslatedLine> lines = StableTranscriptText::parseTranslatedStableLines(block);
    for (const TranslatedLine &line : lines)
        actual.append(StableTranscriptText::translationText(line));
    QCOMPARE(actual, translations);
}

QTEST_GUILESS_MAIN(tst_StableTranscriptText)
#include "tst_StableTranscriptText.moc"
