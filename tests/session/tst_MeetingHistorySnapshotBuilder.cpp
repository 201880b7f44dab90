#include "session/MeetingHistorySnapshotBuilder.h"

#include <QTest>
#include <QTimeZone>

namespace Builder = MeetingHistorySnapshotBuilder;

namespace {

const QDateTime now(QDate(2026, 5, 4), QTime(10, 5, 30, 900), QTimeZone::utc());

SessionTurn turn(const char *id, const QString &text, const QString &translation = QString(), int second = 0)
{
    SessionTurn t;
    t.id = QUuid::fromString(QString::fromLatin1(id));
    t.text = text;
    t.translationText = translation;
    t.timestamp = QDateTime(QDate(2026, 5, 4), QTime(10, 0, second), QTimeZone::utc());
    t.isClosed = true;
    return t;
}

Builder::Input baseInput()
{
    Builder::Input input;
    input.settings.sourceLanguage = SourceLanguageOption::german;
    input.settings.translationLanguage = TranslationLanguageOption::english;
    input.settings.isTranslationEnabled = true;
    input.settings.microphoneName = QStringLiteral("  USB Mic ");
    input.source = QStringLiteral("system_audio+microphone");
    input.clientSessionID = QStringLiteral("kavrel-macos-history-x");
    input.appVersion = QStringLiteral("1.2");
    input.now = now;
    return input;
}

} // namespace

class tst_MeetingHistorySnapshotBuilder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void blocksNumberOnlyTurnsWithText();
    void recordFields();
    void emptyRecords_data();
    void emptyRecords();
    void titleIsCutAtUserPerceivedCharacters();
};

void tst_MeetingHistorySnapshotBuilder::blocksNumberOnlyTurnsWithText()
{
    std::vector<SessionTurn> turns{turn("{AAAAAAAA-0000-4000-8000-000000000001}", QStringLiteral(" Hallo "), QStringLiteral(" Hello ")),
                                   turn("{AAAAAAAA-0000-4000-8000-000000000002}", QStringLiteral("   "), QStringLiteral("lost")),
                                   turn("{AAAAAAAA-0000-4000-8000-000000000003}", QStringLiteral("Tschüss"), QStringLiteral("  "), 7)};
    turns[0].speakerLabel = QStringLiteral("  ");
    turns[2].speakerLabel = QStringLiteral(" Anna ");
    const auto blocks = Builder::transcriptBlocks(turns);
    QCOMPARE(blocks.size(), 2);
    QCOMPARE(blocks[0].id, QStringLiteral("turn-aaaaaaaa-0000-4000-8000-000000000001"));
    QCOMPARE(blocks[0].seq, 1);
    QCOMPARE(blocks[0].text, QStringLiteral("Hallo"));
    QCOMPARE(blocks[0].speakerLabel, std::nullopt);
    QCOMPARE(blocks[0].timestamp, turns[0].timestamp.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
    QCOMPARE(blocks[1].id, QStringLiteral("turn-aaaaaaaa-0000-4000-8000-000000000003"));
    QCOMPARE(blocks[1].seq, 2);
    QCOMPARE(blocks[1].speakerLabel, std::optional<QString>(QStringLiteral("Anna")));

    // A turn whose translation language was not kept (an older draft) is in the meeting's.
    const auto translations = Builder::translationBlocks(turns, blocks, TranslationLanguageOption::french);
    QCOMPARE(translations.size(), 1);
    QCOMPARE(translations[0], (MeetingSessionTranslationBlock{blocks[0].id, 1, QStringLiteral("french"), QStringLiteral("Hello")}));
}

void tst_MeetingHistorySnapshotBuilder::recordFields()
{
    Builder::Input input = baseInput();
    input.turns = {turn("{AAAAAAAA-0000-4000-8000-000000000001}", QStringLiteral("Hallo"), QStringLiteral("Hello"), 30),
                   turn("{AAAAAAAA-0000-4000-8000-000000000002}", QStringLiteral("Früher"), QString(), 10)};
    input.translationSummary = QStringLiteral(" summary of the translation ");
    input.transcriptProtocol = QStringLiteral("  ");
    input.translationProtocol = QStringLiteral("protocol");
    input.transcriptAnswer = QStringLiteral("answer");
    input.translationAnswer = QStringLiteral("other answer");

    const auto active = Builder::snapshot(input, MeetingSessionHistoryStatus::active, false);
    QVERIFY(active);
    QCOMPARE(active->title, std::optional<QString>(QStringLiteral("Hallo")));
    // No start noted: the earliest turn.
    QCOMPARE(active->startedAt, input.turns[1].timestamp);
    QCOMPARE(active->endedAt, std::nullopt);
    QCOMPARE(active->durationSeconds, std::optional<qint64>(320));
    QCOMPARE(active->status, MeetingSessionHistoryStatus::active);
    QCOMPARE(active->inputLanguage, QStringLiteral("de"));
    QCOMPARE(active->translationLanguage, std::optional<QString>(QStringLiteral("english")));
    QCOMPARE(active->microphoneLabel, std::optional<QString>(QStringLiteral("USB Mic")));
    QCOMPARE(active->summaryText, std::optional<QString>(QStringLiteral("summary of the translation")));
    QCOMPARE(active->protocolText, std::optional<QString>(QStringLiteral("protocol")));
    QCOMPARE(active->suggestedAnswerText, std::optional<QString>(QStringLiteral("answer")));
    QCOMPARE(active->sessionParams.client, QStringLiteral("macos"));
    QCOMPARE(active->sessionParams.source, QStringLiteral("system_audio+microphone"));
    QCOMPARE(active->sessionParams.appVersion, std::optional<QString>(QStringLiteral("1.2")));
    QCOMPARE(active->sessionParams.focusMode, std::optional<bool>(false));
    QCOMPARE(active->sessionParams.clientSessionId, std::optional<QString>(QStringLiteral("kavrel-macos-history-x")));

    input.startedAt = QDateTime(QDate(2026, 5, 4), QTime(10, 5, 40), QTimeZone::utc()); // after "now"
    input.turns[1].translationText.clear();
    input.turns[0].translationText.clear();
    input.settings.isTranslationEnabled = false;
    const auto completed = Builder::snapshot(input, MeetingSessionHistoryStatus::completed, false);
    QCOMPARE(completed->endedAt, std::optional<QDateTime>(now));
    QCOMPARE(completed->durationSeconds, std::optional<qint64>(0));
    QCOMPARE(completed->translationEnabled, false);
    QCOMPARE(completed->translationLanguage, std::nullopt);
    QVERIFY(completed->translationBlocks.isEmpty());
}

void tst_MeetingHistorySnapshotBuilder::emptyRecords_data()
{
    QTest::addColumn<bool>("allowEmpty");
    QTest::addColumn<bool>("withSummary");
    QTest::addColumn<bool>("expected");
    QTest::newRow("nothing to save") << false << false << false;
    QTest::newRow("empty record asked for") << true << false << true;
    QTest::newRow("a summary alone is saved") << false << true << true;
}

void tst_MeetingHistorySnapshotBuilder::emptyRecords()
{
    QFETCH(bool, allowEmpty);
    QFETCH(bool, withSummary);
    QFETCH(bool, expected);
    Builder::Input input = baseInput();
    input.turns = {turn("{AAAAAAAA-0000-4000-8000-000000000001}", QStringLiteral(" "))};
    if (withSummary)
        input.transcriptSummary = QStringLiteral("- point");
    const auto record = Builder::snapshot(input, MeetingSessionHistoryStatus::active, allowEmpty);
    QCOMPARE(record.has_value(), expected);
    if (record && !withSummary) {
        QCOMPARE(record->title, std::nullopt);
        QCOMPARE(record->startedAt, input.turns[0].timestamp);
    }
}

void tst_MeetingHistorySnapshotBuilder::titleIsCutAtUserPerceivedCharacters()
{
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA"); // one character, four code units
    std::vector<SessionTurn> turns{turn("{AAAAAAAA-0000-4000-8000-000000000001}", QStringLiteral("  ")),
                                   turn("{AAAAAAAA-0000-4000-8000-000000000002}", flag.repeated(300))};
    QCOMPARE(Builder::title(turns), std::optional<QString>(flag.repeated(120)));
    QCOMPARE(Builder::title({}), std::nullopt);
}

QTEST_GUILESS_MAIN(tst_MeetingHistorySnapshotBuilder)
#include "tst_MeetingHistorySnapshotBuilder.moc"
