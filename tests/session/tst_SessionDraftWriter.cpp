// The draft writer's worker: what it skips, which draft lands last, and how a removal or a
// write on the calling thread meets a write on its way.

#include "platform/UserDefaults.h"
#include "session/SessionDraftWriter.h"
#include "support/FileSizeLimit.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

const QString key = QStringLiteral("kavrel.session.localDraft.v2");

SessionDraft draftWith(int turnCount, const QString &text)
{
    SessionDraft draft;
    const QDateTime start(QDate(2026, 3, 5), QTime(14, 0), Qt::UTC);
    for (int i = 0; i < turnCount; ++i) {
        SessionTurn turn;
        turn.id = QUuid::createUuid();
        turn.text = QStringLiteral("%1, turn %2, and the rest of what was said in it").arg(text).arg(i);
        turn.translationText = QStringLiteral("translation of turn %1").arg(i);
        turn.timestamp = start.addSecs(i);
        turn.isClosed = true;
        draft.turns.push_back(turn);
    }
    draft.subtitlesText = text;
    draft.translatedText = QStringLiteral("translated ") + text;
    draft.panels = AIPanelTexts{"S1", "S2", "P1", "P2", "A1", "A2"};
    return draft;
}

struct WriterFixture
{
    QTemporaryDir directory;
    UserDefaults defaults{directory.filePath(QStringLiteral("preferences.ini"))};
    SessionDraftWriter writer{defaults, key};
    QSignalSpy written{&writer, &SessionDraftWriter::draftWritten};

    std::optional<SessionDraft> stored() const
    {
        const auto data = defaults.dataValue(key);
        return data ? std::optional<SessionDraft>(SessionDraft::fromJson(*data)) : std::nullopt;
    }
    // Until the worker is done and its signals have arrived.
    bool settle()
    {
        const bool idle = QTest::qWaitFor([this] { return !writer.isBusy(); }, 10000);
        QCoreApplication::processEvents();
        return idle;
    }
};

} // namespace

class tst_SessionDraftWriter final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void onlyAChangeOfTheJudgedContentIsWritten_data();
    void onlyAChangeOfTheJudgedContentIsWritten();
    void theNewestDraftOfABurstLandsLast();
    void aRemovalWinsOverTheWriteOnItsWay();
    void aWriteNowWinsOverTheWorker();
    void aRemovalKeepsTheChangesTheNextOneBuildsOn_data();
    void aRemovalKeepsTheChangesTheNextOneBuildsOn();
    void theEndLeavesTheSettingsFileWhole();
    void aDraftThatCouldNotBeWrittenCountsAsUnsaved_data();
    void aDraftThatCouldNotBeWrittenCountsAsUnsaved();
    void theEndWritesTheDraftThatWaits();
};

void tst_SessionDraftWriter::onlyAChangeOfTheJudgedContentIsWritten_data()
{
    QTest::addColumn<std::function<void(SessionDraft &)>>("change");
    QTest::addColumn<bool>("writes");

    using Change = std::function<void(SessionDraft &)>;
    QTest::newRow("nothing") << Change([](SessionDraft &) {}) << false;
    QTest::newRow("turn text") << Change([](SessionDraft &d) { d.turns[1].text += u'!'; }) << true;
    QTest::newRow("turn translation") << Change([](SessionDraft &d) { d.turns[0].translationText.clear(); }) << true;
    QTest::newRow("one more turn") << Change([](SessionDraft &d) { d.turns.push_back(d.turns.back()); }) << true;
    QTest::newRow("transcript text") << Change([](SessionDraft &d) { d.subtitlesText += u'\n'; }) << true;
    QTest::newRow("translated text") << Change([](SessionDraft &d) { d.translatedText.chop(1); }) << true;
    QTest::newRow("summary") << Change([](SessionDraft &d) { d.panels.transcriptSummaryText = "S1b"; }) << true;
    QTest::newRow("translated summary") << Change([](SessionDraft &d) { d.panels.translationSummaryText.clear(); }) << true;
    QTest::newRow("protocol") << Change([](SessionDraft &d) { d.panels.transcriptProtocolText = "P"; }) << true;
    QTest::newRow("translated protocol") << Change([](SessionDraft &d) { d.panels.translationProtocolText = "P"; }) << true;
    QTest::newRow("answer") << Change([](SessionDraft &d) { d.panels.transcriptAnswerText = "A"; }) << true;
    QTest::newRow("translated answer") << Change([](SessionDraft &d) { d.panels.translationAnswerText = "A"; }) << true;
    // What the fingerprint leaves out does not make a write of its own.
    QTest::newRow("turn id") << Change([](SessionDraft &d) { d.turns[0].id = QUuid::createUuid(); }) << false;
    QTest::newRow("turn time") << Change([](SessionDraft &d) { d.turns[0].timestamp = d.turns[0].timestamp.addSecs(9); }) << false;
    QTest::newRow("closed flag") << Change([](SessionDraft &d) { d.turns[1].isClosed = false; }) << false;
    QTest::newRow("labels") << Change([](SessionDraft &d) { d.turns[1].speakerLabel = QStringLiteral("A"); }) << false;
}

void tst_SessionDraftWriter::onlyAChangeOfTheJudgedContentIsWritten()
{
    QFETCH(std::function<void(SessionDraft &)>, change);
    QFETCH(bool, writes);

    WriterFixture fixture;
    // A second store over the same file stands for the rest of the program.
    UserDefaults reader(fixture.defaults.filePath());
    QSignalSpy announced(&reader, &UserDefaults::valueChanged);
    const SessionDraft first = draftWith(3, QStringLiteral("first"));
    fixture.writer.submit(first);
    QVERIFY(fixture.settle());
    QCOMPARE(fixture.written.count(), 1);
    QCOMPARE(*fixture.stored(), first);
    QVERIFY(reader.dataValue(key).has_value());
    QCOMPARE(announced.count(), 1);
    QCOMPARE(announced.first().first().toString(), key);
    QCOMPARE(fixture.writer.lastWrittenFingerprint(), first.fingerprint());

    SessionDraft second = first;
    change(second);
    fixture.writer.submit(second);
    QVERIFY(fixture.settle());
    QCOMPARE(fixture.written.count(), writes ? 2 : 1);
    QCOMPARE(*fixture.stored(), writes ? second : first);

    // The same holds for a write on the calling thread.
    WriterFixture direct;
    QVERIFY(direct.writer.writeNow(first));
    QCOMPARE(direct.writer.writeNow(second), writes);
    QCOMPARE(*direct.stored(), writes ? second : first);
}

void tst_SessionDraftWriter::theNewestDraftOfABurstLandsLast()
{
    WriterFixture fixture;
    constexpr int burst = 200;
    for (int i = 0; i < burst; ++i)
        fixture.writer.submit(draftWith(300, QStringLiteral("draft %1").arg(i)));
    QVERIFY(fixture.settle());
    QCOMPARE(fixture.stored()->subtitlesText, QStringLiteral("draft %1").arg(burst - 1));
    // Waiting drafts replace each other: a burst is not a write per draft.
    QVERIFY2(fixture.written.count() < burst / 2, qPrintable(QString::number(fixture.written.count())));

    // The file holds it too, for the next start of the program.
    fixture.defaults.sync();
    QSettings file(fixture.defaults.filePath(), QSettings::IniFormat);
    QVERIFY(file.value(key).toString().startsWith(QStringLiteral("x:")));
}

void tst_SessionDraftWriter::aRemovalWinsOverTheWriteOnItsWay()
{
    WriterFixture fixture;
    const SessionDraft large = draftWith(2000, QStringLiteral("old session"));
    fixture.writer.submit(large);
    fixture.writer.submit(draftWith(2000, QStringLiteral("old session, later")));
    // The session is cleared while the worker encodes.
    fixture.writer.forget();
    fixture.defaults.remove(key);
    QVERIFY(fixture.settle());
    QVERIFY(!fixture.stored());
    QVERIFY(fixture.writer.lastWrittenFingerprint().isEmpty());

    // Nothing of the old session is remembered: the same content is written again.
    fixture.writer.submit(large);
    QVERIFY(fixture.settle());
    QCOMPARE(fixture.stored()->subtitlesText, QStringLiteral("old session"));
}

void tst_SessionDraftWriter::aWriteNowWinsOverTheWorker()
{
    WriterFixture fixture;
    fixture.writer.submit(draftWith(2000, QStringLiteral("on its way")));
    fixture.writer.submit(draftWith(2000, QStringLiteral("waiting")));
    const SessionDraft last = draftWith(5, QStringLiteral("last"));
    QVERIFY(fixture.writer.writeNow(last));
    // Written before returning, with no turn of the event loop.
    QCOMPARE(fixture.stored()->subtitlesText, QStringLiteral("last"));
    QVERIFY(!fixture.writer.isBusy());
    QVERIFY(fixture.settle());
    QCOMPARE(*fixture.stored(), last);
    QVERIFY(!fixture.writer.writeNow(last));
}

void tst_SessionDraftWriter::aRemovalKeepsTheChangesTheNextOneBuildsOn_data()
{
    QTest::addColumn<bool>("writeNow");
    QTest::newRow("on the worker") << false;
    QTest::newRow("on the calling thread") << true;
}

// Changes name only what is new since the change before. One handed over just before the stored
// draft is removed must not land, yet the next change builds on it: what is stored afterwards is
// the whole session, not the next change applied to a session that lacks the one before.
void tst_SessionDraftWriter::aRemovalKeepsTheChangesTheNextOneBuildsOn()
{
    QFETCH(bool, writeNow);
    WriterFixture fixture;
    SessionDraft draft = draftWith(400, QStringLiteral("session"));
    fixture.writer.submit(draft);
    QVERIFY(fixture.settle());

    const auto appendTurn = [&draft](const QString &text) {
        SessionTurn turn = draft.turns.back();
        turn.id = QUuid::createUuid();
        turn.text = text;
        draft.turns.push_back(turn);
        draft.subtitlesText += u'\n' + text;
        SessionDraftChange change;
        change.firstTurn = draft.turns.size() - 1;
        change.turns = {turn};
        change.subtitlesText = draft.subtitlesText;
        change.subtitlesKept = draft.subtitlesText.size() - text.size() - 1;
        change.translatedText = draft.translatedText;
        change.translatedKept = draft.translatedText.size();
        change.panels = draft.panels;
        return change;
    };
    fixture.writer.submit(appendTurn(QStringLiteral("said just before the clearing")));
    fixture.writer.forget();
    fixture.defaults.remove(key);
    SessionDraftChange next = appendTurn(QStringLiteral("said after it"));
    if (writeNow)
        QVERIFY(fixture.writer.writeNow(std::move(next)));
    else
        fixture.writer.submit(std::move(next));
    QVERIFY(fixture.settle());
    QCOMPARE(fixture.defaults.dataValue(key), std::optional<QByteArray>(draft.toJson()));
    QCOMPARE(fixture.writer.lastWrittenFingerprint(), draft.fingerprint());
}

// Written by edits during the session, the draft is in the settings file whole once the writer
// ends, for QSettings and an older program alike.
void tst_SessionDraftWriter::theEndLeavesTheSettingsFileWhole()
{
    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    const QString path = defaults.filePath();
    SessionDraft draft = draftWith(600, QStringLiteral("session"));
    {
        SessionDraftWriter writer(defaults, key);
        QVERIFY(writer.writeNow(draft));
        SessionDraftChange change;
        change.firstTurn = draft.turns.size() - 1;
        draft.turns.back().text += QStringLiteral(" and more");
        change.turns = {draft.turns.back()};
        change.subtitlesText = draft.subtitlesText;
        change.subtitlesKept = draft.subtitlesText.size();
        change.translatedText = draft.translatedText;
        change.translatedKept = draft.translatedText.size();
        change.panels = draft.panels;
        QVERIFY(writer.writeNow(std::move(change)));
        QSettings before(path, QSettings::IniFormat);
        QVERIFY(before.value(key).toString() != QStringLiteral("x:") + QString::fromLatin1(draft.toJson().toBase64()));
    }
    QSettings after(path, QSettings::IniFormat);
    QCOMPARE(after.value(key).toString(), QStringLiteral("x:") + QString::fromLatin1(draft.toJson().toBase64()));
    QCOMPARE(defaults.dataValue(key), std::optional<QByteArray>(draft.toJson()));
}

void tst_SessionDraftWriter::aDraftThatCouldNotBeWrittenCountsAsUnsaved_data()
{
    QTest::addColumn<bool>("writeNow");
    QTest::addColumn<int>("turnCount"); // a draft kept in memory until the sync, or a large one
    for (const int turnCount : {5, 600}) {
        QTest::addRow("on the worker, %d turns", turnCount) << false << turnCount;
        QTest::addRow("on the calling thread, %d turns", turnCount) << true << turnCount;
    }
}

// A write that fails (a full disk) is reported, not counted as written: the same draft is
// written again once there is room, although its content is what was handed over last.
void tst_SessionDraftWriter::aDraftThatCouldNotBeWrittenCountsAsUnsaved()
{
    QFETCH(bool, writeNow);
    QFETCH(int, turnCount);
    WriterFixture fixture;
    fixture.defaults.setWriteRetryDelays(std::chrono::hours(1), std::chrono::hours(1));
    QSignalSpy failed(&fixture.writer, &SessionDraftWriter::draftWriteFailed);
    QVERIFY(fixture.writer.writeNow(draftWith(turnCount, QStringLiteral("before"))));
    const SessionDraft draft = draftWith(turnCount, QStringLiteral("while the disk is full"));
    {
        const FileSizeLimit full(16);
        if (writeNow) {
            QVERIFY(!fixture.writer.writeNow(draft));
        } else {
            fixture.writer.submit(draft);
            QVERIFY(fixture.settle());
        }
    }
    QCOMPARE(failed.count(), 1);
    QCOMPARE(fixture.written.count(), 1);
    QVERIFY(fixture.writer.lastWrittenFingerprint().isEmpty());

    QVERIFY(fixture.writer.writeNow(draft));
    QCOMPARE(fixture.written.count(), 2);
    QCOMPARE(fixture.writer.lastWrittenFingerprint(), draft.fingerprint());
    QSettings file(fixture.defaults.filePath(), QSettings::IniFormat);
    QCOMPARE(file.value(key).toString(), QStringLiteral("x:") + QString::fromLatin1(draft.toJson().toBase64()));
}

void tst_SessionDraftWriter::theEndWritesTheDraftThatWaits()
{
    // The program ends (a quit cut short) right after the last drafts were handed over: one on
    // its way, the newest waiting behind it.
    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    {
        SessionDraftWriter writer(defaults, key);
        writer.submit(draftWith(2000, QStringLiteral("earlier")));
        writer.submit(draftWith(2000, QStringLiteral("last words")));
    }
    const std::optional<QByteArray> stored = defaults.dataValue(key);
    QVERIFY(stored);
    QCOMPARE(SessionDraft::fromJson(*stored).subtitlesText, QStringLiteral("last words"));
}

QTEST_GUILESS_MAIN(tst_SessionDraftWriter)
#include "tst_SessionDraftWriter.moc"
