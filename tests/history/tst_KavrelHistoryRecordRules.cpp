#include "history/KavrelHistoryDetailTab.h"
#include "history/KavrelHistoryLabels.h"
#include "history/KavrelHistoryRecordRules.h"

#include "HistoryTestData.h"

#include <QTest>

using namespace HistoryTestData;
namespace Rules = KavrelHistoryRecordRules;
namespace Labels = KavrelHistoryLabels;

namespace {

MeetingSessionTranscriptBlock block(const QString &id, qint64 seq, const QString &timestamp, const QString &text,
                                    std::optional<QString> speaker = std::nullopt)
{
    MeetingSessionTranscriptBlock result;
    result.id = id;
    result.seq = seq;
    result.timestamp = timestamp;
    result.text = text;
    result.speakerLabel = speaker;
    return result;
}

QStringList describe(const QList<MeetingSessionTranscriptBlock> &blocks)
{
    QStringList result;
    for (const auto &b : blocks)
        result.append(QStringLiteral("%1|%2|%3|%4").arg(b.id).arg(b.seq).arg(b.timestamp, b.text));
    return result;
}

QStringList describe(const QList<MeetingSessionTranslationBlock> &blocks)
{
    QStringList result;
    for (const auto &b : blocks)
        result.append(QStringLiteral("%1|%2|%3|%4").arg(b.transcriptBlockId).arg(b.seq).arg(b.language, b.text));
    return result;
}

} // namespace

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<qint64>)
using OptionalBlocks = std::optional<QList<MeetingSessionTranscriptBlock>>;
Q_DECLARE_METATYPE(OptionalBlocks)

class tst_KavrelHistoryRecordRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void timestampSplit_data();
    void timestampSplit();
    void rebuiltTranscriptKeepsLineNumbers();
    void rebuiltTranslationPairsByPositionWithoutIdCollisions_data();
    void rebuiltTranslationPairsByPositionWithoutIdCollisions();
    void copyableTranscriptSortsAndFormatsBlocks();
    void copyableTranscriptPresence_data();
    void copyableTranscriptPresence();
    void snapshotCarriesTheRecordWithTheNewSummary();
    void languageNames_data();
    void languageNames();
    void localFallback_data();
    void localFallback();
    void durationLabels_data();
    void durationLabels();
    void languagePairAndStatusLabels();
    void footerLines();
    void storedValuesInWords_data();
    void storedValuesInWords();
    void detailTabRawValues();
};

void tst_KavrelHistoryRecordRules::timestampSplit_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("timestamp");
    QTest::addColumn<QString>("text");
    QTest::newRow("time and text") << "  [12:34] Hello " << "12:34" << "Hello";
    QTest::newRow("short bracket keeps brackets") << "[1:2] Hi" << "00:00:00" << "[1:2] Hi";
    QTest::newRow("unclosed bracket") << "[12:34:56 Hi" << "00:00:00" << "[12:34:56 Hi";
    QTest::newRow("no bracket") << "Plain" << "00:00:00" << "Plain";
    QTest::newRow("bracket only") << "[09:00:00]" << "09:00:00" << "";
    QTest::newRow("graphemes counted") << "[e\u0301e\u0301e\u0301e\u0301] x" << "00:00:00" << "[e\u0301e\u0301e\u0301e\u0301] x";
}

void tst_KavrelHistoryRecordRules::timestampSplit()
{
    QFETCH(QString, line);
    QFETCH(QString, timestamp);
    QFETCH(QString, text);
    const auto components = Rules::timestampedComponents(line);
    QCOMPARE(components.timestamp, timestamp);
    QCOMPARE(components.text, text);
}

void tst_KavrelHistoryRecordRules::rebuiltTranscriptKeepsLineNumbers()
{
    // A line with a time and a word, an empty line, a time alone, a word without a time.
    const MeetingSessionHistoryDetail detail =
        record(QStringLiteral("m1"), QStringLiteral("[09:00:01] Hello\n\n[09:00:02]\r\nBye"));
    QCOMPARE(describe(Rules::persistedTranscriptBlocks(detail)),
             (QStringList{"history-m1-transcript-1|1|09:00:01|Hello", "history-m1-transcript-3|3|00:00:00|Bye"}));

    MeetingSessionHistoryDetail stored = detail;
    stored.transcriptJson = QList<MeetingSessionTranscriptBlock>{block("turn-x", 7, "t", "kept")};
    QCOMPARE(describe(Rules::persistedTranscriptBlocks(stored)), QStringList{"turn-x|7|t|kept"});
}

void tst_KavrelHistoryRecordRules::rebuiltTranslationPairsByPositionWithoutIdCollisions_data()
{
    QTest::addColumn<QString>("transcript");
    QTest::addColumn<QString>("translation");
    QTest::addColumn<std::optional<QString>>("language");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("third line beyond two blocks")
        << "A\nB" << "[09:00:01] Eins\nZwei\nDrei" << std::optional<QString>(" DE ")
        << QStringList{"history-m-transcript-1|1|de|Eins", "history-m-transcript-2|2|de|Zwei",
                       "history-m-transcript-3|3|de|Drei"};
    // Block 2 of the transcript was a time alone, so its blocks are 1 and 3: an extra
    // translation line must not take block 3's id.
    QTest::newRow("numbers past a skipped line")
        << "A\n[09:00:02]\nC" << "Eins\nZwei\nDrei" << std::optional<QString>()
        << QStringList{"history-m-transcript-1|1|translation|Eins", "history-m-transcript-3|3|translation|Zwei",
                       "history-m-transcript-4|4|translation|Drei"};
    QTest::newRow("blank language") << "A" << "Eins" << std::optional<QString>("  ")
                                    << QStringList{"history-m-transcript-1|1|translation|Eins"};
    QTest::newRow("no transcript") << "" << "Eins" << std::optional<QString>("fr")
                                   << QStringList{"history-m-transcript-1|1|fr|Eins"};
}

void tst_KavrelHistoryRecordRules::rebuiltTranslationPairsByPositionWithoutIdCollisions()
{
    QFETCH(QString, transcript);
    QFETCH(QString, translation);
    QFETCH(std::optional<QString>, language);
    QFETCH(QStringList, expected);

    MeetingSessionHistoryDetail detail = record(QStringLiteral("m"), transcript);
    detail.translationText = translation;
    detail.translationLanguage = language;
    const auto blocks = Rules::persistedTranslationBlocks(detail);
    QCOMPARE(describe(blocks), expected);

    QSet<QString> transcriptIDs;
    for (const auto &b : Rules::persistedTranscriptBlocks(detail))
        transcriptIDs.insert(b.id);
    QSet<QString> seen;
    for (const auto &b : blocks) {
        QVERIFY2(!seen.contains(b.transcriptBlockId), qPrintable(b.transcriptBlockId));
        seen.insert(b.transcriptBlockId);
    }
}

void tst_KavrelHistoryRecordRules::copyableTranscriptSortsAndFormatsBlocks()
{
    MeetingSessionHistoryDetail detail = record(QStringLiteral("m"), QStringLiteral("ignored"));
    detail.transcriptJson = QList<MeetingSessionTranscriptBlock>{
        block("c", 2, "09:00:03", "  third ", QStringLiteral(" Ann ")),
        block("b", 1, "09:00:02", "second"),
        block("a", 1, "09:00:01", "first", QStringLiteral("  ")),
        block("d", 3, " ", "no time", QStringLiteral("Bob")),
        block("e", 4, "", "bare"),
        block("f", 5, "09:00:09", " \n "),
    };
    QCOMPARE(Rules::copyableTranscriptText(detail),
             std::optional<QString>("[09:00:01] first\n[09:00:02] second\n[09:00:03] Ann: third\nBob: no time\nbare"));

    detail.transcriptJson = QList<MeetingSessionTranscriptBlock>{};
    detail.transcriptText = QStringLiteral("  plain  ");
    QCOMPARE(Rules::copyableTranscriptText(detail), std::optional<QString>("plain"));
    detail.transcriptText = QStringLiteral(" \n");
    QVERIFY(!Rules::copyableTranscriptText(detail));
}

void tst_KavrelHistoryRecordRules::copyableTranscriptPresence_data()
{
    using Blocks = OptionalBlocks;
    QTest::addColumn<Blocks>("blocks");
    QTest::addColumn<std::optional<QString>>("text");
    QTest::addColumn<bool>("present");
    const std::optional<QString> none;
    QTest::newRow("nothing") << Blocks() << none << false;
    QTest::newRow("blank text") << Blocks() << std::optional<QString>(QStringLiteral(" \n\t")) << false;
    QTest::newRow("text") << Blocks() << std::optional<QString>(QStringLiteral(" hi ")) << true;
    QTest::newRow("no blocks, text") << Blocks(QList<MeetingSessionTranscriptBlock>{})
                                     << std::optional<QString>(QStringLiteral("hi")) << true;
    QTest::newRow("blank blocks with times and speakers")
        << Blocks(QList<MeetingSessionTranscriptBlock>{block("a", 1, "09:00:01", " ", QStringLiteral("Ann")),
                                                       block("b", 2, "09:00:02", "\u2028\n")})
        << none << false;
    QTest::newRow("blank blocks win over the text")
        << Blocks(QList<MeetingSessionTranscriptBlock>{block("a", 1, "09:00:01", "  ")})
        << std::optional<QString>(QStringLiteral("plain")) << false;
    QTest::newRow("one block with words among blank ones")
        << Blocks(QList<MeetingSessionTranscriptBlock>{block("a", 1, "", " "), block("b", 2, "", " ok "),
                                                       block("c", 3, "", "")})
        << none << true;
}

// The quick answer for the buttons agrees with the text that Copy would put together.
void tst_KavrelHistoryRecordRules::copyableTranscriptPresence()
{
    QFETCH(OptionalBlocks, blocks);
    QFETCH(std::optional<QString>, text);
    QFETCH(bool, present);
    MeetingSessionHistoryDetail detail = record(QStringLiteral("m"), text);
    detail.transcriptJson = blocks;
    QCOMPARE(Rules::copyableTranscriptText(detail).has_value(), present);
    QCOMPARE(Rules::hasCopyableTranscript(detail), present);
}

void tst_KavrelHistoryRecordRules::snapshotCarriesTheRecordWithTheNewSummary()
{
    MeetingSessionHistoryDetail detail = record(QStringLiteral("m"), QStringLiteral("[09:00:01] Hi"));
    detail.status = QStringLiteral("ACTIVE");
    detail.inputLanguage = QStringLiteral("  ");
    detail.translationEnabled = false;
    detail.translationLanguage = QStringLiteral("de");
    detail.microphoneLabel = QStringLiteral(" ");
    detail.protocolText = QStringLiteral(" Protocol ");
    detail.suggestedAnswerText = QStringLiteral("  ");
    detail.processedByApp = QStringLiteral(" linux ");
    detail.durationSeconds = 61;

    MeetingSessionHistorySnapshot snapshot = Rules::snapshot(detail, QStringLiteral(" - new \n"));
    QCOMPARE(snapshot.status, MeetingSessionHistoryStatus::active);
    QCOMPARE(snapshot.inputLanguage, QStringLiteral("en"));
    QVERIFY(!snapshot.translationLanguage);
    QVERIFY(!snapshot.microphoneLabel);
    QCOMPARE(snapshot.summaryText, std::optional<QString>("- new"));
    QCOMPARE(snapshot.protocolText, std::optional<QString>("Protocol"));
    QVERIFY(!snapshot.suggestedAnswerText);
    QCOMPARE(snapshot.durationSeconds, std::optional<qint64>(61));
    QCOMPARE(snapshot.sessionParams.client, QStringLiteral("linux"));
    QCOMPARE(snapshot.sessionParams.source, QStringLiteral("history"));
    QCOMPARE(snapshot.transcriptBlocks.size(), 1);

    detail.status = QStringLiteral("archived");
    detail.inputLanguage = QStringLiteral(" RU ");
    detail.translationEnabled = true;
    detail.translationLanguage = QStringLiteral(" DE ");
    MeetingSessionHistorySessionParams params;
    params.client = QStringLiteral("macos");
    params.source = QStringLiteral("system_audio");
    params.clientSessionId = QStringLiteral("kavrel-macos-history-1");
    detail.sessionParams = params;
    snapshot = Rules::snapshot(detail, QStringLiteral("  "));
    QCOMPARE(snapshot.status, MeetingSessionHistoryStatus::completed);
    QCOMPARE(snapshot.inputLanguage, QStringLiteral("ru"));
    QCOMPARE(snapshot.translationLanguage, std::optional<QString>("de"));
    QVERIFY(!snapshot.summaryText);
    QCOMPARE(snapshot.sessionParams, params);
}

void tst_KavrelHistoryRecordRules::languageNames_data()
{
    QTest::addColumn<std::optional<QString>>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("pt-BR") << std::optional<QString>("pt-BR") << "English";
    QTest::newRow("EN") << std::optional<QString>("EN") << "English";
    QTest::newRow("de-AT") << std::optional<QString>("de-AT") << "German";
    QTest::newRow("Russian") << std::optional<QString>(" Russian ") << "Russian";
    QTest::newRow("es") << std::optional<QString>("es") << "Spanish";
    QTest::newRow("-fr-") << std::optional<QString>("-fr-") << "French";
    QTest::newRow("dash only") << std::optional<QString>("-") << "English";
    QTest::newRow("none") << std::optional<QString>() << "English";
}

void tst_KavrelHistoryRecordRules::languageNames()
{
    QFETCH(std::optional<QString>, code);
    QFETCH(QString, name);
    QCOMPARE(Rules::deepSeekLanguageName(code), name);
}

void tst_KavrelHistoryRecordRules::localFallback_data()
{
    QTest::addColumn<QString>("transcript");
    QTest::addColumn<QString>("expected");

    QStringList twenty;
    QStringList firstTwelve;
    for (int i = 1; i <= 20; ++i) {
        twenty.append(QStringLiteral("[09:00:%1] Line %2").arg(i, 2, 10, QLatin1Char('0')).arg(i));
        if (i == 5)
            twenty.append(QStringLiteral("   "));
        if (i <= 12)
            firstTwelve.append(QStringLiteral("- Line %1").arg(i));
    }
    QTest::newRow("twenty lines") << twenty.join('\n') << firstTwelve.join('\n');
    QTest::newRow("blank lines only") << " \n\t\n" << " \n\t\n";
    QTest::newRow("copied line with speaker") << "[09:00:01] Ann: Hello" << "- Ann: Hello";
    QTest::newRow("short bracket kept") << "[1:2] x" << "- [1:2] x";
}

void tst_KavrelHistoryRecordRules::localFallback()
{
    QFETCH(QString, transcript);
    QFETCH(QString, expected);
    QCOMPARE(Rules::localFallbackSummary(transcript), expected);
}

void tst_KavrelHistoryRecordRules::durationLabels_data()
{
    QTest::addColumn<std::optional<qint64>>("seconds");
    QTest::addColumn<QString>("label");
    QTest::newRow("none") << std::optional<qint64>() << "00:00";
    QTest::newRow("0") << std::optional<qint64>(0) << "00:00";
    QTest::newRow("59") << std::optional<qint64>(59) << "00:59";
    QTest::newRow("3599") << std::optional<qint64>(3599) << "59:59";
    QTest::newRow("3600") << std::optional<qint64>(3600) << "01:00:00";
    QTest::newRow("3661") << std::optional<qint64>(3661) << "01:01:01";
    QTest::newRow("90061") << std::optional<qint64>(90061) << "25:01:01";
    QTest::newRow("360000") << std::optional<qint64>(360000) << "100:00:00";
}

void tst_KavrelHistoryRecordRules::durationLabels()
{
    QFETCH(std::optional<qint64>, seconds);
    QFETCH(QString, label);
    QCOMPARE(Labels::durationLabel(seconds), label);
}

void tst_KavrelHistoryRecordRules::languagePairAndStatusLabels()
{
    Localization english;
    Localization russian(KavrelAppLanguage::russian);
    const KavrelLocalizationStore &en = *english.store;

    MeetingSessionHistoryListItem item = row(QStringLiteral("a"));
    QVERIFY(!Labels::languagePairLabel(item, en));
    item.inputLanguage = QStringLiteral("en");
    item.translationLanguage = QStringLiteral("de");
    item.translationEnabled = true;
    QCOMPARE(Labels::languagePairLabel(item, en), std::optional<QString>("EN -> DE"));
    // The target is stored by its English name: the pill shows both sides by their codes.
    item.inputLanguage = QStringLiteral("ru");
    item.translationLanguage = QStringLiteral("english");
    QCOMPARE(Labels::languagePairLabel(item, *russian.store), std::optional<QString>("RU -> EN"));
    item.translationLanguage = QStringLiteral(" German");
    QCOMPARE(Labels::languagePairLabel(item, en), std::optional<QString>("RU -> DE"));
    item.translationLanguage = QStringLiteral("pt");
    QCOMPARE(Labels::languagePairLabel(item, en), std::optional<QString>("RU -> PT"));
    item.inputLanguage = QStringLiteral("en");
    item.translationEnabled = false;
    QCOMPARE(Labels::languagePairLabel(item, en), std::optional<QString>("EN \u2022 No translation"));
    QCOMPARE(Labels::languagePairLabel(item, *russian.store),
             std::optional<QString>("EN \u2022 " + russian.store->localized("No translation")));

    QCOMPARE(Labels::statusLabel(QStringLiteral("COMPLETED"), en), QStringLiteral("Completed"));
    QCOMPARE(Labels::statusLabel(QStringLiteral("Active"), en), QStringLiteral("Active"));
    QCOMPARE(Labels::statusLabel(QStringLiteral("Archived"), *russian.store), QStringLiteral("Archived"));
    QVERIFY(Labels::statusLabel(QStringLiteral("completed"), *russian.store) != QStringLiteral("Completed"));

    QCOMPARE(Labels::displayTitle(QStringLiteral("  "), QStringLiteral(" Weekly sync "), en), QStringLiteral("Weekly sync"));
    QCOMPARE(Labels::displayTitle(std::nullopt, QStringLiteral(" "), en), QStringLiteral("Untitled"));
}

void tst_KavrelHistoryRecordRules::footerLines()
{
    Localization english;
    MeetingSessionHistoryDetail detail = record(QStringLiteral("m"));
    detail.status = QStringLiteral("active");
    detail.processedByApp = QStringLiteral("macos");
    detail.inputLanguage = QStringLiteral("ru");
    auto lines = Labels::footerLines(detail, *english.store);
    QCOMPARE(lines.first, QStringLiteral("Active \u2022 macos"));
    QCOMPARE(lines.second, QStringLiteral("Russian -> No translation"));

    MeetingSessionHistorySessionParams params;
    params.client = QStringLiteral("linux");
    params.source = QStringLiteral("system_audio");
    detail.sessionParams = params;
    detail.processedByApp = QStringLiteral(" ");
    detail.microphoneLabel = QStringLiteral(" USB Mic ");
    detail.status = QStringLiteral("archived");
    detail.inputLanguage.reset();
    detail.translationLanguage = QStringLiteral("de");
    lines = Labels::footerLines(detail, *english.store);
    QCOMPARE(lines.first, QStringLiteral("archived \u2022 System audio \u2022 linux \u2022 USB Mic"));
    QCOMPARE(lines.second, QStringLiteral("German"));

    // In Russian, as a session stores it: the words and names of the interface, the record untouched.
    Localization russian(KavrelAppLanguage::russian);
    detail.status = QStringLiteral("completed");
    detail.sessionParams->source = QStringLiteral("system_audio+microphone");
    detail.inputLanguage = QStringLiteral("ru");
    detail.translationLanguage = QStringLiteral("english");
    lines = Labels::footerLines(detail, *russian.store);
    QCOMPARE(lines.first, QStringLiteral("Завершена \u2022 Системный звук и микрофон \u2022 linux \u2022 USB Mic"));
    QCOMPARE(lines.second, QStringLiteral("Русский -> Английский"));
    QCOMPARE(detail.sessionParams->source, QStringLiteral("system_audio+microphone"));
    QCOMPARE(*detail.translationLanguage, QStringLiteral("english"));
}

void tst_KavrelHistoryRecordRules::storedValuesInWords_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("words");
    QTest::newRow("system audio and microphone") << "system_audio+microphone" << "Системный звук и микрофон";
    QTest::newRow("system audio") << "system_audio" << "Системный звук";
    QTest::newRow("microphone, in capitals") << " MICROPHONE " << "Микрофон";
    QTest::newRow("unknown, as stored") << "screen+camera" << "screen+camera";
}

void tst_KavrelHistoryRecordRules::storedValuesInWords()
{
    QFETCH(QString, source);
    QFETCH(QString, words);
    Localization russian(KavrelAppLanguage::russian);
    QCOMPARE(Labels::audioSourceLabel(source, *russian.store), words);
    QCOMPARE(Labels::languageName(QStringLiteral("EN"), *russian.store), QStringLiteral("Английский"));
    QCOMPARE(Labels::languageName(QStringLiteral(" French"), *russian.store), QStringLiteral("Французский"));
    QCOMPARE(Labels::languageName(QStringLiteral("pt"), *russian.store), QStringLiteral("PT"));
}

void tst_KavrelHistoryRecordRules::detailTabRawValues()
{
    for (KavrelHistoryDetailTab tab : KavrelHistoryDetailTabs::allCases)
        QCOMPARE(KavrelHistoryDetailTabs::fromRawValue(KavrelHistoryDetailTabs::rawValue(tab)), tab);
    QVERIFY(!KavrelHistoryDetailTabs::fromRawValue(QStringLiteral("Summary")));
    QVERIFY(!KavrelHistoryDetailTabs::fromRawValue(QStringLiteral(" summary")));
}

QTEST_GUILESS_MAIN(tst_KavrelHistoryRecordRules)
#include "tst_KavrelHistoryRecordRules.moc"
