// An insert a client sends over the accessibility bus names its text and a length, which clients
// count in UTF-8 bytes: the field gets the text sent, never what Qt's bridge would pad it with
// past its end, and a shorter length still cuts it. On the test X server with the bus up, a real
// client's insert reaches a real field through the gate, as typing.

#include "kit/widgets/KavrelAccessibilityBusGate.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "support/AccessibilityBus.h"
#include "support/X11TestMain.h"

#include <QAccessible>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <climits>
#include <memory>

namespace {

const QString editableText = QStringLiteral("org.a11y.atspi.EditableText");

QDBusMessage insert(int position, const QString &text, int length)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral(":1.1"), QStringLiteral("/org/a11y/atspi/accessible/1"),
                                                          editableText, QStringLiteral("InsertText"));
    message << position << text << length;
    return message;
}

} // namespace

class tst_KavrelAccessibilityBusGate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { KavrelAccessibleFactory::install(); }
    void cleanupTestCase() { m_bus.reset(); }
    void lengthOfAnInsert_data();
    void lengthOfAnInsert();
    void clientsInsertReachesTheField_data();
    void clientsInsertReachesTheField();

private:
    // One bus for every row: Qt's bridge joins the first one only.
    std::unique_ptr<AccessibilityBus::Listener> m_bus;
};

void tst_KavrelAccessibilityBusGate::lengthOfAnInsert_data()
{
    QTest::addColumn<QDBusMessage>("message");
    QTest::addColumn<int>("length");
    QTest::newRow("ASCII, its length") << insert(0, QStringLiteral("ada"), 3) << 3;
    QTest::newRow("Cyrillic, its length in bytes") << insert(0, QStringLiteral("встреча"), 14) << 7;
    QTest::newRow("Cyrillic, its length in characters") << insert(2, QStringLiteral("встреча"), 7) << 7;
    QTest::newRow("shorter than the text") << insert(0, QStringLiteral("встреча"), 3) << 3;
    QTest::newRow("2147483647") << insert(0, QStringLiteral("x"), INT_MAX) << 1;
    QTest::newRow("none") << insert(0, QStringLiteral("x"), 0) << 0;
    QTest::newRow("below none") << insert(0, QStringLiteral("x"), -5) << -5;
    QTest::newRow("an emoji, its length in bytes") << insert(0, QStringLiteral("hi \U0001F44B"), 7) << 5;
}

void tst_KavrelAccessibilityBusGate::lengthOfAnInsert()
{
    QFETCH(QDBusMessage, message);
    const QList<QVariant> sent = message.arguments();
    const QDBusMessage admitted = KavrelAccessibilityBusGate::admitted(message);
    QCOMPARE(admitted.arguments().size(), 3);
    QCOMPARE(admitted.arguments().at(0), sent.at(0));
    QCOMPARE(admitted.arguments().at(1), sent.at(1));
    QTEST(admitted.arguments().at(2).toInt(), "length");
    QCOMPARE(admitted.member(), message.member());
    QCOMPARE(admitted.path(), message.path());

    // Everything else passes as it came.
    for (const QString &member : {QStringLiteral("DeleteText"), QStringLiteral("SetTextContents")}) {
        QDBusMessage other = QDBusMessage::createMethodCall(QStringLiteral(":1.1"), message.path(), editableText, member);
        other << 0 << QStringLiteral("встреча") << 14;
        QCOMPARE(KavrelAccessibilityBusGate::admitted(other).arguments(), other.arguments());
    }
}

void tst_KavrelAccessibilityBusGate::clientsInsertReachesTheField_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("after");
    QTest::newRow("Cyrillic, its length in bytes") << QString() << 0 << QStringLiteral("встреча") << 14 << QStringLiteral("встреча");
    QTest::newRow("an address") << QString() << 0 << QStringLiteral("ada@example.com") << 15 << QStringLiteral("ada@example.com");
    QTest::newRow("at the end") << QStringLiteral("ada") << 3 << QStringLiteral("@пример.рф") << 18 << QStringLiteral("ada@пример.рф");
    QTest::newRow("shorter than the text") << QString() << 0 << QStringLiteral("встреча") << 3 << QStringLiteral("вст");
    QTest::newRow("2147483647") << QStringLiteral("ab") << 1 << QStringLiteral("x") << INT_MAX << QStringLiteral("axb");
}

void tst_KavrelAccessibilityBusGate::clientsInsertReachesTheField()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts one");
    QFETCH(QString, before);
    QFETCH(int, position);
    QFETCH(QString, text);
    QFETCH(int, length);
    QFETCH(QString, after);
    if (!m_bus) {
        m_bus = std::make_unique<AccessibilityBus::Listener>(false);
        if (QTest::currentTestFailed())
            return;
    }
    QWidget window;
    auto *field = new QLineEdit(before, &window);
    (new QVBoxLayout(&window))->addWidget(field);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy typed(field, &QLineEdit::textEdited);

    // The gate stands where the bridge answered, once the bridge is on the bus.
    QDBusConnection a11y(QStringLiteral("a11y"));
    QTRY_VERIFY(a11y.isConnected()
                && qobject_cast<KavrelAccessibilityBusGate *>(a11y.objectRegisteredAt(QStringLiteral("/org/a11y/atspi/accessible"))));

    // A client's call, over the bus to this program.
    const QString path = QStringLiteral("/org/a11y/atspi/accessible/%1").arg(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(field)));
    QDBusMessage call = QDBusMessage::createMethodCall(a11y.baseService(), path, editableText, QStringLiteral("InsertText"));
    call << position << text << length;
    QDBusPendingCallWatcher inserted(a11y.asyncCall(call, 20000));
    QTRY_VERIFY_WITH_TIMEOUT(inserted.isFinished(), 20000);
    QVERIFY2(!inserted.isError(), qPrintable(inserted.error().message()));
    QCOMPARE(field->text(), after);
    QCOMPARE(typed.size(), 1);

    // What the bridge answers it still answers: the text, read over the bus.
    QDBusMessage read = QDBusMessage::createMethodCall(a11y.baseService(), path, QStringLiteral("org.a11y.atspi.Text"),
                                                       QStringLiteral("GetText"));
    read << 0 << -1;
    QDBusPendingCallWatcher shown(a11y.asyncCall(read, 20000));
    QTRY_VERIFY_WITH_TIMEOUT(shown.isFinished(), 20000);
    QVERIFY2(!shown.isError(), qPrintable(shown.error().message()));
    QCOMPARE(shown.reply().arguments().value(0).toString(), after);
}

KAVREL_X11_TEST_MAIN(tst_KavrelAccessibilityBusGate, "KAVREL_TEST_X11")
#include "tst_KavrelAccessibilityBusGate.moc"
