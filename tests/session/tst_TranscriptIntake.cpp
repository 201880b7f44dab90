// The intake rules: how speech-to-text results become dialogue turns, which chunks go to
// live translation, and the text rules underneath.

#include "session/SessionTurnStore.h"
#include "session/TranscriptTextRules.h"

#include <QSignalSpy>
#include <QTest>

using namespace TranscriptTextRules;

class tst_TranscriptIntake final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textRules_data();
    void textRules();
    void delta_data();
    void delta();
    void scriptedResults_data();
    void scriptedResults();
    void closingSignalsComeInOrder();
    void editsAreAnnounced();
};

void tst_TranscriptIntake::textRules_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("expected");

    QTest::newRow("merge with blank") << "merge" << "Hello" << "world" << "Hello world";
    QTest::newRow("merge joins comma") << "merge" << "Hello" << ", world" << "Hello, world";
    QTest::newRow("merge joins ellipsis") << "merge" << "Wait" << QStringLiteral("\u2026 what") << QStringLiteral("Wait\u2026 what");
    QTest::newRow("merge into empty trims") << "merge" << "" << "  ok  " << "ok";
    QTest::newRow("merge blank keeps existing untrimmed") << "merge" << " keep " << "   " << " keep ";
    QTest::newRow("merge trims existing") << "merge" << " a \n" << "b" << "a b";
    QTest::newRow("normalise runs of white space") << "normalise" << "  one \t two\n\nthree " << "" << "one two three";
    QTest::newRow("normalise no-break space") << "normalise" << QStringLiteral("a\u00A0\u00A0b") << "" << "a b";
}

void tst_TranscriptIntake::textRules()
{
    QFETCH(QString, rule);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, expected);
    const QString actual = rule == "merge" ? mergedText(first, second) : normalizedTranscriptFragment(first);
    QCOMPARE(actual, expected);
}

void tst_TranscriptIntake::delta_data()
{
    QTest::addColumn<QString>("previous");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no previous") << "" << "hello" << "hello";
    QTest::newRow("repeat") << "hello world" << "hello world" << "";
    QTest::newRow("extension") << "hello world" << "hello world, how are you" << ", how are you";
    QTest::newRow("shorter repeat") << "hello world" << "hello" << "";
    QTest::newRow("unrelated") << "hello world" << "good morning" << "good morning";
    // A new segment that only begins like the previous one is taken whole.
    QTest::newRow("shared start, new segment") << "I think so" << "I will" << "I will";
    QTest::newRow("shared letters, new segment") << "the plan" << "they agreed" << "they agreed";
    QTest::newRow("one letter changed") << "hello world" << "hello word" << "hello word";
    // Characters, not code units: a decomposed accent matches the composed one...
    QTest::newRow("decomposed extends composed") << QStringLiteral("caf\u00E9") << QStringLiteral("cafe\u0301 au lait") << "au lait";
    QTest::newRow("composed repeats decomposed") << QStringLiteral("cafe\u0301") << QStringLiteral("caf\u00E9") << "";
    // ...and a letter with a combining mark is not its base letter.
    QTest::newRow("combining mark is part of the letter") << "a" << QStringLiteral("a\u0332 b") << QStringLiteral("a\u0332 b");
    QTest::newRow("emoji cluster") << QStringLiteral("ok \U0001F44D\U0001F3FD") << QStringLiteral("ok \U0001F44D\U0001F3FD fine") << "fine";
}

void tst_TranscriptIntake::delta()
{
    QFETCH(QString, previous);
    QFETCH(QString, current);
    QFETCH(QString, expected);
    QCOMPARE(transcriptDelta(current, previous), expected);
}

// Each step: "F text" a final, "S text" a speech-final final, "I text" an interim, "close" the
// stop's close. Turns are listed as "text" (closed) or "text…open".
void tst_TranscriptIntake::scriptedResults_data()
{
    QTest::addColumn<bool>("translation");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("turns");
    QTest::addColumn<QString>("preview");
    QTest::addColumn<QStringList>("chunks");

    QTest::newRow("extension closes on question mark")
        << false << QStringList{"F Hello", "F Hello, how are you?"} << QStringList{"Hello, how are you?"} << "" << QStringList{};
    QTest::newRow("extension stays open")
        << false << QStringList{"F we will meet", "F we will meet tomorrow"} << QStringList{"we will meet tomorrow…open"}
        << "we will meet tomorrow" << QStringList{};
    QTest::newRow("repeat with speech final closes")
        << false << QStringList{"F same words", "S same words"} << QStringList{"same words"} << "" << QStringList{};
    QTest::newRow("sentence end starts a new turn taken whole")
        << false << QStringList{"F First one.", "F First one. second"} << QStringList{"First one.", "First one. second…open"}
        << "First one. second" << QStringList{};
    QTest::newRow("sentence test looks at the added text only")
        << false << QStringList{"F Done. and", "F Done. and more"} << QStringList{"Done. and more…open"} << "Done. and more"
        << QStringList{};
    QTest::newRow("ellipsis closes") << false << QStringList{QStringLiteral("F well\u2026")} << QStringList{QStringLiteral("well\u2026")}
                                      << "" << QStringList{};
    QTest::newRow("interim without translation makes no turn")
        << false << QStringList{"I hello there"} << QStringList{} << "hello there" << QStringList{};
    QTest::newRow("interim previews on top of the open turn")
        << false << QStringList{"F good", "I morning all"} << QStringList{"good…open"} << "good morning all" << QStringList{};
    QTest::newRow("white-space interim sends nothing")
        << true << QStringList{"F good", "I    "} << QStringList{"good…open"} << "good" << QStringList{"interim good"};
    QTest::newRow("interim with translation opens a turn and sends a chunk")
        << true << QStringList{"I hi"} << QStringList{"…open"} << "hi" << QStringList{"interim hi"};
    QTest::newRow("blank turn from an interim is removed on speech final")
        << true << QStringList{"I hi", "S "} << QStringList{} << "" << QStringList{"interim hi"};
    QTest::newRow("final chunks carry the closed text")
        << true << QStringList{"F one two", "S one two three"} << QStringList{"one two three"} << ""
        << QStringList{"interim one two", "final one two three"};
    QTest::newRow("stop closes the open turn") << true << QStringList{"F trailing words", "close"}
                                               << QStringList{"trailing words"} << ""
                                               << QStringList{"interim trailing words", "final trailing words"};
    QTest::newRow("new segment after partial prefix keeps every word")
        << false << QStringList{"F I think so", "F I will"} << QStringList{"I think so I will…open"} << "I think so I will"
        << QStringList{};
}

void tst_TranscriptIntake::scriptedResults()
{
    QFETCH(bool, translation);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, turns);
    QFETCH(QString, preview);
    QFETCH(QStringList, chunks);

    SessionTurnStore store;
    store.setTranslationAvailable(translation);
    QStringList sent;
    connect(&store, &SessionTurnStore::interimChunkReady, &store,
            [&](const QString &text, const QUuid &) { sent.append("interim " + text); });
    connect(&store, &SessionTurnStore::finalChunkReady, &store,
            [&](const QString &text, const QUuid &) { sent.append("final " + text); });

    for (const QString &step : steps) {
        const QString kind = step.section(u' ', 0, 0);
        const QString text = step.section(u' ', 1);
        if (kind == "F")
            store.applyFinalTranscript(text, false);
        else if (kind == "S")
            store.applyFinalTranscript(text, true);
        else if (kind == "I")
            store.applyInterimTranscript(text);
        else
            store.finalizeCurrentTurnIfNeeded();
    }

    QStringList actual;
    for (const SessionTurn &turn : store.turns())
        actual.append(turn.isClosed ? turn.text : turn.text + QStringLiteral("…open"));
    QCOMPARE(actual, turns);
    QCOMPARE(store.liveSubtitlePreview(), preview);
    QCOMPARE(sent, chunks);
    // At most one open turn, and it is the last.
    for (int i = 0; i + 1 < store.count(); ++i)
        QVERIFY(store.at(i).isClosed);
}

void tst_TranscriptIntake::closingSignalsComeInOrder()
{
    // A pending preview translation must become the turn's translation before the final chunk
    // goes out, and the turn is announced closed last.
    SessionTurnStore store;
    store.setTranslationAvailable(true);
    QStringList order;
    connect(&store, &SessionTurnStore::turnClosing, &store, [&](const QUuid &, int index) {
        order.append("closing");
        store.setTranslationText(index, QStringLiteral("Hallo"));
    });
    connect(&store, &SessionTurnStore::finalChunkReady, &store, [&] { order.append("final"); });
    connect(&store, &SessionTurnStore::turnClosed, &store, [&] { order.append("closed"); });
    store.applyFinalTranscript(QStringLiteral("Hello."), false);
    QCOMPARE(order, (QStringList{"closing", "final", "closed"}));
    QCOMPARE(store.at(0).translationText, QStringLiteral("Hallo"));
    QVERIFY(store.lastFinalTranscript().isEmpty());
}

void tst_TranscriptIntake::editsAreAnnounced()
{
    SessionTurnStore store;
    store.applyFinalTranscript(QStringLiteral("one."), false);
    store.applyFinalTranscript(QStringLiteral("two"), false);
    QSignalSpy changed(&store, &SessionTurnStore::turnChanged);
    QSignalSpy reset(&store, &SessionTurnStore::turnsReset);

    store.setTranslationText(0, QStringLiteral("eins"));
    store.setTranslationText(0, QStringLiteral("eins")); // no change, no signal
    store.setText(0, QStringLiteral("One."));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(store.indexOf(store.at(1).id), 1);

    store.clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(store.count(), 0);
    QVERIFY(!store.indexOf(QUuid::createUuid()));
}

QTEST_GUILESS_MAIN(tst_TranscriptIntake)
#include "tst_TranscriptIntake.moc"
