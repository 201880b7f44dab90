// An insert a client sends over the accessibility bus names its text and a length, which clients
// count in UTF-8 bytes: the field gets the text sent, never what Qt's bridge would pad it with
// past its end, and a shorter length still cuts it. On the test X server with the bus up, a real
// client's insert reaches a real field through the gate, as typing.
//
// And a client's edit is answered with what became of it: a part the user types nothing into
// lists no editable text on the bus, and its edits answer false and change nothing; a field the
// user types into lists it, and its edits answer whether the field took them.

#include "kit/widgets/KavrelAccessibilityBusGate.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "support/AccessibilityBus.h"
#include "support/X11TestMain.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>

#include <climits>
#include <functional>
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

enum class Part { field, disabledField, readOnlyView, button, label, listItem };

// A client's call over the bus to this program, and what came back (an error where nothing did).
QDBusMessage ask(const QString &path, const QString &interface, const QString &member, const QList<QVariant> &arguments = {})
{
    QDBusConnection a11y(QStringLiteral("a11y"));
    QDBusMessage call = QDBusMessage::createMethodCall(a11y.baseService(), path, interface, member);
    call.setArguments(arguments);
    QDBusPendingCallWatcher answer(a11y.asyncCall(call, 20000));
    QTest::qWaitFor([&answer] { return answer.isFinished(); }, 20000);
    return answer.reply();
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
    void editsAnswerWhatBecameOfThem_data();
    void editsAnswerWhatBecameOfThem();
    void editsWithArgumentsTheyDoNotTake();

private:
    // Fails the running test unless the bus is up and the gate stands in front of the bridge.
    void busUp();

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
    busUp();
    if (QTest::currentTestFailed())
        return;
    QWidget window;
    auto *field = new QLineEdit(before, &window);
    (new QVBoxLayout(&window))->addWidget(field);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy typed(field, &QLineEdit::textEdited);
    QDBusConnection a11y(QStringLiteral("a11y"));

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

void tst_KavrelAccessibilityBusGate::busUp()
{
    if (!m_bus) {
        m_bus = std::make_unique<AccessibilityBus::Listener>(false);
        if (QTest::currentTestFailed())
            return;
    }
    // The gate stands where the bridge answered, once the bridge is on the bus.
    QDBusConnection a11y(QStringLiteral("a11y"));
    QTRY_VERIFY(a11y.isConnected()
                && qobject_cast<KavrelAccessibilityBusGate *>(a11y.objectRegisteredAt(QStringLiteral("/org/a11y/atspi/accessible"))));
}

void tst_KavrelAccessibilityBusGate::editsAnswerWhatBecameOfThem_data()
{
    QTest::addColumn<Part>("part");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QList<QVariant>>("arguments");
    QTest::addColumn<bool>("answer");
    // The part's text afterwards ("hello" before) and the clipboard's ("kept" before).
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("clipboard");

    const QString kept = QStringLiteral("kept");
    const struct
    {
        const char *name;
        QString member;
        QList<QVariant> arguments;
    } everyEdit[] = {
        {"set", QStringLiteral("SetTextContents"), {QStringLiteral("renamed")}},
        {"insert", QStringLiteral("InsertText"), {0, QStringLiteral("x"), 1}},
        {"delete", QStringLiteral("DeleteText"), {0, 2}},
        {"cut", QStringLiteral("CutText"), {0, 2}},
        {"paste", QStringLiteral("PasteText"), {0}},
    };
    const struct
    {
        const char *name;
        Part part;
    } typedIntoNever[] = {
        {"read-only text view", Part::readOnlyView}, {"button", Part::button},       {"label", Part::label},
        {"disabled field", Part::disabledField},     {"list item", Part::listItem},
    };
    for (const auto &part : typedIntoNever) {
        for (const auto &edit : everyEdit) {
            QTest::addRow("%s: %s", part.name, edit.name)
                << part.part << edit.member << edit.arguments << false << QStringLiteral("hello") << kept;
        }
    }

    // The field holds 10 characters at most and takes no digit, as the user may type into it.
    const auto field = [&kept](const char *name, const QString &member, const QList<QVariant> &arguments, bool answer,
                               const QString &after, const QString &clipboard = QString()) {
        QTest::addRow("field: %s", name) << Part::field << member << arguments << answer << after
                                         << (clipboard.isNull() ? kept : clipboard);
    };
    field("set", QStringLiteral("SetTextContents"), {QStringLiteral("bye")}, true, QStringLiteral("bye"));
    field("set to what it holds", QStringLiteral("SetTextContents"), {QStringLiteral("hello")}, true, QStringLiteral("hello"));
    field("set emptied", QStringLiteral("SetTextContents"), {QString()}, true, QString());
    field("insert at the end", QStringLiteral("InsertText"), {5, QStringLiteral(" you"), 4}, true, QStringLiteral("hello you"));
    field("insert past the end", QStringLiteral("InsertText"), {6, QStringLiteral("x"), 1}, false, QStringLiteral("hello"));
    field("insert at -1", QStringLiteral("InsertText"), {-1, QStringLiteral("x"), 1}, false, QStringLiteral("hello"));
    field("insert more than it holds", QStringLiteral("InsertText"), {0, QStringLiteral("abcdef"), 6}, false, QStringLiteral("hello"));
    field("insert a digit it refuses", QStringLiteral("InsertText"), {0, QStringLiteral("7"), 1}, false, QStringLiteral("hello"));
    field("delete inside", QStringLiteral("DeleteText"), {1, 3}, true, QStringLiteral("hlo"));
    field("delete backwards", QStringLiteral("DeleteText"), {3, 1}, false, QStringLiteral("hello"));
    field("delete past the end", QStringLiteral("DeleteText"), {0, 9}, false, QStringLiteral("hello"));
    field("cut", QStringLiteral("CutText"), {0, 2}, true, QStringLiteral("llo"), QStringLiteral("he"));
    field("cut past the end", QStringLiteral("CutText"), {0, 9}, false, QStringLiteral("hello"));
    field("paste", QStringLiteral("PasteText"), {5}, true, QStringLiteral("hellokept"));
    field("paste past the end", QStringLiteral("PasteText"), {6}, false, QStringLiteral("hello"));
}

void tst_KavrelAccessibilityBusGate::editsAnswerWhatBecameOfThem()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts one");
    QFETCH(Part, part);
    QFETCH(QString, member);
    QFETCH(QList<QVariant>, arguments);
    QFETCH(bool, answer);
    QFETCH(QString, after);
    QFETCH(QString, clipboard);
    busUp();
    if (QTest::currentTestFailed())
        return;

    const QString hello = QStringLiteral("hello");
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    QWidget *widget = nullptr;
    std::function<QString()> text;
    switch (part) {
    case Part::field:
    case Part::disabledField: {
        auto *field = new QLineEdit(hello);
        field->setMaxLength(10);
        field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^0-9]*")), field));
        field->setEnabled(part == Part::field);
        text = [field] { return field->text(); };
        widget = field;
        break;
    }
    case Part::readOnlyView: {
        auto *view = new QTextEdit;
        view->setPlainText(hello);
        view->setReadOnly(true);
        text = [view] { return view->toPlainText(); };
        widget = view;
        break;
    }
    case Part::button: {
        auto *button = new QPushButton(hello);
        text = [button] { return button->text(); };
        widget = button;
        break;
    }
    case Part::label: {
        auto *label = new QLabel(hello);
        text = [label] { return label->text(); };
        widget = label;
        break;
    }
    case Part::listItem: {
        auto *list = new QListWidget;
        list->addItems({hello, QStringLiteral("world")});
        text = [list] { return list->item(0)->text(); };
        widget = list;
        break;
    }
    }
    layout->addWidget(widget);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    if (part == Part::listItem)
        accessible = accessible->child(0);
    QVERIFY(accessible);
    const QString name = accessible->text(QAccessible::Name);
    const QString path = QStringLiteral("/org/a11y/atspi/accessible/%1").arg(QAccessible::uniqueId(accessible));

    const QDBusMessage interfaces = ask(path, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetInterfaces"));
    QCOMPARE(interfaces.type(), QDBusMessage::ReplyMessage);
    const QStringList listed = interfaces.arguments().value(0).toStringList();
    QVERIFY2(listed.contains(QStringLiteral("org.a11y.atspi.Text")), qPrintable(listed.join(QLatin1Char(' '))));
    QCOMPARE(listed.contains(editableText), part == Part::field);

    const QDBusMessage edited = ask(path, editableText, member, arguments);
    QVERIFY2(edited.type() == QDBusMessage::ReplyMessage, qPrintable(edited.errorMessage()));
    QCOMPARE(edited.arguments(), QList<QVariant>{answer});
    QCOMPARE(text(), after);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    if (part != Part::field)
        QCOMPARE(accessible->text(QAccessible::Name), name);
}

// Qt's bridge reads an edit's arguments by their place, whether they came or not.
void tst_KavrelAccessibilityBusGate::editsWithArgumentsTheyDoNotTake()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts one");
    busUp();
    if (QTest::currentTestFailed())
        return;
    QWidget window;
    auto *field = new QLineEdit(QStringLiteral("hello"), &window);
    (new QVBoxLayout(&window))->addWidget(field);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString path = QStringLiteral("/org/a11y/atspi/accessible/%1").arg(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(field)));

    const struct
    {
        QString member;
        QList<QVariant> arguments;
    } edits[] = {
        {QStringLiteral("InsertText"), {0, QStringLiteral("x")}},
        {QStringLiteral("DeleteText"), {0}},
        {QStringLiteral("CutText"), {QStringLiteral("0"), 2}},
        {QStringLiteral("CopyText"), {}},
        {QStringLiteral("SetTextContents"), {}},
    };
    for (const auto &edit : edits) {
        const QDBusMessage answer = ask(path, editableText, edit.member, edit.arguments);
        QCOMPARE(answer.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(answer.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    }
    QCOMPARE(field->text(), QStringLiteral("hello"));
    QCOMPARE(ask(path, editableText, QStringLiteral("InsertText"), {5, QStringLiteral("!"), 1}).arguments(), QList<QVariant>{true});
    QCOMPARE(field->text(), QStringLiteral("hello!"));
}

KAVREL_X11_TEST_MAIN(tst_KavrelAccessibilityBusGate, "KAVREL_TEST_X11")
#include "tst_KavrelAccessibilityBusGate.moc"
