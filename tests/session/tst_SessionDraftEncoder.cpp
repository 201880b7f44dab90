// The draft encoder that reuses what it encoded before: across a meeting's edits its bytes stay
// exactly those of a full encoding, whatever changed and wherever the reused blocks end.

#include "session/SessionDraft.h"
#include "session/SessionDraftEncoder.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>

namespace {

using Edit = std::function<void(SessionDraft &)>;

SessionTurn turnAt(int index, const QString &text, bool closed)
{
    SessionTurn turn;
    turn.id = QUuid::createUuid();
    turn.text = text;
    turn.translationText = QStringLiteral("перевод %1").arg(index);
    turn.timestamp = QDateTime(QDate(2026, 3, 5), QTime(14, 0), Qt::UTC).addSecs(index);
    turn.isClosed = closed;
    return turn;
}

// What the published texts look like: one line per turn, the open one last.
void render(SessionDraft &draft)
{
    draft.subtitlesText.clear();
    draft.translatedText.clear();
    for (const SessionTurn &turn : draft.turns) {
        draft.subtitlesText += QStringLiteral("[14:00] ") + turn.text + u'\n';
        draft.translatedText += QStringLiteral("[14:00] ") + turn.translationText + u'\n';
    }
}

void addTurn(SessionDraft &draft, const QString &text)
{
    if (!draft.turns.empty())
        draft.turns.back().isClosed = true;
    draft.turns.push_back(turnAt(int(draft.turns.size()), text, false));
    render(draft);
}

// One edit anywhere in the session, of a fixed pseudo-random choice: turns added, grown,
// closed, reopened, removed and changed before, at and after the end of what an encoder keeps,
// panels, ids, or nothing.
void editAnywhere(SessionDraft &draft, QRandomGenerator &random, int step)
{
    const int count = int(draft.turns.size());
    const std::size_t at = std::size_t(count > 0 ? random.bounded(count) : 0);
    switch (count < 3 ? 0 : random.bounded(10)) {
    case 0:
        addTurn(draft, QStringLiteral("шаг %1 ").arg(step).repeated(1 + int(random.bounded(4))));
        break;
    case 1:
        draft.turns.back().text += QStringLiteral(" слово");
        break;
    case 2:
        draft.turns[at].translationText += QStringLiteral(" т%1").arg(step);
        break;
    case 3:
        draft.turns[at].text = QStringLiteral("x").repeated(int(random.bounded(40)));
        break;
    case 4:
        draft.turns[at].isClosed = !draft.turns[at].isClosed;
        break;
    case 5:
        draft.turns.erase(draft.turns.begin() + std::ptrdiff_t(at));
        break;
    case 6:
        if (random.bounded(8) == 0)
            draft.turns.resize(at);
        break;
    case 7:
        draft.panels.transcriptAnswerText = QStringLiteral("ответ %1").arg(step);
        break;
    case 8:
        draft.turns[at].id = QUuid::createUuid();
        break;
    default:
        break;
    }
    render(draft);
}

qsizetype commonPrefix(const QString &a, const QString &b)
{
    qsizetype i = 0;
    while (i < a.size() && i < b.size() && a.at(i) == b.at(i))
        ++i;
    return i;
}

// The change from one draft to the next as the draft store tells it: the first turn that
// differs and the unchanged beginnings of the texts, or (loosened) any earlier turn and any
// shorter beginning, which are just as true.
SessionDraftChange changeBetween(const SessionDraft &before, const SessionDraft &after, QRandomGenerator *loosen = nullptr)
{
    std::size_t first = 0;
    while (first < before.turns.size() && first < after.turns.size() && before.turns[first] == after.turns[first])
        ++first;
    SessionDraftChange change = SessionDraftChange::whole(after);
    change.subtitlesKept = commonPrefix(before.subtitlesText, after.subtitlesText);
    change.translatedKept = commonPrefix(before.translatedText, after.translatedText);
    if (loosen) {
        first = std::size_t(loosen->bounded(quint64(first + 1)));
        change.subtitlesKept = qsizetype(loosen->bounded(quint64(change.subtitlesKept + 1)));
        change.translatedKept = qsizetype(loosen->bounded(quint64(change.translatedKept + 1)));
    }
    change.firstTurn = first;
    change.turns.erase(change.turns.begin(), change.turns.begin() + std::ptrdiff_t(first));
    return change;
}

qsizetype editedBytes(const SettingsJournal::Edits &edits)
{
    qsizetype bytes = 0;
    for (const SettingsJournal::Edit &edit : edits)
        bytes += edit.removed + edit.inserted.size();
    return bytes;
}

} // namespace

class tst_SessionDraftEncoder final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyDraftOfAMeetingEncodesAsAFullEncodingDoes_data();
    void everyDraftOfAMeetingEncodesAsAFullEncodingDoes();
    void aLongSessionWithDefaultBlocks();
    void randomEditsAnywhere();
    void changesGiveTheEditsToTheNextEncoding();
    void aChangeNearTheEndEditsOnlyNearTheEnd_data();
    void aChangeNearTheEndEditsOnlyNearTheEnd();
};

void tst_SessionDraftEncoder::everyDraftOfAMeetingEncodesAsAFullEncodingDoes_data()
{
    QTest::addColumn<qsizetype>("blockLength");
    QTest::newRow("blocks of 2") << qsizetype(2);
    QTest::newRow("blocks of 3") << qsizetype(3);
    QTest::newRow("blocks of 7") << qsizetype(7);
    QTest::newRow("blocks of 64") << qsizetype(64);
}

// One encoder follows a meeting edit by edit, as the writer's worker does.
void tst_SessionDraftEncoder::everyDraftOfAMeetingEncodesAsAFullEncodingDoes()
{
    QFETCH(qsizetype, blockLength);
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80"); // a surrogate pair
    const std::vector<std::pair<const char *, Edit>> edits = {
        {"empty session", [](SessionDraft &) {}},
        {"first words", [](SessionDraft &d) { addTurn(d, QStringLiteral("Guten")); }},
        {"the open turn grows", [](SessionDraft &d) { d.turns.back().text += QStringLiteral(" Morgen, \"alle\""); render(d); }},
        {"a second turn closes the first", [](SessionDraft &d) { addTurn(d, QStringLiteral("Tab\there\\back")); }},
        {"pairs at every offset", [&](SessionDraft &d) { addTurn(d, QStringLiteral("a") + emoji + emoji + QStringLiteral("b") + emoji); }},
        {"a pair moves by one", [&](SessionDraft &d) { d.turns.back().text.prepend(u'x'); render(d); }},
        {"control characters", [](SessionDraft &d) { addTurn(d, QString(QChar(1)) + QStringLiteral("\r\n") + QChar(0x1f) + QChar(0x7f)); }},
        {"a lone surrogate", [](SessionDraft &d) { addTurn(d, QString(QChar(0xd83d)) + QStringLiteral("z")); }},
        {"Cyrillic and more turns", [](SessionDraft &d) {
             for (int i = 0; i < 12; ++i)
                 addTurn(d, QStringLiteral("Реплика номер %1 — «кавычки»").arg(i));
         }},
        {"a closed turn's translation arrives", [](SessionDraft &d) { d.turns[2].translationText = QStringLiteral("late"); render(d); }},
        {"a closed turn's text is rewritten", [](SessionDraft &d) { d.turns[1].text = QStringLiteral("stable rewrite"); render(d); }},
        {"labels of a closed turn", [](SessionDraft &d) { d.turns[3].speakerLabel = QStringLiteral("Спикер 1"); d.turns[3].translationSpeakerLabel = QStringLiteral("S1"); }},
        {"a time and an id", [](SessionDraft &d) { d.turns[4].timestamp = d.turns[4].timestamp.addSecs(60); d.turns[5].id = QUuid::createUuid(); }},
        {"a turn reopens", [](SessionDraft &d) { d.turns[6].isClosed = false; }},
        {"the middle of the transcript changes", [](SessionDraft &d) { d.subtitlesText.replace(20, 3, QStringLiteral("ÄÖÜ")); }},
        {"the transcript shrinks", [](SessionDraft &d) { d.subtitlesText.chop(30); d.translatedText.truncate(5); }},
        {"an open turn between closed ones grows", [](SessionDraft &d) { d.turns[6].text += QStringLiteral(" …"); render(d); }},
        {"it closes again, longer", [](SessionDraft &d) { d.turns[6].isClosed = true; d.turns[6].text += QStringLiteral(" конец"); render(d); }},
        {"the last two turns go", [](SessionDraft &d) { d.turns.resize(d.turns.size() - 2); render(d); }},
        {"a closed turn shortens", [](SessionDraft &d) { d.turns[0].text = QStringLiteral("G"); render(d); }},
        {"panels", [&](SessionDraft &d) { d.panels = AIPanelTexts{"Итог", "Summary " + emoji, "P1", "P2", "A\"1", "A2"}; }},
        {"a turn goes from the middle", [](SessionDraft &d) { d.turns.erase(d.turns.begin() + 2); render(d); }},
        {"the session is cleared", [](SessionDraft &d) { d = SessionDraft(); }},
        {"a new session", [](SessionDraft &d) { addTurn(d, QStringLiteral("again")); addTurn(d, QStringLiteral("and again")); }},
        {"the last closed turn's translation arrives, the next turn open", [](SessionDraft &d) {
             d.turns[d.turns.size() - 2].translationText += QStringLiteral(" — и ещё немного");
             render(d);
         }},
        {"the open turn closes after it", [](SessionDraft &d) { addTurn(d, QStringLiteral("third")); }},
        {"the last closed turn's translation shrinks, the next turn open", [](SessionDraft &d) {
             d.turns[d.turns.size() - 2].translationText = QStringLiteral("п");
             render(d);
         }},
        {"the open turn closes after that", [](SessionDraft &d) { addTurn(d, QStringLiteral("fourth")); }},
    };

    SessionDraftEncoder encoder(blockLength);
    SessionDraft draft;
    for (const auto &[name, edit] : edits) {
        edit(draft);
        const QByteArray expected = draft.toJson();
        const QByteArray encoded = encoder.encode(draft);
        QVERIFY2(encoded == expected, qPrintable(QStringLiteral("%1:\n%2\n%3").arg(QString::fromUtf8(name),
                                                     QString::fromUtf8(encoded), QString::fromUtf8(expected))));
        // The same draft again, everything reused.
        QCOMPARE(encoder.encode(draft), expected);
        QCOMPARE(SessionDraft::fromJson(encoded), draft);
    }
}

// A session as long as a long meeting, growing at its end, with the blocks the writer uses.
void tst_SessionDraftEncoder::aLongSessionWithDefaultBlocks()
{
    SessionDraftEncoder encoder;
    SessionDraft draft;
    for (int i = 0; i < 600; ++i) {
        addTurn(draft, QStringLiteral("Сказанное в реплике %1, достаточно длинное, чтобы блоки заполнялись. ").arg(i).repeated(3));
        if (i % 37 == 0 || i > 590) {
            QCOMPARE(encoder.encode(draft), draft.toJson());
            draft.turns.back().text += QStringLiteral(" …");
            render(draft);
            QCOMPARE(encoder.encode(draft), draft.toJson());
        }
    }
}

// Edits anywhere in the session in a fixed pseudo-random order: turns added, closed, reopened,
// removed and changed before, at and after the end of what the encoder keeps.
void tst_SessionDraftEncoder::randomEditsAnywhere()
{
    QRandomGenerator random(20261207);
    SessionDraftEncoder encoder(5);
    SessionDraft draft;
    for (int step = 0; step < 600; ++step) {
        editAnywhere(draft, random, step);
        QCOMPARE(encoder.encode(draft), draft.toJson());
    }
}

// Random edits anywhere, handed over as changes that say what is kept (exactly or less), some
// taken into the next one as the writer does with a waiting change: the edits turn the last
// encoding into a full encoding of the new draft, and the judgement follows the fingerprint.
void tst_SessionDraftEncoder::changesGiveTheEditsToTheNextEncoding()
{
    QRandomGenerator random(20261208);
    SessionDraftEncoder encoder(7);
    SessionDraft taken; // what the encoder has
    SessionDraft handed = taken; // what the last change handed over made
    QByteArray bytes = encoder.json();
    QCOMPARE(bytes, taken.toJson());
    std::optional<SessionDraftChange> waiting;
    for (int step = 0; step < 800; ++step) {
        SessionDraft draft = handed;
        editAnywhere(draft, random, step);
        SessionDraftChange change = changeBetween(handed, draft, random.bounded(3) == 0 ? &random : nullptr);
        handed = draft;
        if (waiting)
            change.includeEarlier(std::move(*waiting));
        if (random.bounded(4) == 0) {
            waiting = std::move(change); // a newer change will take it in
            continue;
        }
        waiting.reset();
        const QString fingerprintBefore = encoder.fingerprint();
        QCOMPARE(fingerprintBefore, taken.fingerprint());
        const SessionDraftEncoder::Result result = encoder.apply(change);
        QCOMPARE(result.previousLength, bytes.size());
        QVERIFY(SettingsJournal::apply(bytes, result.edits));
        QCOMPARE(bytes, draft.toJson());
        QCOMPARE(encoder.json(), bytes);
        QCOMPARE(result.judgedChanged, draft.fingerprint() != fingerprintBefore);
        taken = draft;
    }
}

void tst_SessionDraftEncoder::aChangeNearTheEndEditsOnlyNearTheEnd_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::newRow("the open turn grows") << Edit([](SessionDraft &d) { d.turns.back().text += QStringLiteral(" и ещё"); });
    QTest::newRow("the open turn closes, the next opens")
        << Edit([](SessionDraft &d) { addTurn(d, QStringLiteral("Следующая реплика")); });
    QTest::newRow("a late translation of a recent turn")
        << Edit([](SessionDraft &d) { d.turns[d.turns.size() - 3].translationText += QStringLiteral(" (поздно)"); });
    QTest::newRow("a recent turn rewritten")
        << Edit([](SessionDraft &d) { d.turns[d.turns.size() - 4].text = QStringLiteral("Переписано"); });
    QTest::newRow("a summary") << Edit([](SessionDraft &d) { d.panels.transcriptSummaryText = QStringLiteral("Итог"); });
    QTest::newRow("nothing") << Edit([](SessionDraft &) {});
}

// A long session: what a change near its end edits is a few kilobytes of a value of megabytes.
void tst_SessionDraftEncoder::aChangeNearTheEndEditsOnlyNearTheEnd()
{
    QFETCH(Edit, edit);
    SessionDraft draft;
    for (int i = 0; i < 2000; ++i)
        draft.turns.push_back(turnAt(i, QStringLiteral("Реплика %1: перенесём релиз на четверг и проверим цифры.").arg(i), true));
    draft.turns.back().isClosed = false;
    render(draft);
    SessionDraftEncoder encoder;
    QByteArray bytes = encoder.encode(draft);
    QVERIFY(bytes.size() > 700 * 1024);

    SessionDraft next = draft;
    edit(next);
    render(next);
    const SessionDraftEncoder::Result result = encoder.apply(changeBetween(draft, next));
    QVERIFY2(editedBytes(result.edits) < 8 * 1024, qPrintable(QString::number(editedBytes(result.edits))));
    QVERIFY(SettingsJournal::apply(bytes, result.edits));
    QCOMPARE(bytes, next.toJson());
}

QTEST_GUILESS_MAIN(tst_SessionDraftEncoder)

#include "tst_SessionDraftEncoder.moc"
