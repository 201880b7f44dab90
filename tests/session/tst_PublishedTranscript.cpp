// Rows and texts published from the turns, and the row-level change signals views follow.

#include "session/PublishedTranscript.h"
#include "session/SessionTurnStore.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using Column = PublishedTranscript::Column;

namespace {

QDateTime localTime(int hour, int minute, int second)
{
    return QDateTime(QDate(2026, 3, 5), QTime(hour, minute, second));
}

SessionTurn turn(const QString &text, const QString &translation, const QDateTime &at, bool closed = true)
{
    SessionTurn result;
    result.id = QUuid::createUuid();
    result.text = text;
    result.translationText = translation;
    result.timestamp = at;
    result.isClosed = closed;
    return result;
}

} // namespace

class tst_PublishedTranscript final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsAndTexts();
    void speakerLabels_data();
    void speakerLabels();
    void oneMoreTurnIsOneRow();
    void editsMoveOnlyTheirRow();
    void theTextFollowsEveryEditInPlace();
    void aLongSessionKeepsLittleRoom();
};

void tst_PublishedTranscript::rowsAndTexts()
{
    SessionTurnStore store;
    PublishedTranscript published(&store);
    store.replaceAll({turn(QStringLiteral(" First line "), QString(), localTime(9, 15, 2)),
                      turn(QStringLiteral("   "), QStringLiteral("blank source"), localTime(9, 15, 20)),
                      turn(QStringLiteral("Second line"), QStringLiteral("Zweite Zeile"), localTime(9, 15, 40)),
                      turn(QStringLiteral("still talking"), QStringLiteral("noch"), localTime(9, 16, 0), false)});

    QCOMPARE(published.rowCount(Column::transcript), 2);
    QCOMPARE(published.rowCount(Column::translation), 2);
    QCOMPARE(published.subtitlesText(), QStringLiteral("[09:15:02] First line\n[09:15:40] Second line"));
    QCOMPARE(published.translatedText(), QStringLiteral("[09:15:20] blank source\n[09:15:40] Zweite Zeile"));
    const DialogueEntry first = published.transcriptEntries().first();
    QCOMPARE(first.id, store.at(0).id);
    QCOMPARE(first.text, QStringLiteral("First line"));
    QVERIFY(!first.speakerNumber);
    QVERIFY(!first.isDraft);
    QCOMPARE(published.transcriptEntries().last().timestamp, localTime(9, 15, 40));

    store.clear();
    QCOMPARE(published.subtitlesText(), QString());
    QVERIFY(published.translationEntries().isEmpty());
}

void tst_PublishedTranscript::speakerLabels_data()
{
    QTest::addColumn<std::optional<QString>>("speakerLabel");
    QTest::addColumn<std::optional<QString>>("translationLabel");
    QTest::addColumn<QString>("translation");
    QTest::addColumn<QString>("expected");

    QTest::newRow("translation label folded") << std::optional<QString>() << std::optional<QString>(" B ") << "Hello" << "B: Hello";
    QTest::newRow("label alone") << std::optional<QString>() << std::optional<QString>("B") << "  " << "B";
    QTest::newRow("blank source label folds too") << std::optional<QString>(" ") << std::optional<QString>("C") << "Hi" << "C: Hi";
    QTest::newRow("source label keeps translation") << std::optional<QString>("A") << std::optional<QString>("B") << "Hello" << "Hello";
}

void tst_PublishedTranscript::speakerLabels()
{
    QFETCH(std::optional<QString>, speakerLabel);
    QFETCH(std::optional<QString>, translationLabel);
    QFETCH(QString, translation);
    QFETCH(QString, expected);

    SessionTurnStore store;
    PublishedTranscript published(&store);
    SessionTurn labelled = turn(QStringLiteral("text"), translation, localTime(10, 0, 0));
    labelled.speakerLabel = speakerLabel;
    labelled.translationSpeakerLabel = translationLabel;
    // Restored and live turns are tidied alike.
    for (bool restored : {true, false}) {
        if (restored) {
            store.replaceAll({labelled});
        } else {
            store.replaceAll({turn(QStringLiteral("text"), translation, localTime(10, 0, 0))});
            store.setSpeakerLabels(0, speakerLabel, translationLabel);
        }
        QCOMPARE(store.at(0).translationText, expected);
        QVERIFY(!store.at(0).speakerLabel);
        QVERIFY(!store.at(0).translationSpeakerLabel);
        QCOMPARE(published.translationEntries().size(), expected.trimmed().isEmpty() ? 0 : 1);
        QVERIFY(!published.showsDialogueMode(Column::transcript));
    }
}

void tst_PublishedTranscript::oneMoreTurnIsOneRow()
{
    SessionTurnStore store;
    PublishedTranscript published(&store);
    store.applyFinalTranscript(QStringLiteral("one."), false);
    const QString before = published.subtitlesText();

    QSignalSpy inserted(&published, &PublishedTranscript::rowInserted);
    QSignalSpy changed(&published, &PublishedTranscript::rowChanged);
    QSignalSpy reset(&published, &PublishedTranscript::rowsReset);
    store.applyFinalTranscript(QStringLiteral("two"), false); // open: no row yet
    QCOMPARE(inserted.count(), 0);
    store.applyFinalTranscript(QStringLiteral("two three."), false);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(1).toInt(), 1);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(reset.count(), 0);
    QCOMPARE(published.subtitlesText(),
             before + u'\n' + u'[' + PublishedTranscript::transcriptTimestamp(store.at(1).timestamp) + "] two three.");
}

void tst_PublishedTranscript::editsMoveOnlyTheirRow()
{
    SessionTurnStore store;
    PublishedTranscript published(&store);
    store.replaceAll({turn("a", "", localTime(1, 0, 0)), turn("b", "", localTime(1, 0, 1)), turn("c", "", localTime(1, 0, 2))});
    QSignalSpy inserted(&published, &PublishedTranscript::rowInserted);
    QSignalSpy changed(&published, &PublishedTranscript::rowChanged);
    QSignalSpy removed(&published, &PublishedTranscript::rowRemoved);

    store.setText(1, QStringLiteral("B"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(1).toInt(), 1);
    store.setTranslationText(2, QStringLiteral("C'"));
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(0).value<Column>(), Column::translation);
    QCOMPARE(inserted.first().at(1).toInt(), 0);
    store.setText(0, QStringLiteral("  "));
    QCOMPARE(removed.count(), 1);
    QCOMPARE(published.subtitlesText(), "[01:00:01] B\n[01:00:02] c");
    QCOMPARE(published.translatedText(), "[01:00:02] C'");
}

void tst_PublishedTranscript::theTextFollowsEveryEditInPlace()
{
    // Edits at random places of a text that has been read (and so is kept, not rendered anew)
    // must leave it equal to the text rendered from the rows.
    SessionTurnStore store;
    PublishedTranscript published(&store);
    std::vector<SessionTurn> turns;
    for (int i = 0; i < 12; ++i)
        turns.push_back(turn(QStringLiteral("line %1").arg(i), i % 3 ? QStringLiteral("tr %1").arg(i) : QString(),
                             localTime(2, 0, i)));
    store.replaceAll(turns);
    QRandomGenerator random(7);
    const QStringList texts = {QString(), QStringLiteral("  "), QStringLiteral("x"), QStringLiteral("a longer line of text"),
                               QStringLiteral(" padded ")};
    for (int step = 0; step < 400; ++step) {
        published.subtitlesText();
        published.translatedText();
        const int index = random.bounded(store.count());
        const QString text = texts.at(random.bounded(texts.size()));
        switch (random.bounded(4)) {
        case 0:
            store.setText(index, text);
            break;
        case 1:
            store.setTranslationText(index, text);
            break;
        case 2:
            store.applyFinalTranscript(QStringLiteral("spoken %1").arg(step), random.bounded(2) == 0);
            break;
        default:
            store.finalizeCurrentTurnIfNeeded();
            break;
        }
        for (Column column : {Column::transcript, Column::translation}) {
            const QString expected = PublishedTranscript::renderText(published.entries(column), false, true);
            QVERIFY2(published.text(column) == expected, qPrintable(QStringLiteral("step %1").arg(step)));
        }
    }
}

// The turns live as long as the session and grow one at a time: they keep little unused room,
// and a cleared session gives all of its room back, so a long meeting followed by "Start New"
// does not leave the next one the memory of the first.
void tst_PublishedTranscript::aLongSessionKeepsLittleRoom()
{
    SessionTurnStore store([] { return localTime(10, 0, 0); });
    PublishedTranscript published(&store);
    store.setTranslationAvailable(false);
    const auto roomLeft = [&store] { return store.turns().capacity() - store.turns().size(); };
    std::size_t mostRoom = 0;
    for (int i = 0; i < 1500; ++i) {
        store.applyFinalTranscript(QStringLiteral("turn %1").arg(i), true);
        if (i >= 100)
            mostRoom = std::max(mostRoom, roomLeft() * 8 / store.turns().size());
    }
    QCOMPARE(store.closedTurnCount(), 1500);
    QCOMPARE(published.rowCount(Column::transcript), 1500);
    QVERIFY(mostRoom <= 1); // never more than an eighth unused (doubling leaves up to a half)
    QVERIFY(published.subtitlesText().endsWith(QStringLiteral("[10:00:00] turn 1499")));

    store.clear();
    QCOMPARE(store.turns().capacity(), std::size_t(0));
    QCOMPARE(published.rowCount(Column::transcript), 0);
    QVERIFY(published.subtitlesText().isEmpty());

    // A restored session keeps no more room than it needs either.
    std::vector<SessionTurn> restored;
    restored.reserve(4000);
    for (int i = 0; i < 1000; ++i)
        restored.push_back(turn(QStringLiteral("again %1").arg(i), QString(), localTime(11, 0, 0)));
    store.replaceAll(std::move(restored));
    QCOMPARE(store.count(), 1000);
    QVERIFY(store.turns().capacity() <= 1000 + 1000 / 8 + 16);
    QCOMPARE(published.rowCount(Column::transcript), 1000);
}

QTEST_GUILESS_MAIN(tst_PublishedTranscript)
#include "tst_PublishedTranscript.moc"
