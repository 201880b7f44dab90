// The local session draft: its JSON, strict reading, the debounced autosave and the restore.

#include "platform/UserDefaults.h"
#include "session/PublishedTranscript.h"
#include "session/SessionDraft.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QByteArray goldenDraft =
    R"({"turns":[{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","text":"Guten Morgen.","translationText":"Good morning.","timestamp":"2026-03-05T14:03:27Z","isClosed":true},)"
    R"({"id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","speakerLabel":"A","text":"und dann","translationSpeakerLabel":"B","translationText":"","timestamp":"2026-03-05T14:03:40Z","isClosed":false}],)"
    R"("subtitlesText":"[x] Guten Morgen.","translatedText":"[x] Good morning.","transcriptSummaryText":"S1","translationSummaryText":"S2",)"
    R"("transcriptProtocolText":"P1","translationProtocolText":"P2","transcriptAnswerText":"A1","translationAnswerText":"A2"})";

SessionDraft goldenValue()
{
    SessionDraft draft;
    SessionTurn first;
    first.id = QUuid::fromString(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"));
    first.text = QStringLiteral("Guten Morgen.");
    first.translationText = QStringLiteral("Good morning.");
    first.timestamp = QDateTime(QDate(2026, 3, 5), QTime(14, 3, 27), Qt::UTC);
    first.isClosed = true;
    SessionTurn second;
    second.id = QUuid::fromString(QStringLiteral("7c9e6679-7425-40de-944b-e07fc1f90ae7"));
    second.speakerLabel = QStringLiteral("A");
    second.text = QStringLiteral("und dann");
    second.translationSpeakerLabel = QStringLiteral("B");
    second.timestamp = QDateTime(QDate(2026, 3, 5), QTime(14, 3, 40), Qt::UTC);
    draft.turns = {first, second};
    draft.subtitlesText = QStringLiteral("[x] Guten Morgen.");
    draft.translatedText = QStringLiteral("[x] Good morning.");
    draft.panels = AIPanelTexts{"S1", "S2", "P1", "P2", "A1", "A2"};
    return draft;
}

struct DraftFixture
{
    QTemporaryDir directory;
    UserDefaults defaults{directory.filePath(QStringLiteral("preferences.ini"))};
    SessionTurnStore turns;
    PublishedTranscript published{&turns};
    SessionDraftStore draft{defaults, &turns, &published};
    AIPanelTexts panels;
    std::optional<QString> account;

    DraftFixture()
    {
        draft.setPanelTextAccess([this] { return panels; }, [this](const AIPanelTexts &texts) { panels = texts; });
        draft.setAccountAccess([this] { return account; });
    }
    std::optional<QByteArray> stored() const { return defaults.dataValue(QString::fromLatin1(SessionDraftStore::defaultsKey)); }
};

} // namespace

class tst_SessionDraft final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void goldenJson();
    void strictReading_data();
    void strictReading();
    void restore();
    void autosaveWritesOnceAfterTheDelay();
    void aSecondChangeFlushesThePendingWrite();
    void unchangedContentIsNotWritten();
    void clearingWithAWritePending();
    void quittingWritesThePendingChangeAtOnce();
    void aMeetingOfRandomChangesIsStoredAsItIs();
    void theDraftNamesItsAccount();
};

void tst_SessionDraft::goldenJson()
{
    QCOMPARE(goldenValue().toJson(), goldenDraft);
    QCOMPARE(SessionDraft::fromJson(goldenDraft), goldenValue());

    // A translation's language follows its text, only where it is known: the golden draft,
    // written before languages were kept, reads as it did.
    SessionDraft translated = goldenValue();
    translated.turns[0].translationLanguage = TranslationLanguageOption::english;
    const QByteArray json =
        QByteArray(goldenDraft).replace(R"("Good morning.",)", R"("Good morning.","translationLanguage":"english",)");
    QCOMPARE(translated.toJson(), json);
    QCOMPARE(SessionDraft::fromJson(json), translated);
    QVERIFY(translated.fingerprint() != goldenValue().fingerprint());
}

void tst_SessionDraft::strictReading_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("readable");

    auto replace = [](const char *from, const char *to) { return QByteArray(goldenDraft).replace(from, to); };
    QTest::newRow("golden") << goldenDraft << true;
    QTest::newRow("empty turns") << replace(goldenDraft.left(goldenDraft.indexOf("\"subtitlesText\"")).constData(), R"({"turns":[],)") << true;
    QTest::newRow("null labels read as none") << replace(R"("speakerLabel":"A")", R"("speakerLabel":null)") << true;
    QTest::newRow("lower-case id") << replace("0F8FAD5B-D9CB", "0f8fad5b-d9cb") << true;
    QTest::newRow("unknown key ignored") << replace(R"("isClosed":true)", R"("isClosed":true,"extra":1)") << true;
    QTest::newRow("missing answer text") << replace(R"(,"translationAnswerText":"A2")", "") << false;
    QTest::newRow("missing text") << replace(R"("text":"und dann",)", "") << false;
    QTest::newRow("label of wrong type") << replace(R"("speakerLabel":"A")", R"("speakerLabel":7)") << false;
    QTest::newRow("closed flag as string") << replace(R"("isClosed":true)", R"("isClosed":"true")") << false;
    QTest::newRow("id not a UUID") << replace("0F8FAD5B-D9CB-469F-A165-70867728950E", "turn-1") << false;
    QTest::newRow("id in braces") << replace("\"0F8FAD5B-D9CB-469F-A165-70867728950E\"", "\"{0F8FAD5B-D9CB-469F-A165-70867728950E}\"") << false;
    QTest::newRow("fractional seconds") << replace("14:03:27Z", "14:03:27.500Z") << false;
    QTest::newRow("date only") << replace("2026-03-05T14:03:27Z", "2026-03-05") << false;
    QTest::newRow("turns not an array") << replace(R"({"turns":[)", R"({"turns":{"a":[)").replace(R"(],"subtitlesText")", R"(]},"subtitlesText")") << false;
    QTest::newRow("unknown translation language")
        << replace(R"("Good morning.",)", R"("Good morning.","translationLanguage":"klingon",)") << false;
    QTest::newRow("not JSON") << QByteArray("{\"turns\":") << false;
}

void tst_SessionDraft::strictReading()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, readable);
    bool read = true;
    try {
        SessionDraft::fromJson(json);
    } catch (const std::exception &) {
        read = false;
    }
    QCOMPARE(read, readable);
}

void tst_SessionDraft::restore()
{
    DraftFixture fixture;
    fixture.defaults.setData(QString::fromLatin1(SessionDraftStore::defaultsKey), goldenDraft);
    QSignalSpy applied(&fixture.draft, &SessionDraftStore::draftApplied);
    QVERIFY(fixture.draft.restoreDraftIfAvailable());
    QCOMPARE(applied.count(), 1);
    // The turn left open comes back closed: it is shown and counts as stable like the others.
    QCOMPARE(applied.first().first().toInt(), 2);
    QCOMPARE(fixture.turns.count(), 2);
    QVERIFY(!fixture.turns.hasOpenTurn());
    // Labels are tidied away; the rendered texts come from the turns, not from the draft.
    QVERIFY(!fixture.turns.at(1).speakerLabel);
    QCOMPARE(fixture.published.subtitlesText(),
             "[" + PublishedTranscript::transcriptTimestamp(fixture.turns.at(0).timestamp) + "] Guten Morgen.\n["
                 + PublishedTranscript::transcriptTimestamp(fixture.turns.at(1).timestamp) + "] und dann");
    QCOMPARE(fixture.panels, goldenValue().panels);
    // What was restored is not written back.
    QCOMPARE(fixture.draft.lastSavedDraftFingerprint(), fixture.draft.draftFingerprint());
    // New speech starts a turn of its own, at its own time.
    fixture.turns.applyFinalTranscript(QStringLiteral("weiter"), false);
    QCOMPARE(fixture.turns.count(), 3);
    QCOMPARE(fixture.turns.at(1).text, QStringLiteral("und dann"));
    QCOMPARE(fixture.turns.at(2).text, QStringLiteral("weiter"));

    // An unreadable draft changes nothing and stays stored.
    DraftFixture broken;
    broken.defaults.setData(QString::fromLatin1(SessionDraftStore::defaultsKey), "{\"turns\":[]}");
    QVERIFY(!broken.draft.restoreDraftIfAvailable());
    QCOMPARE(broken.turns.count(), 0);
    QCOMPARE(*broken.stored(), QByteArray("{\"turns\":[]}"));
}

void tst_SessionDraft::autosaveWritesOnceAfterTheDelay()
{
    DraftFixture fixture;
    fixture.draft.setAutosaveDelay(30ms);
    QSignalSpy written(&fixture.draft, &SessionDraftStore::draftWritten);
    fixture.turns.applyFinalTranscript(QStringLiteral("hello"), false);
    fixture.draft.scheduleDraftAutosave();
    QVERIFY(!fixture.stored()); // nothing at once
    QVERIFY(written.wait(2000));
    QCOMPARE(written.count(), 1);
    QCOMPARE(SessionDraft::fromJson(*fixture.stored()).turns.front().text, QStringLiteral("hello"));
}

void tst_SessionDraft::aSecondChangeFlushesThePendingWrite()
{
    DraftFixture fixture;
    fixture.draft.setAutosaveDelay(60s);
    QSignalSpy written(&fixture.draft, &SessionDraftStore::draftWritten);
    fixture.turns.applyFinalTranscript(QStringLiteral("first"), false);
    fixture.draft.scheduleDraftAutosave();
    QTest::qWait(5);
    QCOMPARE(written.count(), 0);
    fixture.turns.applyFinalTranscript(QStringLiteral("first second"), false);
    fixture.draft.scheduleDraftAutosave();
    // The woken write stores the content of this moment, long before its own delay.
    QVERIFY(written.wait(2000));
    QCOMPARE(SessionDraft::fromJson(*fixture.stored()).turns.front().text, QStringLiteral("first second"));
    fixture.draft.persistDraftIfNeeded();
    QCOMPARE(written.count(), 1);
}

void tst_SessionDraft::unchangedContentIsNotWritten()
{
    DraftFixture fixture;
    QSignalSpy written(&fixture.draft, &SessionDraftStore::draftWritten);
    fixture.turns.applyFinalTranscript(QStringLiteral("words"), false);
    fixture.draft.persistDraftIfNeeded();
    QCOMPARE(written.count(), 1);
    // Closing changes neither a text nor a translation... but the rendered text gains the row.
    fixture.turns.finalizeCurrentTurnIfNeeded();
    fixture.draft.persistDraftIfNeeded();
    QCOMPARE(written.count(), 2);
    fixture.turns.finalizeCurrentTurnIfNeeded();
    fixture.draft.persistDraftIfNeeded();
    QCOMPARE(written.count(), 2);
    fixture.panels.transcriptSummaryText = QStringLiteral("summary");
    fixture.draft.persistDraftIfNeeded();
    QCOMPARE(written.count(), 3);
}

void tst_SessionDraft::clearingWithAWritePending()
{
    DraftFixture fixture;
    fixture.draft.setAutosaveDelay(20ms);
    fixture.turns.applyFinalTranscript(QStringLiteral("old session"), false);
    fixture.draft.persistDraftIfNeeded();
    QVERIFY(fixture.stored());

    // Without a pending write the draft is simply gone.
    fixture.turns.clear();
    fixture.draft.removeStoredDraft();
    QVERIFY(!fixture.stored());

    // With one pending, the emptied session is written.
    fixture.turns.applyFinalTranscript(QStringLiteral("again"), false);
    fixture.draft.scheduleDraftAutosave();
    fixture.turns.clear();
    fixture.draft.removeStoredDraft();
    QSignalSpy written(&fixture.draft, &SessionDraftStore::draftWritten);
    QVERIFY(written.wait(2000));
    const SessionDraft empty = SessionDraft::fromJson(*fixture.stored());
    QVERIFY(empty.turns.empty());
    QVERIFY(empty.subtitlesText.isEmpty());
}

void tst_SessionDraft::quittingWritesThePendingChangeAtOnce()
{
    DraftFixture fixture;
    fixture.draft.setAutosaveDelay(60s);
    QSignalSpy written(&fixture.draft, &SessionDraftStore::draftWritten);
    // A long session, whose write is still on the worker when the last change comes.
    for (int i = 0; i < 1500; ++i)
        fixture.turns.applyFinalTranscript(QStringLiteral("turn %1 of a long meeting").arg(i), true);
    fixture.draft.scheduleDraftAutosave();
    fixture.draft.scheduleDraftAutosave();
    QTest::qWait(1);
    fixture.turns.applyFinalTranscript(QStringLiteral("the last words"), true);
    fixture.draft.scheduleDraftAutosave();
    QVERIFY(fixture.draft.hasPendingAutosave());

    fixture.draft.flushPendingAutosave();
    // Stored before the call returns, without a turn of the event loop.
    const SessionDraft draft = SessionDraft::fromJson(*fixture.stored());
    QCOMPARE(draft.turns.size(), std::size_t(1501));
    QCOMPARE(draft.turns.back().text, QStringLiteral("the last words"));
    QCOMPARE(fixture.draft.lastSavedDraftFingerprint(), fixture.draft.draftFingerprint());
    QVERIFY(!fixture.draft.hasPendingAutosave());
    // Nothing that was on its way lands over it afterwards.
    QTest::qWait(50);
    QCOMPARE(SessionDraft::fromJson(*fixture.stored()).turns.size(), std::size_t(1501));
}

// A long meeting through the real turn store and published transcript, changed anywhere in a
// fixed pseudo-random order and written by every path (the autosave, a write now, a flush,
// clearing): what is stored, and what a fresh settings object reads from the files as a crash
// leaves them, is the full encoding of the session at that moment.
void tst_SessionDraft::aMeetingOfRandomChangesIsStoredAsItIs()
{
    DraftFixture fixture;
    fixture.draft.setAutosaveDelay(1ms);
    const QString key = QString::fromLatin1(SessionDraftStore::defaultsKey);
    const QString path = fixture.defaults.filePath();
    QRandomGenerator random(20261209);
    const auto fillSession = [&] {
        std::vector<SessionTurn> turns;
        for (int i = 0; i < 400; ++i) {
            SessionTurn turn;
            turn.id = QUuid::createUuid();
            turn.text = QStringLiteral("Реплика %1: перенесём релиз на четверг и проверим цифры.").arg(i);
            turn.translationText = QStringLiteral("Turn %1: we move the release to Thursday.").arg(i);
            turn.timestamp = QDateTime(QDate(2026, 3, 5), QTime(9, 0), Qt::UTC).addSecs(i);
            turn.isClosed = true;
            turns.push_back(turn);
        }
        fixture.turns.replaceAll(std::move(turns));
    };
    fillSession();
    QString spoken = QStringLiteral("Дальше");
    int checks = 0;
    for (int step = 0; step < 500; ++step) {
        const int count = fixture.turns.count();
        const int recent = std::max(0, count - 1 - int(random.bounded(std::min(count, 30) + 1)));
        // Now and then the meeting's account becomes known, or (as after a clear) is not yet.
        if (step % 40 == 7)
            fixture.account = step % 80 == 7 ? std::optional<QString>(QStringLiteral("user-%1").arg(step)) : std::nullopt;
        switch (random.bounded(12)) {
        case 0: case 1: case 2: case 3:
            spoken += QStringLiteral(" слово");
            fixture.turns.applyFinalTranscript(spoken, false);
            break;
        case 4:
            fixture.turns.applyFinalTranscript(spoken + QStringLiteral(" конец."), true);
            spoken = QStringLiteral("Дальше %1").arg(step);
            break;
        case 5:
            fixture.turns.setTranslationText(recent, QStringLiteral("Перевод %1").arg(step));
            break;
        case 6:
            fixture.turns.setText(recent, QStringLiteral("Переписано на шаге %1").arg(step));
            break;
        case 7:
            fixture.turns.setSpeakerLabels(recent, std::nullopt, QStringLiteral("B"));
            break;
        case 8:
            fixture.panels.transcriptProtocolText = QStringLiteral("Протокол %1").arg(step);
            break;
        case 9:
            if (count > 0 && random.bounded(3) == 0)
                fixture.turns.setText(int(random.bounded(count)), QStringLiteral("Ранняя правка %1").arg(step));
            break;
        case 10:
            if (random.bounded(8) == 0) {
                fixture.turns.clear();
                fixture.draft.removeStoredDraft();
                if (random.bounded(2) == 0)
                    fillSession();
            }
            break;
        default:
            break;
        }
        switch (random.bounded(4)) {
        case 0: fixture.draft.scheduleDraftAutosave(); break;
        case 1: fixture.draft.persistDraftInBackground(); break;
        case 2: if (random.bounded(4) == 0) fixture.draft.persistDraftIfNeeded(); break;
        default: break;
        }
        if (step % 25 != 24)
            continue;
        fixture.draft.flushPendingAutosave();
        QVERIFY(QTest::qWaitFor([&] { return !fixture.draft.hasPendingAutosave(); }, 10000));
        const QByteArray expected = fixture.draft.makeSessionDraft().toJson();
        QCOMPARE(fixture.stored(), std::optional<QByteArray>(expected));
        const QString copy = fixture.directory.filePath(QStringLiteral("crash%1/preferences.ini").arg(step));
        QDir().mkpath(QFileInfo(copy).absolutePath());
        QFile::copy(path, copy);
        QFile::copy(path + QStringLiteral(".journal"), copy + QStringLiteral(".journal"));
        const UserDefaults fresh(copy);
        QCOMPARE(fresh.dataValue(key), std::optional<QByteArray>(expected));
        checks += QFile::exists(path + QStringLiteral(".journal")) ? 1 : 0;
    }
    // Checks found edits in the journal, not only values written whole.
    QVERIFY2(checks >= 5, qPrintable(QString::number(checks)));
}

// The draft names the account its meeting was recorded under, written last and only once known;
// a draft of an earlier version, without one, reads as it did.
void tst_SessionDraft::theDraftNamesItsAccount()
{
    SessionDraft named = goldenValue();
    named.accountID = QStringLiteral("user-1");
    const QByteArray json = named.toJson();
    QVERIFY(json.endsWith(R"("translationAnswerText":"A2","accountId":"user-1"})"));
    QCOMPARE(SessionDraft::fromJson(json), named);
    QCOMPARE(SessionDraft::fromJson(goldenDraft).accountID, std::nullopt);

    // Known only after the first write: the next write names it, although no text changed.
    DraftFixture fixture;
    fixture.turns.applyFinalTranscript(QStringLiteral("Hallo."), true);
    fixture.draft.persistDraftIfNeeded();
    QCOMPARE(SessionDraft::fromJson(*fixture.stored()).accountID, std::nullopt);
    fixture.account = QStringLiteral("user-1");
    fixture.draft.persistDraftIfNeeded();
    QCOMPARE(SessionDraft::fromJson(*fixture.stored()).accountID, named.accountID);

    DraftFixture restarted;
    restarted.defaults.setData(QString::fromLatin1(SessionDraftStore::defaultsKey), *fixture.stored());
    QVERIFY(restarted.draft.restoreDraftIfAvailable());
    QCOMPARE(restarted.draft.restoredAccountID(), named.accountID);
}

QTEST_GUILESS_MAIN(tst_SessionDraft)
#include "tst_SessionDraft.moc"
