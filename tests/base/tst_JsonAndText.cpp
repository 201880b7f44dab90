#include "base/Dates.h"
#include "base/Json.h"
#include "base/Text.h"

#include <QJsonDocument>
#include <QTest>

#include <limits>

class tst_JsonAndText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requiredAndOptionalKeys_data();
    void requiredAndOptionalKeys();
    void integers_data();
    void integers();
    void nestedPathsInErrors();
    void optionalsOmittedWhenWriting();
    void dates_data();
    void dates();
    void dateFormatting();
    void backendDates_data();
    void backendDates();
    void trimmingAndNilIfEmpty_data();
    void trimmingAndNilIfEmpty();
    void graphemes();
    void nfc();
    void serverTextWrittenForPeople_data();
    void serverTextWrittenForPeople();
};

static JsonReader reader(const char *json)
{
    return JsonReader::parse(QByteArray(json));
}

void tst_JsonAndText::requiredAndOptionalKeys_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("requiredOk");
    QTest::addColumn<bool>("optionalOk");
    QTest::addColumn<bool>("optionalPresent");

    QTest::newRow("string") << QByteArray(R"({"a":"x"})") << true << true << true;
    QTest::newRow("missing") << QByteArray(R"({"b":"x"})") << false << true << false;
    QTest::newRow("null") << QByteArray(R"({"a":null})") << false << true << false;
    QTest::newRow("number for string") << QByteArray(R"({"a":1})") << false << false << false;
    QTest::newRow("bool for string") << QByteArray(R"({"a":true})") << false << false << false;
    QTest::newRow("empty string is a value") << QByteArray(R"({"a":""})") << true << true << true;
    QTest::newRow("unknown keys ignored") << QByteArray(R"({"a":"x","zzz":[1,2]})") << true << true << true;
}

void tst_JsonAndText::requiredAndOptionalKeys()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, requiredOk);
    QFETCH(bool, optionalOk);
    QFETCH(bool, optionalPresent);
    const JsonReader r = JsonReader::parse(json);

    bool threw = false;
    try {
        r.string(QStringLiteral("a"));
    } catch (const JsonDecodeError &) {
        threw = true;
    }
    QCOMPARE(!threw, requiredOk);

    threw = false;
    std::optional<QString> value;
    try {
        value = r.optionalString(QStringLiteral("a"));
    } catch (const JsonDecodeError &) {
        threw = true;
    }
    QCOMPARE(!threw, optionalOk);
    QCOMPARE(value.has_value(), optionalPresent);
}

void tst_JsonAndText::integers_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("int") << QByteArray(R"({"n":42})") << true << qint64(42);
    QTest::newRow("negative") << QByteArray(R"({"n":-7})") << true << qint64(-7);
    QTest::newRow("integral double") << QByteArray(R"({"n":3.0})") << true << qint64(3);
    QTest::newRow("fraction") << QByteArray(R"({"n":1.5})") << false << qint64(0);
    QTest::newRow("string") << QByteArray(R"({"n":"1"})") << false << qint64(0);
    QTest::newRow("bool") << QByteArray(R"({"n":true})") << false << qint64(0);
    QTest::newRow("too large") << QByteArray(R"({"n":1e30})") << false << qint64(0);
    QTest::newRow("beyond 2^53") << QByteArray(R"({"n":9007199254740993})") << true << qint64(9007199254740993LL);
    QTest::newRow("qint64 max") << QByteArray(R"({"n":9223372036854775807})") << true << std::numeric_limits<qint64>::max();
    QTest::newRow("qint64 min") << QByteArray(R"({"n":-9223372036854775808})") << true << std::numeric_limits<qint64>::min();
    QTest::newRow("2^63") << QByteArray(R"({"n":9223372036854775808})") << false << qint64(0);
}

void tst_JsonAndText::integers()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    QFETCH(qint64, expected);
    const JsonReader r = JsonReader::parse(json);
    if (ok) {
        QCOMPARE(r.integer(QStringLiteral("n")), expected);
        QCOMPARE(r.optionalInteger(QStringLiteral("n")), std::optional<qint64>(expected));
    } else {
        QVERIFY_THROWS_EXCEPTION(JsonDecodeError, r.integer(QStringLiteral("n")));
        QVERIFY_THROWS_EXCEPTION(JsonDecodeError, r.optionalInteger(QStringLiteral("n")));
    }
}

void tst_JsonAndText::nestedPathsInErrors()
{
    const JsonReader r = reader(R"({"user":{"id":"u1","tags":["a",3]},"list":"nope"})");
    QCOMPARE(r.object(QStringLiteral("user")).string(QStringLiteral("id")), QStringLiteral("u1"));
    try {
        r.object(QStringLiteral("user")).stringArray(QStringLiteral("tags"));
        QFAIL("a number inside a string array must fail");
    } catch (const JsonDecodeError &error) {
        QCOMPARE(error.path(), QStringLiteral("user.tags[1]"));
    }
    QVERIFY_THROWS_EXCEPTION(JsonDecodeError, r.array(QStringLiteral("list")));
    QVERIFY_THROWS_EXCEPTION(JsonDecodeError, JsonReader::parse("[1,2]"));
    QVERIFY_THROWS_EXCEPTION(JsonDecodeError, JsonReader::parse("{not json"));
    QCOMPARE(r.firstString({QStringLiteral("missing"), QStringLiteral("list")}), std::optional<QString>(QStringLiteral("nope")));
    QCOMPARE(r.firstString({QStringLiteral("missing")}), std::nullopt);
}

void tst_JsonAndText::optionalsOmittedWhenWriting()
{
    QJsonObject object;
    Json::putOptional(object, QStringLiteral("a"), std::optional<QString>());
    Json::putOptional(object, QStringLiteral("b"), std::optional<QString>(QStringLiteral("x")));
    Json::putOptional(object, QStringLiteral("c"), std::optional<qint64>());
    Json::putOptional(object, QStringLiteral("d"), std::optional<bool>(false));
    Json::putOptional(object, QStringLiteral("e"), std::optional<QDateTime>(QDateTime(QDate(2024, 5, 1), QTime(10, 20, 30, 456), Qt::UTC)));
    QCOMPARE(Json::toCompactBytes(object), QByteArray(R"({"b":"x","d":false,"e":"2024-05-01T10:20:30Z"})"));
}

void tst_JsonAndText::dates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QDateTime>("expected");
    const QDateTime base(QDate(2024, 5, 1), QTime(10, 20, 30), Qt::UTC);
    QTest::newRow("Z") << "2024-05-01T10:20:30Z" << true << base;
    QTest::newRow("fraction") << "2024-05-01T10:20:30.250Z" << true << base.addMSecs(250);
    QTest::newRow("long fraction") << "2024-05-01T10:20:30.123456Z" << true << base.addMSecs(123);
    QTest::newRow("offset") << "2024-05-01T13:20:30+03:00" << true << base;
    QTest::newRow("negative offset") << "2024-05-01T05:20:30-05:00" << true << base;
    QTest::newRow("offset without colon") << "2024-05-01T13:20:30+0300" << true << base;
    QTest::newRow("bare date") << "2024-05-01" << false << QDateTime();
    QTest::newRow("no zone") << "2024-05-01T10:20:30" << false << QDateTime();
    QTest::newRow("space separator") << "2024-05-01 10:20:30Z" << false << QDateTime();
    QTest::newRow("invalid month") << "2024-13-01T10:20:30Z" << false << QDateTime();
    QTest::newRow("invalid day") << "2023-02-29T10:20:30Z" << false << QDateTime();
    QTest::newRow("empty") << "" << false << QDateTime();
    QTest::newRow("dot without digits") << "2024-05-01T10:20:30.Z" << false << QDateTime();
    QTest::newRow("offset hour 24") << "2024-05-01T10:20:30+24:00" << false << QDateTime();
    QTest::newRow("offset minute 60") << "2024-05-01T10:20:30+03:60" << false << QDateTime();
    QTest::newRow("offset without minutes") << "2024-05-01T10:20:30+03" << false << QDateTime();
    QTest::newRow("trailing space") << "2024-05-01T10:20:30Z " << false << QDateTime();
    QTest::newRow("epoch number") << "1714558830" << false << QDateTime();
    QTest::newRow("trailing line feed") << "2024-05-01T10:20:30Z\n" << false << QDateTime();
    QTest::newRow("non-ASCII digits") << QStringLiteral("\u0662024-05-01T10:20:30Z") << false << QDateTime();
    QTest::newRow("year 0") << "0000-01-01T00:00:00Z" << false << QDateTime();
    QTest::newRow("offset back before year 1") << "0001-01-01T00:30:00+01:00" << false << QDateTime();
    QTest::newRow("offset on past year 9999") << "9999-12-31T23:59:59-23:59" << false << QDateTime();
    QTest::newRow("first writable") << "0001-01-01T00:00:00Z" << true << QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    QTest::newRow("last writable") << "9999-12-31T23:59:59Z" << true << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC);
}

void tst_JsonAndText::dates()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QDateTime, expected);
    const auto parsed = Dates::parseIso8601(text);
    QCOMPARE(parsed.has_value(), ok);
    if (ok)
        QCOMPARE(*parsed, expected);
}

void tst_JsonAndText::dateFormatting()
{
    const QDateTime moscow = *Dates::parseIso8601(QStringLiteral("2024-05-01T13:20:30.999+03:00"));
    QCOMPARE(Dates::formatIso8601(moscow), QStringLiteral("2024-05-01T10:20:30Z"));
    const JsonReader r = reader(R"({"at":"2024-05-01T10:20:30Z","bad":"2024-05-01"})");
    QCOMPARE(Dates::formatIso8601(r.date(QStringLiteral("at"))), QStringLiteral("2024-05-01T10:20:30Z"));
    QVERIFY_THROWS_EXCEPTION(JsonDecodeError, r.date(QStringLiteral("bad")));
    QCOMPARE(r.optionalDate(QStringLiteral("none")), std::nullopt);

    // Whatever can be written reads back; the reader refuses what cannot be written.
    for (const QDateTime &date : {QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC),
                                  QDateTime(QDate(999, 3, 4), QTime(5, 6, 7), Qt::UTC),
                                  QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC)}) {
        QVERIFY(Dates::isWritable(date));
        QCOMPARE(Dates::parseIso8601(Dates::formatIso8601(date)), std::optional<QDateTime>(date));
    }
    QVERIFY(!Dates::isWritable(QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC)));
    QVERIFY(!Dates::isWritable(QDateTime(QDate(-1, 12, 31), QTime(23, 0), Qt::UTC)));
    QVERIFY(!Dates::isWritable(QDateTime()));
}

void tst_JsonAndText::backendDates_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<qint64>("expectedMsecs"); // -1: fails
    const qint64 base = QDateTime::fromString(QStringLiteral("2025-01-02T03:04:05Z"), Qt::ISODate).toMSecsSinceEpoch();
    QTest::newRow("whole seconds") << QJsonValue(QStringLiteral("2025-01-02T03:04:05Z")) << base;
    QTest::newRow("fraction") << QJsonValue(QStringLiteral("2025-01-02T03:04:05.123Z")) << base + 123;
    QTest::newRow("offset") << QJsonValue(QStringLiteral("2025-01-02T06:04:05+03:00")) << base;
    QTest::newRow("bare date") << QJsonValue(QStringLiteral("2025-01-02")) << qint64(-1);
    QTest::newRow("number") << QJsonValue(1735787045) << qint64(-1);
}

void tst_JsonAndText::backendDates()
{
    QFETCH(QJsonValue, value);
    QFETCH(qint64, expectedMsecs);
    try {
        const QDateTime date = Dates::decodeBackendDate(value, QStringLiteral("expiresAt"));
        QCOMPARE(date.toMSecsSinceEpoch(), expectedMsecs);
    } catch (const JsonDecodeError &error) {
        QCOMPARE(expectedMsecs, qint64(-1));
        if (value.isString())
            QCOMPARE(error.reason(), QStringLiteral("Expected ISO 8601 date string, got 2025-01-02."));
    }
}

void tst_JsonAndText::trimmingAndNilIfEmpty_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("plain") << "abc" << "abc";
    QTest::newRow("spaces and newlines") << "  \n abc \t\r\n" << "abc";
    QTest::newRow("inner kept") << " a  b " << "a  b";
    QTest::newRow("no-break space") << QStringLiteral("\u00A0abc\u00A0") << "abc";
    QTest::newRow("line separator and NEL") << QStringLiteral("\u2028abc\u0085") << "abc";
    QTest::newRow("ideographic space") << QStringLiteral("\u3000abc") << "abc";
    QTest::newRow("only white space") << " \n\t " << "";
    QTest::newRow("empty") << "" << "";
}

void tst_JsonAndText::trimmingAndNilIfEmpty()
{
    QFETCH(QString, input);
    QFETCH(QString, trimmed);
    QCOMPARE(Text::trimmed(input), trimmed);
    const auto absent = Text::nilIfEmpty(input);
    QCOMPARE(absent.has_value(), !trimmed.isEmpty());
    if (absent)
        QCOMPARE(*absent, trimmed);
    QCOMPARE(Text::nilIfEmpty(std::optional<QString>()), std::nullopt);
}

void tst_JsonAndText::graphemes()
{
    // A family emoji (one grapheme of seven code points), a flag, "e" + combining accent.
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
    const QString flag = QStringLiteral("\U0001F1F7\U0001F1FA");
    const QString accented = QStringLiteral("e\u0301");
    // (Qt 6.4 splits a flag that follows a joined emoji sequence, so the flag comes first.)
    const QString text = flag + family + accented + QStringLiteral("x");
    QCOMPARE(Text::graphemeCount(text), qsizetype(4));
    QCOMPARE(Text::graphemePrefix(text, 1), flag);
    QCOMPARE(Text::graphemePrefix(text, 3), flag + family + accented);
    QCOMPARE(Text::graphemePrefix(text, 10), text);
    QCOMPARE(Text::graphemePrefix(text, 0), QString());
    QCOMPARE(Text::graphemeCount(QString()), qsizetype(0));
    QCOMPARE(Text::graphemeCount(QStringLiteral("Привет")), qsizetype(6));
}

void tst_JsonAndText::nfc()
{
    QVERIFY(Text::nfcEquals(QStringLiteral("e\u0301"), QStringLiteral("\u00E9")));
    QVERIFY(Text::nfcEquals(QStringLiteral("й"), QStringLiteral("и\u0306")));
    QVERIFY(!Text::nfcEquals(QStringLiteral("e"), QStringLiteral("\u00E9")));
}

void tst_JsonAndText::serverTextWrittenForPeople_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("forPeople");
    QTest::newRow("sentence") << "Invalid e-mail code." << true;
    QTest::newRow("Russian with newlines") << " Неверный код.\nПопробуйте ещё раз.\n" << true;
    QTest::newRow("JSON message") << "{\"message\":\"bad\"}" << true;
    QTest::newRow("comparison signs") << "limit < 5 and count > 3" << true;
    QTest::newRow("gateway page") << "<html><body><h1>502 Bad Gateway</h1></body></html>" << false;
    QTest::newRow("nginx page") << "<html>\r\n<head><title>503 Service Temporarily Unavailable</title></head>\r\n</html>"
                                << false;
    QTest::newRow("doctype") << "<!DOCTYPE html>\n<p>Rate limited" << false;
    QTest::newRow("text around a tag") << "Bad gateway<br/>try later" << false;
    QTest::newRow("XML") << "<?xml version=\"1.0\"?><Error><Code>Throttled</Code></Error>" << false;
    QTest::newRow("control characters") << QStringLiteral("PK\u0003\u0004binary") << false;
    QTest::newRow("dump") << QString(601, QLatin1Char('x')) << false;
    QTest::newRow("longest message") << QString(600, QLatin1Char('x')) << true;
    QTest::newRow("blank") << " \n " << false;
}

void tst_JsonAndText::serverTextWrittenForPeople()
{
    QFETCH(QString, text);
    QFETCH(bool, forPeople);
    QCOMPARE(Text::isWrittenForPeople(text), forPeople);
}

QTEST_GUILESS_MAIN(tst_JsonAndText)
#include "tst_JsonAndText.moc"
