// The live translation client's turn table over a long meeting: a settled turn keeps no record,
// only the fact that it is settled, and what could still be asked about it answers as before.

#include "speech/LiveTranslationTurnTable.h"
#include "speech/TranslationTurnKey.h"

#include <QTest>
#include <QUuid>

namespace {

QString keyOf(int number)
{
    return TranslationTurnKey::fromUuid(QUuid::fromString(QStringLiteral("%1-0000-4000-8000-00000000000b").arg(number, 8, 10, QLatin1Char('0'))));
}

// A turn through preview, final and the server's translation of the final.
void settle(LiveTranslationTurnTable &table, const QString &key)
{
    table.record(key).latestPreview = QStringLiteral("so far");
    const std::optional<LiveTranslationTurnTable::Preview> preview = table.takePreviewToSend(key);
    QVERIFY(preview);
    QVERIFY(table.acceptPreviewAnswer(key, preview->clientRevision));
    const V2PendingFinal pending = table.addPendingFinal(key, QStringLiteral("so far and more"));
    table.acknowledgeFinal(key, pending.clientRevision);
    QVERIFY(table.settleFinal(key, pending.clientRevision));
}

} // namespace

class tst_LiveTranslationTurnTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settledTurnsKeepNoRecord()
    {
        LiveTranslationTurnTable table;
        for (int number = 0; number < 2000; ++number)
            settle(table, keyOf(number));
        table.record(keyOf(5000)).latestPreview = QStringLiteral("still open");
        QCOMPARE(table.recordCount(), 1);
        QVERIFY(table.isFinalized(keyOf(0)));
        QVERIFY(table.isFinalized(keyOf(1999)));
        QVERIFY(!table.isFinalized(keyOf(5000)));
        QCOMPARE(table.openTurnKeys(), QStringList{keyOf(5000)});
        QVERIFY(table.pendingFinalsInEnqueueOrder().isEmpty());
    }

    void aSettledTurnAnswersAsBefore()
    {
        LiveTranslationTurnTable table;
        const QString key = keyOf(1);
        settle(table, key);
        QVERIFY(!table.settleFinal(key, 2));
        QVERIFY(!table.settleFinal(key, 3));
        QVERIFY(!table.acceptPreviewAnswer(key, 1));
        QVERIFY(!table.releasePreview(key, qint64(1)));
        QVERIFY(table.releasePreview(key, std::nullopt)); // nothing in flight, as in a settled record
        QVERIFY(!table.takePreviewToSend(key));
        QVERIFY(!table.pendingFinal(key));
        table.acknowledgeFinal(key, 2);
        table.removePendingFinal(key);
        table.forgetSentPreviews();
        QCOMPARE(table.recordCount(), 0);
        QVERIFY(table.isFinalized(key));
    }

    void aNewSessionForgetsSettledTurns()
    {
        LiveTranslationTurnTable table;
        settle(table, keyOf(1));
        table.clear();
        QVERIFY(!table.isFinalized(keyOf(1)));
        // The turn starts over at its first revision.
        QCOMPARE(table.addPendingFinal(keyOf(1), QStringLiteral("again")).clientRevision, 1);
    }
};

QTEST_GUILESS_MAIN(tst_LiveTranslationTurnTable)
#include "tst_LiveTranslationTurnTable.moc"
