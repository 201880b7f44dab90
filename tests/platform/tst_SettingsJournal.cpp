// A large data value changed by edits: read back byte for byte as it was set, by this settings
// object and by a fresh one over the files as a crash leaves them (torn or damaged journal
// tails, a fold cut short between its steps), and the settings file whole and readable by
// QSettings once the edits are folded into it.

#include "platform/SettingsJournal.h"
#include "platform/UserDefaults.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

const QString key = QStringLiteral("kavrel.session.localDraft.v2");

QByteArray randomBytes(QRandomGenerator &random, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// One to three edits anywhere in the value, all bytes allowed.
SettingsJournal::Edits randomEdits(QRandomGenerator &random, qsizetype length)
{
    SettingsJournal::Edits edits;
    const int count = 1 + int(random.bounded(3));
    for (int i = 0; i < count; ++i) {
        SettingsJournal::Edit edit;
        edit.offset = qsizetype(random.bounded(quint64(length + 1)));
        edit.removed = qsizetype(random.bounded(quint64(std::min<qsizetype>(length - edit.offset, 3000) + 1)));
        edit.inserted = randomBytes(random, qsizetype(random.bounded(3000)));
        length += edit.inserted.size() - edit.removed;
        edits.push_back(edit);
    }
    return edits;
}

QByteArray edited(QByteArray value, const SettingsJournal::Edits &edits)
{
    if (!SettingsJournal::apply(value, edits))
        qFatal("edits outside the value");
    return value;
}

// The settings file and its journal as they are now, copied where a fresh settings object reads
// them: what a process killed at this moment leaves behind.
QString crashCopy(const QString &path, const QString &directory, const QByteArray *journal = nullptr)
{
    QDir().mkpath(directory);
    const QString copy = directory + QStringLiteral("/prefs.ini");
    QFile::remove(copy);
    QFile::remove(copy + QStringLiteral(".journal"));
    QFile::copy(path, copy);
    if (journal) {
        QFile file(copy + QStringLiteral(".journal"));
        if (!file.open(QIODevice::WriteOnly) || file.write(*journal) != journal->size())
            qFatal("journal not copied");
    } else {
        QFile::copy(path + QStringLiteral(".journal"), copy + QStringLiteral(".journal"));
    }
    return copy;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What QSettings reads for the value: the tagged base64 of the data.
QByteArray readByQSettings(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    const QString text = settings.value(key).toString();
    return text.startsWith(QLatin1String("x:")) ? QByteArray::fromBase64(text.sliced(2).toLatin1()) : QByteArray("?");
}

// The values a writer goes through: a large value, then random edits of it, each step the same
// for the same seed.
struct EditSequence
{
    explicit EditSequence(quint32 seed) : random(seed), value(randomBytes(random, 70 * 1024)) {}
    SettingsJournal::Edits next()
    {
        SettingsJournal::Edits edits = randomEdits(random, value.size());
        value = edited(value, edits);
        return edits;
    }
    QByteArray valueAfter(int steps)
    {
        for (int i = 0; i < steps; ++i)
            next();
        return value;
    }

    QRandomGenerator random;
    QByteArray value;
};

const char *const writerRole = "--write-edits-until-killed";
const char *const sharerRole = "--share-settings";

// The child: a second process over the parent's settings file. It reports whether it found the
// file held and the digest of the large value as it reads it, writes a key of its own and ends.
int shareSettings(const QString &path)
{
    int status = 0;
    {
        UserDefaults defaults(path);
        defaults.setString(QStringLiteral("kavrel.child"), QStringLiteral("c"));
        status = defaults.sync() ? 0 : 1;
        std::printf("held %d digest %s\n", int(defaults.isHeldByAnotherProcess()),
                    SettingsJournal::digest(defaults.dataValue(key).value_or(QByteArray())).toHex().constData());
    }
    std::fflush(stdout);
    return status;
}

// The child: writes the sequence's values (by edits, or whole when the journal is due to be
// folded) and reports each step once it returned, until it is killed.
int writeEditsUntilKilled(const QString &path, quint32 seed)
{
    UserDefaults defaults(path);
    defaults.setString(QStringLiteral("kavrel.other"), QStringLiteral("kept"));
    EditSequence sequence(seed);
    defaults.setData(key, sequence.value);
    for (int step = 1;; ++step) {
        const qsizetype length = sequence.value.size();
        const SettingsJournal::Edits edits = sequence.next();
        if (!defaults.editData(key, length, edits))
            defaults.setData(key, sequence.value);
        std::printf("written %d\n", step);
        std::fflush(stdout);
    }
}

} // namespace

class tst_SettingsJournal final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void randomEditsReadBackAsSet();
    void aWriterKilledAtAnyMoment();
    void damagedJournalTails_data();
    void damagedJournalTails();
    void aFoldCutShortBetweenItsSteps();
    void editsThatDoNotFitAreRefused();
    void aRemovedValueLeavesNoEditsBehind();
    void aFailedWriteLosesNoEdits();
    void aFailedWriteIsKeptAndWrittenLater_data();
    void aFailedWriteIsKeptAndWrittenLater();
    void twoProcessesOnOneFile();
};

// Hundreds of edits with a fixed seed, folded into the file whenever the journal grows past its
// share; after each, the value read back equals what was set, and so does the value a fresh
// settings object reads from the files as they stand.
void tst_SettingsJournal::randomEditsReadBackAsSet()
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("prefs.ini"));
    QRandomGenerator random(20261207);
    QByteArray value = randomBytes(random, 80 * 1024);
    int wholeWrites = 0;
    {
        UserDefaults defaults(path);
        defaults.setBool(QStringLiteral("kavrel.flag"), true);
        defaults.setString(QStringLiteral("kavrel.name"), QStringLiteral("Анна; \"B\""));
        defaults.setData(key, value);
        for (int step = 0; step < 300; ++step) {
            const SettingsJournal::Edits edits = randomEdits(random, value.size());
            const qsizetype length = value.size();
            value = edited(value, edits);
            if (!defaults.editData(key, length, edits)) {
                // The journal is due to be folded: the value is written whole.
                defaults.setData(key, value);
                ++wholeWrites;
                QVERIFY(!QFile::exists(path + QStringLiteral(".journal")) || QFile(path + QStringLiteral(".journal")).size() < 200);
            }
            QCOMPARE(defaults.dataValue(key), std::optional<QByteArray>(value));
            if (step % 20 == 7) {
                const UserDefaults fresh(crashCopy(path, directory.filePath(QStringLiteral("crash%1").arg(step))));
                QCOMPARE(fresh.dataValue(key), std::optional<QByteArray>(value));
                QCOMPARE(fresh.boolValue(QStringLiteral("kavrel.flag")), std::optional<bool>(true));
                QCOMPARE(fresh.stringValue(QStringLiteral("kavrel.name")), std::optional<QString>(QStringLiteral("Анна; \"B\"")));
            }
        }
        // The journal is only where a value was not written whole.
        QVERIFY2(wholeWrites >= 2 && wholeWrites < 30, qPrintable(QString::number(wholeWrites)));
        QVERIFY(QFile::exists(path + QStringLiteral(".journal")));
    }
    // The last user of the file folds the journal into it.
    QVERIFY(!QFile::exists(path + QStringLiteral(".journal")));
    QCOMPARE(readByQSettings(path), value);
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("kavrel.name")).toString(), QStringLiteral("s:Анна; \"B\""));
}

// A real process writing edits, killed at moments of a fixed pseudo-random choice: a fresh
// settings object reads the last value it reported written, or the one it was writing.
void tst_SettingsJournal::aWriterKilledAtAnyMoment()
{
    QRandomGenerator moments(41);
    for (int round = 0; round < 6; ++round) {
        QTemporaryDir directory;
        const QString path = directory.filePath(QStringLiteral("prefs.ini"));
        const quint32 seed = 100 + quint32(round);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(writerRole), path, QString::number(seed)});
        QVERIFY(child.waitForStarted());
        const int killAfter = 5 + int(moments.bounded(300));
        int reported = 0;
        QByteArray output;
        while (reported < killAfter) {
            QVERIFY2(child.waitForReadyRead(20000), "the writer stopped reporting");
            output += child.readAllStandardOutput();
            const qsizetype line = output.lastIndexOf("written ", output.size() - 2);
            if (line >= 0)
                reported = output.mid(line + 8, output.indexOf('\n', line) - line - 8).toInt();
        }
        QTest::qWait(int(moments.bounded(4)));
        child.kill();
        QVERIFY(child.waitForFinished());
        output += child.readAllStandardOutput();
        const qsizetype line = output.lastIndexOf("written ", output.size() - 2);
        reported = output.mid(line + 8, output.indexOf('\n', line) - line - 8).toInt();

        const UserDefaults fresh(path);
        const std::optional<QByteArray> read = fresh.dataValue(key);
        QVERIFY(read);
        EditSequence sequence(seed);
        const QByteArray last = sequence.valueAfter(reported);
        const QByteArray writing = sequence.valueAfter(1);
        QVERIFY2(*read == last || *read == writing, qPrintable(QStringLiteral("round %1, step %2").arg(round).arg(reported)));
        QCOMPARE(fresh.stringValue(QStringLiteral("kavrel.other")), std::optional<QString>(QStringLiteral("kept")));
    }
}

void tst_SettingsJournal::damagedJournalTails_data()
{
    // What a crash leaves at the journal's end, and which of the values set it reads back as:
    // 0 the value written whole, 1..3 after the first, second and third change.
    QTest::addColumn<std::function<QByteArray(const QByteArray &, const QList<qsizetype> &)>>("damage");
    QTest::addColumn<int>("expected");
    using Damage = std::function<QByteArray(const QByteArray &, const QList<qsizetype> &)>;
    // ends[i]: where the record of value i ends.
    QTest::newRow("whole") << Damage([](const QByteArray &j, const QList<qsizetype> &) { return j; }) << 3;
    for (const int cut : {1, 5, 8, 20, 40}) {
        QTest::addRow("last record cut %d bytes short", cut)
            << Damage([cut](const QByteArray &j, const QList<qsizetype> &) { return j.first(j.size() - cut); }) << 2;
    }
    QTest::newRow("only the frame of the last record")
        << Damage([](const QByteArray &j, const QList<qsizetype> &ends) { return j.first(ends[2] + 8); }) << 2;
    QTest::newRow("garbage after the last record")
        << Damage([](const QByteArray &j, const QList<qsizetype> &) { return j + QByteArray("KVJ1\x00\x00\x00\x10garbage", 15); }) << 3;
    QTest::newRow("zeros after the last record")
        << Damage([](const QByteArray &j, const QList<qsizetype> &) { return j + QByteArray(4096, '\0'); }) << 3;
    QTest::newRow("a byte of the second change flipped")
        << Damage([](const QByteArray &j, const QList<qsizetype> &ends) {
               QByteArray damaged = j;
               damaged[(ends[1] + ends[2]) / 2] = char(damaged[(ends[1] + ends[2]) / 2] ^ 0x20);
               return damaged;
           })
        << 1;
    QTest::newRow("the base record torn")
        << Damage([](const QByteArray &j, const QList<qsizetype> &ends) { return j.first(ends[0] - 3); }) << 0;
    QTest::newRow("empty") << Damage([](const QByteArray &, const QList<qsizetype> &) { return QByteArray(); }) << 0;
}

void tst_SettingsJournal::damagedJournalTails()
{
    QFETCH(std::function<QByteArray(const QByteArray &, const QList<qsizetype> &)>, damage);
    QFETCH(int, expected);

    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("prefs.ini"));
    QRandomGenerator random(7);
    QList<QByteArray> values{randomBytes(random, 70 * 1024)};
    QList<qsizetype> ends;
    UserDefaults defaults(path);
    defaults.setInteger(QStringLiteral("kavrel.count"), 3);
    defaults.setData(key, values.back());
    ends.append(QFile(path + QStringLiteral(".journal")).size());
    for (int i = 0; i < 3; ++i) {
        const SettingsJournal::Edits edits = randomEdits(random, values.back().size());
        QVERIFY(defaults.editData(key, values.back().size(), edits));
        values.append(edited(values.back(), edits));
        ends.append(QFile(path + QStringLiteral(".journal")).size());
    }
    const QByteArray journal = damage(fileBytes(path + QStringLiteral(".journal")), ends);
    const QString copy = crashCopy(path, directory.filePath(QStringLiteral("crash")), &journal);
    {
        UserDefaults fresh(copy);
        QCOMPARE(fresh.dataValue(key), std::optional<QByteArray>(values[expected]));
        QCOMPARE(fresh.integerValue(QStringLiteral("kavrel.count")), std::optional<qint64>(3));
        // Opening folded what was readable into the file; the damaged rest is gone, and new
        // edits go on from the value read back.
        QVERIFY(!QFile::exists(copy + QStringLiteral(".journal")));
        QCOMPARE(readByQSettings(copy), values[expected]);
        const SettingsJournal::Edits more = randomEdits(random, values[expected].size());
        QVERIFY(fresh.editData(key, values[expected].size(), more));
        values.append(edited(values[expected], more));
        const UserDefaults later(crashCopy(copy, directory.filePath(QStringLiteral("later"))));
        QCOMPARE(later.dataValue(key), std::optional<QByteArray>(values.back()));
    }
}

// Folding writes the file with the edits made, then removes the journal. A crash before the new
// file is in place leaves the old file and the whole journal; one after it, the new file and a
// journal whose edits it holds already, which must not be made a second time.
void tst_SettingsJournal::aFoldCutShortBetweenItsSteps()
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("prefs.ini"));
    QRandomGenerator random(11);
    const QByteArray base = randomBytes(random, 70 * 1024);
    // An insertion: made twice it gives another value.
    const SettingsJournal::Edits edits{{100, 0, QByteArray("inserted")}};
    const QByteArray value = edited(base, edits);
    QByteArray oldFile;
    QByteArray journal;
    {
        UserDefaults defaults(path);
        defaults.setString(QStringLiteral("kavrel.other"), QStringLiteral("kept"));
        defaults.setData(key, base);
        QVERIFY(defaults.editData(key, base.size(), edits));
        oldFile = fileBytes(path);
        journal = fileBytes(path + QStringLiteral(".journal"));
    }
    QVERIFY(!QFile::exists(path + QStringLiteral(".journal")));
    QCOMPARE(readByQSettings(path), value);

    // After the new file, before the journal's removal.
    const QString after = crashCopy(path, directory.filePath(QStringLiteral("after")), &journal);
    {
        const UserDefaults fresh(after);
        QCOMPARE(fresh.dataValue(key), std::optional<QByteArray>(value));
        QCOMPARE(fresh.stringValue(QStringLiteral("kavrel.other")), std::optional<QString>(QStringLiteral("kept")));
    }
    QCOMPARE(readByQSettings(after), value);

    // Before the new file took the old one's place: the old file, the journal, and the new
    // file's unfinished temporary beside them.
    const QString before = directory.filePath(QStringLiteral("before/prefs.ini"));
    QDir().mkpath(directory.filePath(QStringLiteral("before")));
    for (const auto &[name, bytes] : {std::pair(before, oldFile), std::pair(before + QStringLiteral(".journal"), journal),
                                      std::pair(before + QStringLiteral(".Xk3v9q"), fileBytes(path).first(5000))}) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const UserDefaults fresh(before);
    QCOMPARE(fresh.dataValue(key), std::optional<QByteArray>(value));
    QCOMPARE(readByQSettings(before), value);
}

void tst_SettingsJournal::editsThatDoNotFitAreRefused()
{
    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("prefs.ini")));
    QRandomGenerator random(3);
    const QByteArray large = randomBytes(random, 70 * 1024);
    const SettingsJournal::Edits inside{{10, 2, QByteArray("ab")}};
    // No value, a small one (kept in memory and written whole), a string.
    QVERIFY(!defaults.editData(key, 0, inside));
    defaults.setData(key, QByteArray("small"));
    QVERIFY(!defaults.editData(key, 5, {{1, 1, QByteArray("x")}}));
    QCOMPARE(defaults.dataValue(key), std::optional<QByteArray>(QByteArray("small")));

    defaults.setData(key, large);
    // A length that is not the value's, edits outside it: refused, the value as it was.
    QVERIFY(!defaults.editData(key, large.size() + 1, inside));
    QVERIFY(!defaults.editData(key, large.size(), {{large.size(), 1, QByteArray()}}));
    QVERIFY(!defaults.editData(key, large.size(), {{0, 0, QByteArray("x")}, {large.size() + 2, 0, QByteArray()}}));
    QCOMPARE(defaults.dataValue(key), std::optional<QByteArray>(large));
    QVERIFY(defaults.editData(key, large.size(), inside));
    QCOMPARE(defaults.dataValue(key), std::optional<QByteArray>(edited(large, inside)));

    // A journal that cannot be written (a folder in its place): refused, written whole instead.
    const QString blocked = directory.filePath(QStringLiteral("blocked.ini"));
    QVERIFY(QDir().mkpath(blocked + QStringLiteral(".journal")));
    UserDefaults unjournaled(blocked);
    unjournaled.setData(key, large);
    QVERIFY(!unjournaled.editData(key, large.size(), inside));
    QCOMPARE(unjournaled.dataValue(key), std::optional<QByteArray>(large));
    unjournaled.setData(key, edited(large, inside));
    QCOMPARE(readByQSettings(blocked), edited(large, inside));
}

void tst_SettingsJournal::aRemovedValueLeavesNoEditsBehind()
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("prefs.ini"));
    QRandomGenerator random(5);
    const QByteArray large = randomBytes(random, 70 * 1024);
    UserDefaults defaults(path);
    defaults.setBool(QStringLiteral("kavrel.flag"), false);
    defaults.setData(key, large);
    QVERIFY(defaults.editData(key, large.size(), {{0, 10, QByteArray("edited")}}));
    defaults.remove(key);
    QVERIFY(!defaults.dataValue(key));
    // Gone from the file at once, the journal with it: a crash now brings nothing back.
    QVERIFY(!QFile::exists(path + QStringLiteral(".journal")));
    const UserDefaults fresh(crashCopy(path, directory.filePath(QStringLiteral("crash"))));
    QVERIFY(!fresh.dataValue(key));
    QCOMPARE(fresh.boolValue(QStringLiteral("kavrel.flag")), std::optional<bool>(false));
    QVERIFY(!QSettings(path, QSettings::IniFormat).contains(key));
}

// A settings file that cannot be written whole (a full disk) neither drops the journal's edits
// from what is read, nor lets later edits land on the value the failed write left in place.
void tst_SettingsJournal::aFailedWriteLosesNoEdits()
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("prefs.ini"));
    QRandomGenerator random(13);
    const QByteArray base = randomBytes(random, 70 * 1024);
    const SettingsJournal::Edits edits{{200, 5, QByteArray("edited")}};
    const QByteArray value = edited(base, edits);
    {
        UserDefaults defaults(path);
        defaults.setData(key, base);
        QVERIFY(defaults.editData(key, base.size(), edits));
        const QString crashed = crashCopy(path, directory.filePath(QStringLiteral("crash")));
        // The edits the crash left cannot be folded into the file at the start.
        const FileSizeLimit full(40 * 1024);
        const UserDefaults fresh(crashed);
        QCOMPARE(fresh.dataValue(key), std::optional<QByteArray>(value));
    }
    QCOMPARE(readByQSettings(path), value);

    // A whole value as long as the stored one, not written: it is kept and read back, and edits
    // meant for it are refused rather than made to the value still in the file.
    UserDefaults defaults(path);
    const QByteArray replacement = randomBytes(random, value.size());
    {
        const FileSizeLimit full(40 * 1024);
        QVERIFY(!defaults.setData(key, replacement));
    }
    const SettingsJournal::Edits next{{10, 3, QByteArray("xyz")}};
    QVERIFY(!defaults.editData(key, replacement.size(), next));
    QCOMPARE(defaults.dataValue(key), std::optional<QByteArray>(replacement));
    QCOMPARE(readByQSettings(path), value);
    defaults.setData(key, edited(replacement, next));
    QVERIFY(defaults.editData(key, replacement.size(), edits));
    QCOMPARE(defaults.dataValue(key), std::optional<QByteArray>(edited(edited(replacement, next), edits)));
}

// A write that fails (the disk is full) is kept: read back as set, announced once, and written
// by the next write or by a retry on the timer once there is room again.
void tst_SettingsJournal::aFailedWriteIsKeptAndWrittenLater_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("byTimer");
    for (const char *change : {"small value", "large value", "removal"}) {
        QTest::addRow("%s, next write", change) << QString::fromLatin1(change) << false;
        QTest::addRow("%s, retry", change) << QString::fromLatin1(change) << true;
    }
}

void tst_SettingsJournal::aFailedWriteIsKeptAndWrittenLater()
{
    QFETCH(QString, change);
    QFETCH(bool, byTimer);
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("prefs.ini"));
    QRandomGenerator random(21);
    const QByteArray before = randomBytes(random, 70 * 1024);
    const QByteArray after = randomBytes(random, 80 * 1024);
    const QString small = QStringLiteral("kavrel.session.historyNotSavedAtQuit");
    UserDefaults defaults(path);
    const std::chrono::milliseconds retry = byTimer ? std::chrono::milliseconds(10) : std::chrono::hours(1);
    defaults.setWriteRetryDelays(retry, 4 * retry);
    defaults.setBool(small, false);
    defaults.setData(key, before);
    QVERIFY(defaults.sync());
    QSignalSpy failing(&defaults, &UserDefaults::writeFailingChanged);
    {
        const FileSizeLimit full(16);
        if (change == QLatin1String("small value")) {
            defaults.setBool(small, true);
            QVERIFY(!defaults.sync());
            QCOMPARE(defaults.boolValue(small), std::optional<bool>(true));
        } else if (change == QLatin1String("large value")) {
            QVERIFY(!defaults.setData(key, after));
            QCOMPARE(defaults.dataValue(key), std::optional<QByteArray>(after));
        } else {
            defaults.remove(small);
            QVERIFY(!defaults.sync());
            QVERIFY(!defaults.contains(small));
        }
        QVERIFY(defaults.isWriteFailing());
        // The retries meanwhile fail too, and say nothing new.
        QTest::qWait(60);
        QCOMPARE(failing.count(), 1);
        QCOMPARE(failing.at(0).at(0).toBool(), true);
    }
    if (!byTimer)
        defaults.setString(QStringLiteral("kavrel.next"), QStringLiteral("n"));
    QTRY_COMPARE(failing.count(), 2);
    QCOMPARE(failing.at(1).at(0).toBool(), false);
    QVERIFY(!defaults.isWriteFailing());
    QSettings settings(path, QSettings::IniFormat);
    if (change == QLatin1String("small value"))
        QCOMPARE(settings.value(small).toString(), QStringLiteral("b:true"));
    else if (change == QLatin1String("large value"))
        QCOMPARE(readByQSettings(path), after);
    else
        QVERIFY(!settings.contains(small));
    if (change != QLatin1String("large value"))
        QCOMPARE(readByQSettings(path), before);
}

// A second process over the same file (another copy of the program) leaves the journal to its
// writer, and each one's writes keep the other's keys, as QSettings did.
void tst_SettingsJournal::twoProcessesOnOneFile()
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("prefs.ini"));
    QRandomGenerator random(34);
    const QByteArray base = randomBytes(random, 70 * 1024);
    const SettingsJournal::Edits first{{100, 4, QByteArray("first")}};
    const SettingsJournal::Edits second{{3000, 0, QByteArray("second")}};
    const QByteArray once = edited(base, first);
    UserDefaults defaults(path);
    QVERIFY(!defaults.isHeldByAnotherProcess());
    defaults.setString(QStringLiteral("kavrel.parent"), QStringLiteral("p"));
    defaults.setData(key, base);
    QVERIFY(defaults.editData(key, base.size(), first));

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(sharerRole), path});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    // It saw the file held, and read the value with the journal's edits.
    QCOMPARE(child.readAllStandardOutput().trimmed(),
             QByteArray("held 1 digest ") + SettingsJournal::digest(once).toHex());

    // The journal is still this process's: an edit now survives a crash.
    QVERIFY(QFile::exists(path + QStringLiteral(".journal")));
    QVERIFY(defaults.editData(key, once.size(), second));
    const UserDefaults crashed(crashCopy(path, directory.filePath(QStringLiteral("crash"))));
    QCOMPARE(crashed.dataValue(key), std::optional<QByteArray>(edited(once, second)));

    // A write of ours keeps the other process's key.
    defaults.setString(QStringLiteral("kavrel.parent"), QStringLiteral("q"));
    QVERIFY(defaults.sync());
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("kavrel.child")).toString(), QStringLiteral("s:c"));
    QCOMPARE(settings.value(QStringLiteral("kavrel.parent")).toString(), QStringLiteral("s:q"));
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], sharerRole) == 0) {
        QCoreApplication application(argc, argv);
        return shareSettings(QString::fromLocal8Bit(argv[2]));
    }
    if (argc == 4 && qstrcmp(argv[1], writerRole) == 0) {
        QCoreApplication application(argc, argv);
        return writeEditsUntilKilled(QString::fromLocal8Bit(argv[2]), quint32(QByteArray(argv[3]).toUInt()));
    }
    QCoreApplication application(argc, argv);
    tst_SettingsJournal test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_SettingsJournal.moc"
