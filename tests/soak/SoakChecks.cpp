#include "soak/SoakChecks.h"

#include "soak/MeetingSoak.h"

#include "accounts/AuthService.h"
#include "base/Async.h"
#include "base/Dates.h"
#include "platform/UserDefaults.h"
#include "session/AIResultPanelSet.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraft.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "session/StableReconstructionScheduler.h"
#include "session/SubtitleViewModel.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/FakeSpeechRelay.h"
#include "support/FakeTranslationRelay.h"
#include "support/ProcessMemory.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QRegularExpression>


namespace {

// The first differences between two tag lists, for the report.
QString firstDifferences(const QList<int> &expected, const QList<int> &actual)
{
    QStringList lines;
    const qsizetype length = std::max(expected.size(), actual.size());
    const auto name = [](const QList<int> &tags, qsizetype i) {
        return i < tags.size() ? QStringLiteral("#%1#").arg(tags.at(i)) : QStringLiteral("nothing");
    };
    for (qsizetype i = 0; i < length && lines.size() < 3; ++i) {
        if (i >= expected.size() || i >= actual.size() || expected.at(i) != actual.at(i))
            lines.append(QStringLiteral("at %1 %2 where %3 belongs").arg(i).arg(name(actual, i), name(expected, i)));
    }
    return QStringLiteral("%1 expected, %2 held; ").arg(expected.size()).arg(actual.size()) + lines.join(QStringLiteral("; "));
}

QString mebibytes(double bytes)
{
    return QString::number(bytes / 1048576.0, 'f', 2) + QStringLiteral(" MiB");
}

} // namespace

SoakChecks::SoakChecks(MeetingSoak &soak)
    : m_soak(soak)
{
}

qint64 SoakChecks::textBytes(const SessionTurnStore &turns)
{
    qint64 bytes = 0;
    for (const SessionTurn &turn : turns.turns())
        bytes += (turn.text.size() + turn.translationText.size()) * qint64(sizeof(QChar));
    return bytes;
}

QList<int> SoakChecks::tagsIn(const QString &text)
{
    static const QRegularExpression tag(QStringLiteral("#(\\d+)#"));
    QList<int> tags;
    for (QRegularExpressionMatchIterator it = tag.globalMatch(text); it.hasNext();)
        tags.append(it.next().captured(1).toInt());
    return tags;
}

void SoakChecks::run()
{
    SoakReport &report = m_soak.m_report;
    report.note(QStringLiteral("checks:"));
    m_turns = m_soak.m_model->turnStore()->turns();
    checkViewModel();
    checkDraft();
    checkServerRecords();
    checkUsageEvents();
    checkRecordings();
    checkMemory();
    checkNothingRunning();
    report.note(QStringLiteral("%1 checks, %2 missed").arg(report.checkCount()).arg(report.misses().size()));
}

void SoakChecks::checkViewModel()
{
    SoakReport &report = m_soak.m_report;
    const SoakMeeting &meeting = m_soak.m_ledger.meetings.back();
    SubtitleViewModel &model = *m_soak.m_model;
    QList<int> held;
    int untranslated = 0;
    int open = 0;
    QString example;
    for (const SessionTurn &turn : m_turns) {
        const QList<int> tags = tagsIn(turn.text);
        held.append(tags);
        if (!turn.isClosed)
            ++open;
        if (tags.size() != 1 || tagsIn(turn.translationText) != tags) {
            ++untranslated;
            if (example.isEmpty())
                example = turn.text.left(40) + QStringLiteral(" -> ") + turn.translationText.left(40);
        }
    }
    report.check(held == meeting.tags, QStringLiteral("view model: every closed turn of the meeting once, in order"),
                 held == meeting.tags ? QStringLiteral("%1 turns").arg(held.size()) : firstDifferences(meeting.tags, held));
    report.check(open == 0, QStringLiteral("view model: no turn left open"));
    report.check(untranslated == 0, QStringLiteral("view model: each turn with its own translation"),
                 untranslated ? QStringLiteral("%1 without, e.g. %2").arg(untranslated).arg(example) : QString());
    report.check(model.transcriptEntries().size() == qsizetype(m_turns.size())
                     && model.translationEntries().size() == qsizetype(m_turns.size()),
                 QStringLiteral("view model: both columns show every turn"),
                 QStringLiteral("%1 and %2 rows for %3 turns")
                     .arg(model.transcriptEntries().size())
                     .arg(model.translationEntries().size())
                     .arg(m_turns.size()));
}

void SoakChecks::checkDraft()
{
    SoakReport &report = m_soak.m_report;
    const std::optional<QByteArray> stored = m_soak.m_defaults->dataValue(QString::fromLatin1(SessionDraftStore::defaultsKey));
    if (!report.check(stored.has_value(), QStringLiteral("draft: written")))
        return;
    SessionDraft draft;
    try {
        draft = SessionDraft::fromJson(*stored);
    } catch (...) {
        report.check(false, QStringLiteral("draft: readable"));
        return;
    }
    int different = 0;
    for (std::size_t i = 0; i < std::min(draft.turns.size(), m_turns.size()); ++i) {
        const SessionTurn &a = draft.turns[i];
        const SessionTurn &b = m_turns[i];
        if (a.id != b.id || a.text != b.text || a.translationText != b.translationText || a.isClosed != b.isClosed)
            ++different;
    }
    report.check(draft.turns.size() == m_turns.size() && different == 0,
                 QStringLiteral("draft: the view model's turns with their translations"),
                 QStringLiteral("%1 turns for %2, %3 different").arg(draft.turns.size()).arg(m_turns.size()).arg(different));
}

void SoakChecks::checkServerRecords()
{
    SoakReport &report = m_soak.m_report;
    FakeHistoryBackend &history = *m_soak.m_history;
    QHash<QString, QStringList> recordsByClient;
    for (const QString &id : history.meetingIds()) {
        const std::optional<QJsonObject> record = history.meeting(id);
        if (record)
            recordsByClient[record->value(QStringLiteral("sessionParams")).toObject().value(QStringLiteral("clientSessionId")).toString()]
                .append(id);
    }
    const std::vector<SoakMeeting> &meetings = m_soak.m_ledger.meetings;
    for (std::size_t index = 0; index < meetings.size(); ++index) {
        const SoakMeeting &meeting = meetings[index];
        const QString name = QStringLiteral("meeting %1 of %2").arg(index + 1).arg(meetings.size());
        const QStringList ids = recordsByClient.value(meeting.clientSessionID);
        if (!report.check(ids.size() == 1, name + QStringLiteral(": one record on the server"),
                          QStringLiteral("%1 records").arg(ids.size())))
            continue;
        const QJsonObject record = *history.meeting(ids.first());
        report.check(record.value(QStringLiteral("status")).toString() == QLatin1String("completed"),
                     name + QStringLiteral(": last record completed"), record.value(QStringLiteral("status")).toString());

        const QJsonArray blocks = record.value(QStringLiteral("transcriptJson")).toArray();
        QList<int> held;
        QHash<QString, int> tagById;
        for (const QJsonValue &block : blocks) {
            const QList<int> tags = tagsIn(block.toObject().value(QStringLiteral("text")).toString());
            held.append(tags);
            tagById.insert(block.toObject().value(QStringLiteral("id")).toString(), tags.value(0, -1));
        }
        report.check(held == meeting.tags, name + QStringLiteral(": last record holds every closed turn once, in order"),
                     held == meeting.tags ? QStringLiteral("%1 turns").arg(held.size()) : firstDifferences(meeting.tags, held));

        QHash<QString, int> translationsPerBlock;
        int wrong = 0;
        for (const QJsonValue &value : record.value(QStringLiteral("translationJson")).toArray()) {
            const QString blockId = value.toObject().value(QStringLiteral("transcriptBlockId")).toString();
            ++translationsPerBlock[blockId];
            if (tagsIn(value.toObject().value(QStringLiteral("text")).toString()) != QList<int>{tagById.value(blockId, -1)})
                ++wrong;
        }
        // A translation on its way at Start New may have come in before the stop let go of it,
        // or not; it is never there twice.
        int missing = 0;
        int leftOut = 0;
        for (auto it = tagById.constBegin(); it != tagById.constEnd(); ++it) {
            const int count = translationsPerBlock.value(it.key());
            if (count == 0 && meeting.translationsInFlight.contains(it.value()))
                ++leftOut;
            else if (count != 1)
                ++missing;
        }
        QString detail = QStringLiteral("%1 blocks without exactly one, %2 translations of another turn").arg(missing).arg(wrong);
        if (!meeting.translationsInFlight.isEmpty())
            detail += QStringLiteral("; %1 of the %2 on their way at Start New left out")
                          .arg(leftOut)
                          .arg(meeting.translationsInFlight.size());
        report.check(missing == 0 && wrong == 0, name + QStringLiteral(": each turn with its translation, once"), detail);

        const std::optional<QDateTime> ended = Dates::parseIso8601(record.value(QStringLiteral("endedAt")).toString());
        report.check(ended && ended->toSecsSinceEpoch() == meeting.stoppedAt.toSecsSinceEpoch(),
                     name + QStringLiteral(": end time where its stop put it"),
                     QStringLiteral("%1, stopped %2")
                         .arg(record.value(QStringLiteral("endedAt")).toString(), Dates::formatIso8601(meeting.stoppedAt)));

        if (index + 1 == meetings.size()) {
            bool same = blocks.size() == qsizetype(m_turns.size());
            const QJsonArray translations = record.value(QStringLiteral("translationJson")).toArray();
            for (qsizetype i = 0; same && i < blocks.size(); ++i) {
                same = blocks[i].toObject().value(QStringLiteral("text")).toString() == m_turns[std::size_t(i)].text
                       && i < translations.size()
                       && translations[i].toObject().value(QStringLiteral("text")).toString()
                              == m_turns[std::size_t(i)].translationText;
            }
            report.check(same, name + QStringLiteral(": last record word for word as the view model holds it"));
        }
    }
}

void SoakChecks::checkUsageEvents()
{
    SoakReport &report = m_soak.m_report;
    const QHash<QString, QJsonObject> events = m_soak.m_billing->events();
    QList<QJsonObject> unmatched = events.values();
    int expected = 0;
    for (std::size_t index = 0; index < m_soak.m_ledger.stretches.size(); ++index) {
        const SoakStretch &stretch = m_soak.m_ledger.stretches[index];
        const QDateTime start = QDateTime::fromSecsSinceEpoch(stretch.startedAt.toSecsSinceEpoch(), Qt::UTC);
        const qint64 seconds = (stretch.stoppedAt.toMSecsSinceEpoch() - start.toMSecsSinceEpoch()) / 1000;
        if (seconds < 1)
            continue;
        ++expected;
        const QString client = QLatin1String(BillingUsageReporter::clientSessionPrefix)
                               + m_soak.m_ledger.meetings[std::size_t(stretch.meeting)].clientSessionID.mid(
                                   qsizetype(qstrlen(MeetingHistoryMirror::clientSessionPrefix)));
        const QString startText = Dates::formatIso8601(start);
        const auto found = std::find_if(unmatched.begin(), unmatched.end(), [&](const QJsonObject &event) {
            return event.value(QStringLiteral("clientSessionId")).toString() == client
                   && event.value(QStringLiteral("startedAt")).toString() == startText;
        });
        const QString name = QStringLiteral("usage: stretch %1 (%2 s from %3)").arg(index + 1).arg(seconds).arg(startText);
        if (!report.check(found != unmatched.end(), name + QStringLiteral(" reported")))
            continue;
        report.check(found->value(QStringLiteral("durationSeconds")).toInteger() == seconds, name + QStringLiteral(" with its length"),
                     QStringLiteral("%1 s reported").arg(found->value(QStringLiteral("durationSeconds")).toInteger()));
        unmatched.erase(found);
    }
    report.check(unmatched.isEmpty(), QStringLiteral("usage: one event per listening stretch, none besides"),
                 QStringLiteral("%1 events for %2 stretches").arg(events.size()).arg(expected));
}

void SoakChecks::checkRecordings()
{
    SoakReport &report = m_soak.m_report;
    for (std::size_t index = 0; index < m_soak.m_ledger.stretches.size(); ++index) {
        const SoakStretch &stretch = m_soak.m_ledger.stretches[index];
        const double listened = double(stretch.audioSamples) / 16000.0;
        const QString name = QStringLiteral("recording of stretch %1 (%2 s listened)").arg(index + 1).arg(listened, 0, 'f', 1);
        if (!report.check(!stretch.recordingPath.isEmpty(), name + QStringLiteral(": an M4A")))
            continue;
        const TestAudio::ReadBack file = TestAudio::readBack(stretch.recordingPath);
        const double seconds = file.sampleRate > 0 ? double(file.decodedSamples) / file.sampleRate : 0.0;
        report.check(file.opened && !file.decodeError && std::abs(seconds - listened) <= 1.0,
                     name + QStringLiteral(": plays within a second of the listening time"),
                     QStringLiteral("%1 s").arg(seconds, 0, 'f', 2));
        QFile::remove(stretch.recordingPath);
    }
}

void SoakChecks::checkMemory()
{
    SoakReport &report = m_soak.m_report;
    const MeetingSoak::MemoryFigure &early = m_soak.m_early;
    const MeetingSoak::MemoryFigure &late = m_soak.m_late;
    // Both figures were taken with the harness's records cleared and the fake server's stored
    // meetings set aside (MeetingSoak::measure()): what is left is the program's.
    report.note(QStringLiteral("memory (harness records cleared and the fake server's stored meetings, %1 and %2, set aside "
                               "for each figure):")
                    .arg(mebibytes(early.store), mebibytes(late.store)));
    report.note(QStringLiteral("  text the engine holds: %1 after the warm-up (%2 turns), %3 after the last turn (%4 turns)")
                    .arg(mebibytes(early.text))
                    .arg(early.turns)
                    .arg(mebibytes(late.text))
                    .arg(late.turns));

    // The live meeting holds its turns until it ends, however long it runs; a leak keeps what
    // the work left behind. So the meeting's share is measured (it ends here, after the other
    // checks read it), and the figure may differ from the warm-up's by what the turns the last
    // meeting has more, or fewer, than the warm-up's meeting hold: a last meeting shorter than
    // that one frees room that a leak would otherwise fill unseen. An estimate from its text
    // alone would miss the turn's other copies (the rendered columns and rows, the stable text,
    // the draft's JSON) and its objects. The checks' copy of the turns goes first (assigning {}
    // would keep its room).
    m_turns = std::vector<SessionTurn>();
    const qint64 held = m_soak.measureMeetingHeld();
    const double heldPerTurn = late.turns > 0 ? double(held) / late.turns : 0.0;
    const double textPerTurn = late.turns > 0 ? double(late.text) / late.turns : 0.0;
    const int moreTurns = late.turns - early.turns;
    const double meetingGrowth = heldPerTurn * moreTurns;
    report.note(QStringLiteral("  the last meeting holds %1: %2 KiB a turn, of which its text %3 KiB")
                    .arg(mebibytes(double(held)))
                    .arg(heldPerTurn / 1024.0, 0, 'f', 2)
                    .arg(textPerTurn / 1024.0, 0, 'f', 2));

    // Each turn is held a few times over by design (its own texts, the two rendered columns
    // and their rows, the stable text, the draft's JSON of the turn and of both columns, and the
    // objects around them: about five times its text): a turn that keeps what it no longer
    // needs, each interim result say, goes far past twelve.
    const double heldLimit = 12.0 * double(late.text) + 64.0 * 1024.0;
    report.check(double(held) <= heldLimit, QStringLiteral("the last meeting holds at most 12x its text"),
                 QStringLiteral("%1, limit %2").arg(mebibytes(double(held)), mebibytes(heldLimit)), true);

    const double heapLimit = 1.3 * double(early.heap) + meetingGrowth;
    report.check(double(late.heap) <= heapLimit,
                 QStringLiteral("live heap after the last turn within 1.3x of the warm-up's, give or take what the "
                                "meeting holds for the turns it has beyond or short of the warm-up's"),
                 QStringLiteral("%1 -> %2, limit %3 with %4 for %5 more turns")
                     .arg(mebibytes(early.heap), mebibytes(late.heap), mebibytes(heapLimit), mebibytes(meetingGrowth))
                     .arg(moreTurns),
                 true);
    const double residentLimit = 1.3 * double(early.resident) + meetingGrowth;
    const QString residentFigures = QStringLiteral("%1 -> %2, limit %3")
                                        .arg(mebibytes(early.resident), mebibytes(late.resident), mebibytes(residentLimit));
    if (ProcessMemory::underAddressSanitizer()) {
        // Its quarantine keeps freed memory resident on purpose; the live heap above is its own count.
        report.note(QStringLiteral("  resident set (not judged under AddressSanitizer): ") + residentFigures);
    } else {
        report.check(double(late.resident) <= residentLimit,
                     QStringLiteral("resident set after the last turn within 1.3x of the warm-up's, give or take what "
                                    "the meeting holds for the turns it has beyond or short of the warm-up's"),
                     residentFigures, true);
    }
}

void SoakChecks::checkNothingRunning()
{
    SoakReport &report = m_soak.m_report;
    SubtitleViewModel &model = *m_soak.m_model;
    SessionCompanionSet *companions = model.companionSet();
    report.check(!companions->stableRewrite()->isWaiting() && !companions->stableRewrite()->isRunning()
                     && !model.draftStore()->hasPendingAutosave() && !companions->history()->hasDeferredRetry()
                     && !companions->panels()->isAnyLoading(),
                 QStringLiteral("after the stop: no rewrite, autosave, retry or AI request pending"));
    // Which sockets are still open ("speech 3", "translation 1").
    const auto openSockets = [this] {
        QStringList open;
        const QList<FakeWebSocketSession *> speech = m_soak.m_speech->sessions();
        for (qsizetype i = 0; i < speech.size(); ++i) {
            if (speech[i] && speech[i]->isConnected())
                open.append(QStringLiteral("speech %1").arg(i));
        }
        for (int i = 0; i < m_soak.m_translation->v2ConnectionCount(); ++i) {
            if (m_soak.m_translation->v2Session(i) && m_soak.m_translation->v2Session(i)->isConnected())
                open.append(QStringLiteral("translation %1").arg(i));
        }
        return open;
    };
    m_soak.waitFor([&] { return openSockets().isEmpty(); }, 5000);
    report.check(openSockets().isEmpty(), QStringLiteral("after the stop: no speech or translation socket open"),
                 openSockets().join(QStringLiteral(", ")));

    // The program quits: the engine and the sign-in go, and with them every task and connection.
    m_soak.m_model.reset();
    m_soak.m_auth.reset();
    FakeBackend *backend = m_soak.m_backend.get();
    const int before = m_soak.m_tasksBefore;
    m_soak.waitFor([&] { return runningTaskCount() <= before && backend->openConnectionCount() == 0; }, 5000);
    report.check(runningTaskCount() <= before, QStringLiteral("after the quit: no task left running"),
                 QStringLiteral("%1 running, %2 before the engine").arg(runningTaskCount()).arg(before));
    report.check(backend->openConnectionCount() == 0, QStringLiteral("after the quit: no connection left open"),
                 QStringLiteral("%1 open").arg(backend->openConnectionCount()));
    // Whether what the engine grew by is its own to give back: once it is gone, the heap should
    // be where it was before it came (the server's stored meetings and the copy of the turns the
    // checks above compared, go first).
    m_soak.m_history->clearMeetings();
    m_turns = std::vector<SessionTurn>();
    const qint64 engineGone = ProcessMemory::heapInUse();
    m_soak.clearHarnessRecords();
    const qint64 recordsGone = ProcessMemory::heapInUse();
    m_soak.m_defaults->remove(QString::fromLatin1(SessionDraftStore::defaultsKey));
    m_soak.m_defaults->sync();
    report.note(QStringLiteral("live heap before the engine %1, after the last turn %2 (the stored meetings set aside), "
                               "once the engine is gone %3, the fake server's records since the last clearing %4, "
                               "the draft in the settings %5")
                    .arg(mebibytes(m_soak.m_heapBefore), mebibytes(m_soak.m_late.heap), mebibytes(engineGone),
                         mebibytes(engineGone - recordsGone), mebibytes(recordsGone - ProcessMemory::heapInUse())));
}
