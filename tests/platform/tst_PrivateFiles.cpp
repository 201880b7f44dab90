// The settings file holds the last meeting, the meetings waiting to be saved and the account's
// id: it and everything written beside it are the user's alone, 0600 files in a 0700 folder,
// under any umask, from the moment they exist; whatever an older version left looser is
// tightened. Other processes (a second copy of the program, one killed mid-write, QSettings)
// leave nothing readable behind either.

#include "platform/PrivateFiles.h"
#include "platform/UserDefaults.h"
#include "support/FileSizeLimit.h"
#include "support/Umask.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <map>

#include <sys/resource.h>

namespace {

const QString draftKey = QStringLiteral("kavrel.session.localDraft.v2");
const char *const sharerRole = "--write-beside-the-holder";
const char *const crashRole = "--die-mid-write";

bool chmod(const QString &path, int mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// Every entry of the folder that group or others may use, with its mode.
QStringList looserEntries(const QString &folder)
{
    QStringList found;
    for (const QString &name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const int mode = Umask::modeOf(QDir(folder).filePath(name));
        if (mode & 077)
            found << name + QStringLiteral(" %1").arg(mode, 4, 8, QLatin1Char('0'));
    }
    return found;
}

// A second copy of the program over the file a first one holds: writes a large and a small value.
int writeBesideTheHolder(const QString &path)
{
    UserDefaults defaults(path);
    if (!defaults.isHeldByAnotherProcess())
        return 2;
    defaults.setData(draftKey, randomBytes(100 * 1024, 7));
    defaults.setString(QStringLiteral("kavrel.second"), QStringLiteral("s"));
    return defaults.sync() ? 0 : 3;
}

// A write of the draft cut off by the kernel partway (the file size limit kills without
// SIGXFSZ handled): what a crash mid-write leaves.
int dieMidWrite(const QString &path)
{
    rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    UserDefaults defaults(path);
    std::signal(SIGXFSZ, SIG_DFL);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    defaults.setData(draftKey, randomBytes(512 * 1024, 9));
    return 4; // still alive: the limit did not cut the write
}

} // namespace

class tst_PrivateFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theSettingsAreCreatedPrivate_data();
    void theSettingsAreCreatedPrivate();
    void looserFilesAreTightened_data();
    void looserFilesAreTightened();
    void otherProcessesLeaveNothingReadable_data();
    void otherProcessesLeaveNothingReadable();
};

void tst_PrivateFiles::theSettingsAreCreatedPrivate_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("expected");
    const std::pair<const char *, int> files[] = {
        {"settings file", 0600},
        {"settings file after QSettings wrote it", 0600},
        {"settings folder", 0700},
        {"folder above it, made for it", 0700},
        {"owner file", 0600},
        {"journal", 0600},
    };
    for (const int mask : {022, 0, 077, 0277}) {
        for (const auto &[file, expected] : files)
            QTest::addRow("umask %03o, %s", mask, file) << mask << QString::fromLatin1(file) << expected;
    }
}

void tst_PrivateFiles::theSettingsAreCreatedPrivate()
{
    QFETCH(int, mask);
    QFETCH(QString, file);
    QFETCH(int, expected);
    QTemporaryDir home;
    const QString config = home.filePath(QStringLiteral("config"));
    const QString folder = config + QStringLiteral("/app.kavrel.desktop");
    const QString path = folder + QStringLiteral("/preferences.ini");
    const QByteArray draft = randomBytes(100 * 1024, 1);
    std::map<QString, int> seen;
    QStringList looser;
    {
        const Umask masked{mode_t(mask)};
        {
            UserDefaults defaults(path);
            defaults.setString(QStringLiteral("kavrel.accountID"), QStringLiteral("account"));
            QVERIFY(defaults.setData(draftKey, draft));
            QVERIFY(defaults.editData(draftKey, draft.size(), {{10, 2, QByteArray("edit")}}));
            QVERIFY(defaults.sync());
            seen[QStringLiteral("settings file")] = Umask::modeOf(path);
            seen[QStringLiteral("settings folder")] = Umask::modeOf(folder);
            seen[QStringLiteral("folder above it, made for it")] = Umask::modeOf(config);
            seen[QStringLiteral("owner file")] = Umask::modeOf(path + QStringLiteral(".owner"));
            seen[QStringLiteral("journal")] = Umask::modeOf(path + QStringLiteral(".journal"));
            looser = looserEntries(folder);
        }
        // QSettings writes through QSaveFile, which keeps the mode of the file it replaces.
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("kavrel.byQSettings"), QStringLiteral("s:q"));
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
        seen[QStringLiteral("settings file after QSettings wrote it")] = Umask::modeOf(path);
    }
    QCOMPARE(QString::number(seen.at(file), 8), QString::number(expected, 8));
    // Nor anything else written beside it.
    QCOMPARE(looser, QStringList());
    const UserDefaults reopened(path);
    QCOMPARE(reopened.dataValue(draftKey).value_or(QByteArray()).size(), draft.size() + 2);
    QCOMPARE(reopened.stringValue(QStringLiteral("kavrel.byQSettings")), std::optional<QString>(QStringLiteral("q")));
}

void tst_PrivateFiles::looserFilesAreTightened_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("settings file 0644") << QStringLiteral("preferences.ini") << 0644 << false;
    QTest::newRow("settings file 0666") << QStringLiteral("preferences.ini") << 0666 << false;
    QTest::newRow("settings file 0644, its write fails") << QStringLiteral("preferences.ini") << 0644 << true;
    QTest::newRow("owner file 0644") << QStringLiteral("preferences.ini.owner") << 0644 << false;
    QTest::newRow("journal 0644") << QStringLiteral("preferences.ini.journal") << 0644 << false;
}

// Written by an older version (or QSettings) under umask 022, in a folder that was 0755.
void tst_PrivateFiles::looserFilesAreTightened()
{
    QFETCH(QString, file);
    QFETCH(int, mode);
    QFETCH(bool, diskFull);
    const Umask masked(022);
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("app.kavrel.desktop"));
    const QString path = folder + QStringLiteral("/preferences.ini");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(chmod(folder, 0755));
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("kavrel.older"), QStringLiteral("s:kept"));
    }
    QCOMPARE(Umask::modeOf(path), 0644);
    const QString loose = QDir(folder).filePath(file);
    if (file != QLatin1String("preferences.ini")) {
        QFile leftOver(loose);
        QVERIFY(leftOver.open(QIODevice::WriteOnly));
        leftOver.write("left over");
    }
    QVERIFY(chmod(loose, mode));

    UserDefaults defaults(path);
    // The folder at once, whatever is written.
    QCOMPARE(QString::number(Umask::modeOf(folder), 8), QStringLiteral("700"));
    const QByteArray draft = randomBytes(100 * 1024, 2);
    {
        // Room for the lock, not for the draft.
        std::optional<FileSizeLimit> full;
        if (diskFull)
            full.emplace(4096);
        defaults.setString(QStringLiteral("kavrel.new"), QStringLiteral("n"));
        defaults.setData(draftKey, draft);
        QCOMPARE(defaults.sync(), !diskFull);
    }
    if (!diskFull)
        QVERIFY(defaults.editData(draftKey, draft.size(), {{0, 1, QByteArray("x")}}));
    // A file the write left in place is private now, and so is everything beside it.
    if (QFile::exists(loose))
        QCOMPARE(QString::number(Umask::modeOf(loose), 8), QStringLiteral("600"));
    QCOMPARE(looserEntries(folder), QStringList());
    QCOMPARE(defaults.stringValue(QStringLiteral("kavrel.older")), std::optional<QString>(QStringLiteral("kept")));
    if (diskFull)
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("kavrel.new")), QVariant());
}

void tst_PrivateFiles::otherProcessesLeaveNothingReadable_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<int>("mask");
    for (const int mask : {022, 002}) {
        QTest::addRow("a second copy writes beside the first, umask %03o", mask) << QString::fromLatin1(sharerRole) << mask;
        QTest::addRow("a write killed partway, umask %03o", mask) << QString::fromLatin1(crashRole) << mask;
    }
}

void tst_PrivateFiles::otherProcessesLeaveNothingReadable()
{
    QFETCH(QString, role);
    QFETCH(int, mask);
    const Umask masked{mode_t(mask)}; // the child inherits it
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("app.kavrel.desktop"));
    const QString path = folder + QStringLiteral("/preferences.ini");
    QVERIFY(QDir().mkpath(folder));
    {
        // An older version's file and folder, readable by everyone.
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("kavrel.older"), QStringLiteral("s:kept"));
    }
    QVERIFY(chmod(folder, 0755));
    QVERIFY(chmod(path, 0644));
    const bool crash = role == QLatin1String(crashRole);
    std::optional<UserDefaults> holder;
    if (!crash)
        holder.emplace(path);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {role, path});
    QVERIFY(child.waitForFinished(30000));
    QVERIFY2(crash ? child.exitStatus() == QProcess::CrashExit
                   : child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable(QStringLiteral("exit %1, %2").arg(child.exitCode()).arg(QString::fromLocal8Bit(child.readAllStandardError()))));
    const QStringList known{QStringLiteral("preferences.ini"), QStringLiteral("preferences.ini.owner"),
                            QStringLiteral("preferences.ini.journal"), QStringLiteral("preferences.ini.lock")};
    QStringList leftovers = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    leftovers.removeIf([&known](const QString &name) { return known.contains(name); });
    // The lock stays behind: the child died in the middle of the write. A copy it was writing
    // is left only where the file system cannot write it unnamed.
    if (crash)
        QVERIFY(QFile::exists(path + QStringLiteral(".lock")));
    else
        QCOMPARE(leftovers, QStringList());
    QCOMPARE(looserEntries(folder), QStringList());
    QCOMPARE(QString::number(Umask::modeOf(path), 8), QStringLiteral("600"));
    QCOMPARE(QString::number(Umask::modeOf(folder), 8), QStringLiteral("700"));

    // The file is whole either way, and the next write goes through (past the dead one's lock).
    if (!holder)
        holder.emplace(path);
    QCOMPARE(holder->stringValue(QStringLiteral("kavrel.older")), std::optional<QString>(QStringLiteral("kept")));
    holder->setString(QStringLiteral("kavrel.after"), QStringLiteral("a"));
    QVERIFY(holder->sync());
    QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("kavrel.after")).toString(), QStringLiteral("s:a"));
    QCOMPARE(holder->dataValue(draftKey).has_value(), !crash);
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], sharerRole) == 0) {
        QCoreApplication application(argc, argv);
        return writeBesideTheHolder(QString::fromLocal8Bit(argv[2]));
    }
    if (argc == 3 && qstrcmp(argv[1], crashRole) == 0) {
        QCoreApplication application(argc, argv);
        return dieMidWrite(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication application(argc, argv);
    tst_PrivateFiles test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_PrivateFiles.moc"
