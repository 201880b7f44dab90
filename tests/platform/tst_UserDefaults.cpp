#include "platform/UserDefaults.h"
#include "platform/ApplicationInfo.h"

#include <QDateTime>
#include <QFile>
#include <QPoint>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QPointer>
#include <QTest>

class tst_UserDefaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valuesKeepTheirType();
    void valuesSurviveReopening();
    void changesReachEveryReader();
    void removeAndUnchangedWrites();
    void keysWithSeparators();
    void trickyValuesAndKeysSurviveReopening_data();
    void trickyValuesAndKeysSurviveReopening();
    void readerDestroyedByAnotherReadersSlot();
    void filesStayReadableBothWaysWithQSettings_data();
    void filesStayReadableBothWaysWithQSettings();
    void aLargeValueIsReadBackFromTheFile();
    void valuesThatAreNoneOfOursAreKept_data();
    void valuesThatAreNoneOfOursAreKept();
    void applicationInfo();
};

void tst_UserDefaults::valuesKeepTheirType()
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    defaults.setBool(QStringLiteral("kavrel.flag"), true);
    defaults.setString(QStringLiteral("kavrel.text"), QStringLiteral("true"));
    defaults.setInteger(QStringLiteral("kavrel.count"), 7);
    defaults.setDouble(QStringLiteral("kavrel.split"), 0.25);
    defaults.setData(QStringLiteral("kavrel.blob"), QByteArray("\x00\x01{\"a\":1}", 9));

    QCOMPARE(defaults.boolValue(QStringLiteral("kavrel.flag")), std::optional<bool>(true));
    // A String "true" is not a Bool, and a Bool is not a String.
    QCOMPARE(defaults.boolValue(QStringLiteral("kavrel.text")), std::nullopt);
    QCOMPARE(defaults.stringValue(QStringLiteral("kavrel.flag")), std::nullopt);
    QCOMPARE(defaults.stringValue(QStringLiteral("kavrel.text")), std::optional<QString>(QStringLiteral("true")));
    QCOMPARE(defaults.integerValue(QStringLiteral("kavrel.count")), std::optional<qint64>(7));
    QCOMPARE(defaults.integerValue(QStringLiteral("kavrel.split")), std::nullopt);
    QCOMPARE(defaults.doubleValue(QStringLiteral("kavrel.split")), std::optional<double>(0.25));
    QCOMPARE(defaults.doubleValue(QStringLiteral("kavrel.count")), std::optional<double>(7.0));
    QCOMPARE(defaults.dataValue(QStringLiteral("kavrel.blob")), std::optional<QByteArray>(QByteArray("\x00\x01{\"a\":1}", 9)));
    QCOMPARE(defaults.typeOf(QStringLiteral("kavrel.flag")), UserDefaults::Type::Bool);
    QCOMPARE(defaults.typeOf(QStringLiteral("kavrel.none")), UserDefaults::Type::Missing);
    QCOMPARE(defaults.boolValue(QStringLiteral("kavrel.none"), true), true);
    QCOMPARE(defaults.stringValue(QStringLiteral("kavrel.text"), QStringLiteral("x")), QStringLiteral("true"));
}

void tst_UserDefaults::valuesSurviveReopening()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prefs.ini"));
    {
        UserDefaults defaults(path);
        defaults.setBool(QStringLiteral("kavrel.flag"), false);
        defaults.setString(QStringLiteral("kavrel.text"), QStringLiteral("Привет, мир = [x]; \"q\""));
        defaults.setDouble(QStringLiteral("kavrel.split"), 0.1 + 0.2);
    }
    UserDefaults reopened(path);
    QCOMPARE(reopened.boolValue(QStringLiteral("kavrel.flag")), std::optional<bool>(false));
    QCOMPARE(reopened.stringValue(QStringLiteral("kavrel.text")), std::optional<QString>(QStringLiteral("Привет, мир = [x]; \"q\"")));
    QCOMPARE(reopened.doubleValue(QStringLiteral("kavrel.split")), std::optional<double>(0.1 + 0.2));
}

void tst_UserDefaults::changesReachEveryReader()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prefs.ini"));
    UserDefaults writer(path);
    UserDefaults reader(path);
    QSignalSpy writerSpy(&writer, &UserDefaults::valueChanged);
    QSignalSpy readerSpy(&reader, &UserDefaults::valueChanged);
    writer.setString(QStringLiteral("kavrel.uiLanguage"), QStringLiteral("ru"));
    QCOMPARE(readerSpy.count(), 1);
    QCOMPARE(writerSpy.count(), 1);
    QCOMPARE(readerSpy.at(0).at(0).toString(), QStringLiteral("kavrel.uiLanguage"));
    QCOMPARE(reader.stringValue(QStringLiteral("kavrel.uiLanguage")), std::optional<QString>(QStringLiteral("ru")));

    // A store over another file hears nothing.
    UserDefaults other(dir.filePath(QStringLiteral("other.ini")));
    QSignalSpy otherSpy(&other, &UserDefaults::valueChanged);
    writer.setBool(QStringLiteral("kavrel.flag"), true);
    QCOMPARE(otherSpy.count(), 0);
    QCOMPARE(readerSpy.count(), 2);
}

void tst_UserDefaults::removeAndUnchangedWrites()
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    QSignalSpy spy(&defaults, &UserDefaults::valueChanged);
    defaults.setInteger(QStringLiteral("kavrel.n"), 1);
    defaults.setInteger(QStringLiteral("kavrel.n"), 1); // unchanged: no signal
    QCOMPARE(spy.count(), 1);
    // The same text under another type is a change.
    defaults.setDouble(QStringLiteral("kavrel.n"), 1);
    QCOMPARE(spy.count(), 2);
    defaults.remove(QStringLiteral("kavrel.n"));
    QCOMPARE(spy.count(), 3);
    QVERIFY(!defaults.contains(QStringLiteral("kavrel.n")));
    defaults.remove(QStringLiteral("kavrel.n")); // nothing to remove: no signal
    QCOMPARE(spy.count(), 3);
}

void tst_UserDefaults::keysWithSeparators()
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    defaults.setString(QStringLiteral("a/b"), QStringLiteral("1"));
    defaults.setString(QStringLiteral("a"), QStringLiteral("2"));
    defaults.setString(QStringLiteral("a\\b"), QStringLiteral("3"));
    QCOMPARE(defaults.stringValue(QStringLiteral("a/b")), std::optional<QString>(QStringLiteral("1")));
    QCOMPARE(defaults.stringValue(QStringLiteral("a")), std::optional<QString>(QStringLiteral("2")));
    QCOMPARE(defaults.stringValue(QStringLiteral("a\\b")), std::optional<QString>(QStringLiteral("3")));
}

void tst_UserDefaults::trickyValuesAndKeysSurviveReopening_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("empty string") << QStringLiteral("kavrel.text") << QString();
    QTest::newRow("looks tagged") << QStringLiteral("kavrel.text") << QStringLiteral("b:true");
    QTest::newRow("at sign") << QStringLiteral("kavrel.text") << QStringLiteral("@Variant(x)");
    QTest::newRow("commas") << QStringLiteral("kavrel.text") << QStringLiteral("a, b,c");
    QTest::newRow("edge spaces") << QStringLiteral("kavrel.text") << QStringLiteral("  padded  ");
    QTest::newRow("newlines and tabs") << QStringLiteral("kavrel.text") << QStringLiteral("line1\nline2\t\r");
    QTest::newRow("backslashes and quotes") << QStringLiteral("kavrel.text") << QStringLiteral(R"(C:\x "q" \")");
    QTest::newRow("emoji") << QStringLiteral("kavrel.text") << QStringLiteral("🎙️ встреча");
    QTest::newRow("key with = and ;") << QStringLiteral("a=b;c") << QStringLiteral("v");
    QTest::newRow("unicode key") << QStringLiteral("ключ.语言") << QStringLiteral("v");
    QTest::newRow("key with percent") << QStringLiteral("100%25") << QStringLiteral("v");
    QTest::newRow("key with spaces and brackets") << QStringLiteral(" [General] x ") << QStringLiteral("v");
}

void tst_UserDefaults::trickyValuesAndKeysSurviveReopening()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prefs.ini"));
    {
        UserDefaults defaults(path);
        defaults.setString(key, value);
        defaults.setString(QStringLiteral("kavrel.neighbour"), QStringLiteral("n"));
        QCOMPARE(defaults.stringValue(key), std::optional<QString>(value));
    }
    UserDefaults reopened(path);
    QCOMPARE(reopened.typeOf(key), UserDefaults::Type::String);
    QCOMPARE(reopened.stringValue(key), std::optional<QString>(value));
    QCOMPARE(reopened.stringValue(QStringLiteral("kavrel.neighbour")), std::optional<QString>(QStringLiteral("n")));
}

void tst_UserDefaults::readerDestroyedByAnotherReadersSlot()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prefs.ini"));
    UserDefaults writer(path);
    auto *first = new UserDefaults(path);
    auto *second = new UserDefaults(path);
    QPointer<UserDefaults> watchSecond(second);
    int heard = 0;
    connect(first, &UserDefaults::valueChanged, this, [&] {
        ++heard;
        delete watchSecond.data(); // a service going away when a preference changes
    });
    connect(second, &UserDefaults::valueChanged, this, [&] { ++heard; });
    writer.setBool(QStringLiteral("kavrel.flag"), true);
    QVERIFY(watchSecond.isNull());
    QCOMPARE(heard, 1);
    writer.remove(QStringLiteral("kavrel.flag"));
    QCOMPARE(heard, 2);
    delete first;
}

void tst_UserDefaults::filesStayReadableBothWaysWithQSettings_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text"); // a stored value with its type tag
    QTest::newRow("bool") << QStringLiteral("kavrel.flag") << QStringLiteral("b:true");
    QTest::newRow("double") << QStringLiteral("kavrel.split") << QStringLiteral("d:0.30000000000000004");
    QTest::newRow("empty string") << QStringLiteral("kavrel.text") << QStringLiteral("s:");
    QTest::newRow("commas, semicolons, equals") << QStringLiteral("kavrel.text") << QStringLiteral("s:a, b;c=d");
    QTest::newRow("edge spaces") << QStringLiteral("kavrel.text") << QStringLiteral("s:  padded  ");
    QTest::newRow("controls") << QStringLiteral("kavrel.text") << QStringLiteral("s:l1\nl2\t\r\x01a\x7f");
    QTest::newRow("nul then hex digit") << QStringLiteral("kavrel.text") << QStringLiteral("s:a") + QChar(0) + QStringLiteral("1f");
    QTest::newRow("quotes and backslashes") << QStringLiteral("kavrel.text") << QStringLiteral(R"(s:C:\x "q" \")");
    QTest::newRow("at sign") << QStringLiteral("kavrel.text") << QStringLiteral("s:@Variant(x) @@");
    QTest::newRow("Cyrillic and emoji") << QStringLiteral("kavrel.text") << QStringLiteral("s:встреча 🎙️ 语言");
    QTest::newRow("data") << QStringLiteral("kavrel.blob") << QStringLiteral("x:") + QString::fromLatin1(QByteArray("\x00\x01{\"a\":1}=", 10).toBase64());
    QTest::newRow("escaped key") << QStringLiteral("a%2Fb%5C %25 ключ=;") << QStringLiteral("s:v");
}

// The file is the one QSettings wrote before and reads: what either writes, the other reads.
void tst_UserDefaults::filesStayReadableBothWaysWithQSettings()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    const bool isData = text.startsWith(QLatin1String("x:"));
    // The stored key is the settings layer's escaped form of the caller's key.
    QString callerKey = key;
    callerKey.replace(QStringLiteral("%2F"), QStringLiteral("/")).replace(QStringLiteral("%5C"), QStringLiteral("\\"));
    callerKey.replace(QStringLiteral("%25"), QStringLiteral("%"));
    QTemporaryDir dir;

    const QString ours = dir.filePath(QStringLiteral("ours.ini"));
    {
        UserDefaults defaults(ours);
        defaults.setString(QStringLiteral("kavrel.neighbour"), QStringLiteral("n, m"));
        if (isData)
            defaults.setData(callerKey, QByteArray::fromBase64(text.mid(2).toLatin1()));
        else if (text.startsWith(QLatin1String("b:")))
            defaults.setBool(callerKey, true);
        else if (text.startsWith(QLatin1String("d:")))
            defaults.setDouble(callerKey, 0.1 + 0.2);
        else
            defaults.setString(callerKey, text.mid(2));
    }
    {
        QSettings settings(ours, QSettings::IniFormat);
        QCOMPARE(settings.value(key).toString(), text);
        QCOMPARE(settings.value(QStringLiteral("kavrel.neighbour")).toString(), QStringLiteral("s:n, m"));
    }

    const QString theirs = dir.filePath(QStringLiteral("theirs.ini"));
    {
        QSettings settings(theirs, QSettings::IniFormat);
        if (isData)
            settings.setValue(key, text.toLatin1());
        else
            settings.setValue(key, text);
        settings.beginGroup(QStringLiteral("Other"));
        settings.setValue(QStringLiteral("kept"), QStringLiteral("yes"));
        settings.endGroup();
    }
    {
        UserDefaults defaults(theirs);
        QCOMPARE(defaults.typeOf(callerKey) != UserDefaults::Type::Missing, true);
        if (isData)
            QCOMPARE(defaults.dataValue(callerKey), std::optional<QByteArray>(QByteArray::fromBase64(text.mid(2).toLatin1())));
        else if (text.startsWith(QLatin1String("s:")))
            QCOMPARE(defaults.stringValue(callerKey), std::optional<QString>(text.mid(2)));
        // A write of ours keeps what is not ours.
        defaults.setInteger(QStringLiteral("kavrel.count"), 3);
    }
    QSettings settings(theirs, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("Other/kept")).toString(), QStringLiteral("yes"));
    QCOMPARE(settings.value(key).toString(), text);
    QCOMPARE(settings.value(QStringLiteral("kavrel.count")).toString(), QStringLiteral("i:3"));
}

// A large value (the session draft) is not kept in memory: asked for, it is read from the file,
// so a change of the file made behind the store's back is what comes back.
void tst_UserDefaults::aLargeValueIsReadBackFromTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prefs.ini"));
    const QString key = QStringLiteral("kavrel.session.localDraft.v2");
    QByteArray first(400 * 1024, 'a');
    for (qsizetype i = 0; i < first.size(); ++i)
        first[i] = char(i * 7 % 251);
    UserDefaults defaults(path);
    UserDefaults reader(path);
    QSignalSpy heard(&reader, &UserDefaults::valueChanged);
    defaults.setString(QStringLiteral("kavrel.small"), QStringLiteral("s"));
    defaults.setData(key, first);
    QCOMPARE(heard.count(), 2);
    QCOMPARE(reader.dataValue(key), std::optional<QByteArray>(first));
    QCOMPARE(reader.typeOf(key), UserDefaults::Type::Data);

    // Another small change rewrites the file and carries the large value over.
    defaults.setBool(QStringLiteral("kavrel.flag"), true);
    QCOMPARE(reader.dataValue(key), std::optional<QByteArray>(first));

    // The file changes under the store: the new value is what it reads.
    const QByteArray second = first.left(300 * 1024) + "tail";
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(key, QByteArray("x:") + second.toBase64());
    }
    QCOMPARE(reader.dataValue(key), std::optional<QByteArray>(second));
    QCOMPARE(reader.stringValue(QStringLiteral("kavrel.small")), std::optional<QString>(QStringLiteral("s")));

    // Removed, it is gone from the file too.
    defaults.remove(key);
    QVERIFY(!reader.contains(key));
    defaults.sync();
    QVERIFY(!QSettings(path, QSettings::IniFormat).contains(key));
    QCOMPARE(reader.boolValue(QStringLiteral("kavrel.flag")), std::optional<bool>(true));
}

void tst_UserDefaults::valuesThatAreNoneOfOursAreKept_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("large");
    QTest::newRow("list") << QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b, c")}) << false;
    QTest::newRow("point") << QVariant(QPoint(3, -4)) << false;
    QTest::newRow("rectangle") << QVariant(QRect(1, 2, 30, 40)) << false;
    QTest::newRow("size") << QVariant(QSize(800, 600)) << false;
    QTest::newRow("list of numbers") << QVariant(QVariantList{1, 2.5, true}) << false;
    QTest::newRow("date and time") << QVariant(QDateTime(QDate(2026, 5, 4), QTime(9, 30), Qt::UTC)) << false;
    QTest::newRow("list, with a large value rewritten") << QVariant(QStringList{QStringLiteral("x"), QStringLiteral("y")}) << true;
}

// Keys QSettings (another tool, an older version) wrote with values the store does not read are
// carried over as they are by every write of it.
void tst_UserDefaults::valuesThatAreNoneOfOursAreKept()
{
    QFETCH(QVariant, value);
    QFETCH(bool, large);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prefs.ini"));
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("kavrel.other"), value);
        settings.setValue(QStringLiteral("kavrel.mine"), QStringLiteral("s:before"));
        settings.setValue(QStringLiteral("Group/kept"), 7);
    }
    // The line as QSettings wrote it (what it reads back in this process is its cache's value).
    const auto otherLine = [&path] {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray();
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("kavrel.other="))
                return line;
        }
        return QByteArray();
    };
    const QByteArray expected = otherLine();
    QVERIFY(!expected.isEmpty());
    {
        UserDefaults defaults(path);
        if (large)
            defaults.setData(QStringLiteral("kavrel.session.localDraft.v2"), QByteArray(100 * 1024, 'd'));
        defaults.setString(QStringLiteral("kavrel.mine"), QStringLiteral("after"));
    }
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(otherLine(), expected);
    QCOMPARE(settings.value(QStringLiteral("kavrel.mine")).toString(), QStringLiteral("s:after"));
    QCOMPARE(settings.value(QStringLiteral("Group/kept")).toInt(), 7);
}

void tst_UserDefaults::applicationInfo()
{
    QCOMPARE(ApplicationInfo::value(QString::fromLatin1(ApplicationInfo::BundleIdentifierKey)),
             std::optional<QString>(ApplicationInfo::bundleIdentifier()));
    QVERIFY(!ApplicationInfo::bundleIdentifier().isEmpty());
    QVERIFY(ApplicationInfo::value(QString::fromLatin1(ApplicationInfo::ShortVersionKey)).has_value());
    QVERIFY(ApplicationInfo::value(QString::fromLatin1(ApplicationInfo::BuildVersionKey)).has_value());
    QCOMPARE(ApplicationInfo::value(QStringLiteral("NoSuchKey")), std::nullopt);
}

QTEST_GUILESS_MAIN(tst_UserDefaults)
#include "tst_UserDefaults.moc"
