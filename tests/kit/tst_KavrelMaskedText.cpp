// A field that masks what is typed into it tells a screen reader its mask and nothing more: its
// text is the mask the field draws, its length the mask's, every item read of it lies in the mask,
// and each change of its text is told with the mask of what changed. A field that shows its text
// tells it as Qt does. What goes on towards the bus is what the kit passes on: a key typed into a
// password field goes as a mask character, and a caret that moves in a field without the keyboard
// goes nowhere (on the test X server, with the accessibility bus up: without it Qt tells no one).

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelBoundedText.h"
#include "support/AccessibilityBus.h"
#include "support/X11TestMain.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

Q_DECLARE_METATYPE(QLineEdit::EchoMode)

namespace {

const QString secret = QStringLiteral("correct horse");

std::unique_ptr<QLineEdit> field(QLineEdit::EchoMode echo, const QString &text)
{
    auto edit = std::make_unique<QLineEdit>(text);
    edit->setEchoMode(echo);
    edit->setAccessibleName(QStringLiteral("Пароль"));
    return edit;
}

// Whether every character of `text` is one the field draws in place of what was typed.
bool onlyMask(const QString &text, const QString &mask)
{
    for (const QChar character : text) {
        if (!mask.contains(character))
            return false;
    }
    return true;
}

// What the kit passes on towards the bus: (kind, object, text inserted or removed).
struct Told
{
    QAccessible::Event type;
    QObject *object;
    QString text;
};

QList<Told> &told()
{
    static QList<Told> events;
    return events;
}

void record(QAccessibleEvent *event)
{
    QString text;
    if (event->type() == QAccessible::TextInserted)
        text = static_cast<QAccessibleTextInsertEvent *>(event)->textInserted();
    else if (event->type() == QAccessible::TextRemoved)
        text = static_cast<QAccessibleTextRemoveEvent *>(event)->textRemoved();
    else if (event->type() == QAccessible::TextUpdated)
        text = static_cast<QAccessibleTextUpdateEvent *>(event)->textInserted();
    told().append({event->type(), event->object(), text});
}

} // namespace

class tst_KavrelMaskedText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { m_bus.reset(); }
    void typedKeysGoOnAsTheMask();
    void caretAwayFromTheKeyboardIsNotTold();
    void textIsTheMask_data();
    void textIsTheMask();
    void changesCarryTheMask_data();
    void changesCarryTheMask();

private:
    bool busUp();

    std::unique_ptr<AccessibilityBus::Listener> m_bus;
};

void tst_KavrelMaskedText::initTestCase()
{
    // Behind the kit, where Qt's bridge would be.
    QAccessible::installUpdateHandler(record);
    KavrelAccessibleFactory::install();
}

bool tst_KavrelMaskedText::busUp()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11")) {
        QTest::qSkip("no X server: run under scripts/test, which starts one", __FILE__, __LINE__);
        return false;
    }
    if (!m_bus) {
        // Qt then tells the kit of changes; nothing here passes them on to the bridge.
        m_bus = std::make_unique<AccessibilityBus::Listener>(false);
        if (QTest::currentTestFailed())
            return false;
    }
    return true;
}

// Key by key, then taken back and put in whole, as the user and the form do.
void tst_KavrelMaskedText::typedKeysGoOnAsTheMask()
{
    if (!busUp())
        return;
    QWidget window;
    auto *edit = new QLineEdit(&window);
    edit->setEchoMode(QLineEdit::Password);
    (new QVBoxLayout(&window))->addWidget(edit);
    window.show();
    edit->setFocus();
    QAccessible::queryAccessibleInterface(edit);
    told().clear();
    QTest::keyClicks(edit, secret);
    QTest::keyClick(edit, Qt::Key_Backspace);
    edit->setText(QStringLiteral("battery"));
    QCOMPARE(edit->text(), QStringLiteral("battery"));
    const QString mask = edit->displayText().left(1);
    QCOMPARE(mask.size(), 1);
    int inserted = 0;
    for (const Told &event : std::as_const(told())) {
        if (event.object != edit)
            continue;
        QVERIFY2(onlyMask(event.text, mask), qPrintable(event.text));
        if (event.type == QAccessible::TextInserted)
            inserted += int(event.text.size());
    }
    QVERIFY2(inserted >= int(secret.size()), "the keys typed went on as nothing at all");
}

void tst_KavrelMaskedText::caretAwayFromTheKeyboardIsNotTold()
{
    if (!busUp())
        return;
    QWidget window;
    auto *focused = new QLineEdit(QStringLiteral("one"), &window);
    auto *other = new QLineEdit(QStringLiteral("two"), &window);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(focused);
    layout->addWidget(other);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    focused->setFocus();
    QVERIFY(focused->hasFocus());
    told().clear();
    for (QLineEdit *edit : {focused, other}) {
        QAccessibleTextCursorEvent caret(edit, 1);
        QAccessible::updateAccessibility(&caret);
    }
    QCOMPARE(told().size(), 1);
    QCOMPARE(told().first().object, focused);
}

void tst_KavrelMaskedText::textIsTheMask_data()
{
    QTest::addColumn<QLineEdit::EchoMode>("echo");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("masked");
    QTest::newRow("password") << QLineEdit::Password << secret << true;
    QTest::newRow("password of Cyrillic and an emoji") << QLineEdit::Password << QStringLiteral("пароль \U0001F511") << true;
    QTest::newRow("password of one character") << QLineEdit::Password << QStringLiteral("x") << true;
    QTest::newRow("empty password") << QLineEdit::Password << QString() << true;
    QTest::newRow("password shown while edited") << QLineEdit::PasswordEchoOnEdit << secret << true;
    QTest::newRow("no echo") << QLineEdit::NoEcho << secret << true;
    QTest::newRow("shown") << QLineEdit::Normal << secret << false;
}

void tst_KavrelMaskedText::textIsTheMask()
{
    QFETCH(QLineEdit::EchoMode, echo);
    QFETCH(QString, text);
    QFETCH(bool, masked);
    const std::unique_ptr<QLineEdit> edit = field(echo, text);
    edit->show();
    QAccessibleTextInterface *read = QAccessible::queryAccessibleInterface(edit.get())->textInterface();
    QVERIFY(read);
    const int count = read->characterCount();
    const QString whole = read->text(0, count);
    QCOMPARE(whole.size(), count);
    if (!masked) {
        QCOMPARE(whole, text);
        return;
    }
    // What the field draws, character for character (nothing at all without an echo).
    QCOMPARE(whole, edit->displayText());
    QCOMPARE(count, echo == QLineEdit::NoEcho ? 0 : int(text.size()));
    for (const QChar character : secret) {
        if (!character.isSpace())
            QVERIFY2(!whole.contains(character), qPrintable(whole));
    }
    // Every item at, before and after every place, the caret and the end included, lies in the
    // mask; a character is one character of it.
    for (int offset = -2; offset <= count + 1; ++offset) {
        for (const auto boundary : {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
                                    QAccessible::ParagraphBoundary, QAccessible::LineBoundary, QAccessible::NoBoundary}) {
            int starts[3] = {};
            int ends[3] = {};
            const QString answers[] = {read->textAtOffset(offset, boundary, &starts[0], &ends[0]),
                                       read->textBeforeOffset(offset, boundary, &starts[1], &ends[1]),
                                       read->textAfterOffset(offset, boundary, &starts[2], &ends[2])};
            for (int asked = 0; asked < 3; ++asked) {
                const QString &answer = answers[asked];
                QVERIFY2(onlyMask(answer, whole), qPrintable(QStringLiteral("%1 at %2").arg(answer).arg(offset)));
                QVERIFY(answer.isEmpty() || (starts[asked] >= 0 && ends[asked] <= count && ends[asked] - starts[asked] == answer.size()));
            }
        }
    }
    int start = 0;
    int end = 0;
    if (count > 0) {
        QCOMPARE(read->textAtOffset(0, QAccessible::CharBoundary, &start, &end), whole.left(1));
        QCOMPARE(read->textAtOffset(-1, QAccessible::WordBoundary, &start, &end), whole);
        QCOMPARE(end, count);
    }
}

void tst_KavrelMaskedText::changesCarryTheMask_data()
{
    QTest::addColumn<QLineEdit::EchoMode>("echo");
    QTest::addColumn<int>("kind");
    const QList<QPair<const char *, QLineEdit::EchoMode>> echoes{{"password", QLineEdit::Password},
                                                               {"no echo", QLineEdit::NoEcho},
                                                               {"password shown while edited", QLineEdit::PasswordEchoOnEdit},
                                                               {"shown", QLineEdit::Normal}};
    const QList<QPair<const char *, QAccessible::Event>> kinds{{"insert", QAccessible::TextInserted},
                                                              {"remove", QAccessible::TextRemoved},
                                                              {"update", QAccessible::TextUpdated},
                                                              {"value", QAccessible::ValueChanged},
                                                              {"caret", QAccessible::TextCaretMoved}};
    for (const auto &[echoName, echo] : echoes) {
        for (const auto &[kindName, kind] : kinds)
            QTest::addRow("%s, %s", echoName, kindName) << echo << int(kind);
    }
}

// Qt tells each change of a line edit with the characters typed (a key's character, a text put
// in whole); the bus hears it as the mask tells it, at the same place, with the caret where Qt
// puts it.
void tst_KavrelMaskedText::changesCarryTheMask()
{
    QFETCH(QLineEdit::EchoMode, echo);
    QFETCH(int, kind);
    const std::unique_ptr<QLineEdit> edit = field(echo, secret);
    const QString typed = QStringLiteral("horse");
    const QString before = QStringLiteral("battery");
    std::unique_ptr<QAccessibleEvent> event;
    switch (QAccessible::Event(kind)) {
    case QAccessible::TextInserted:
        event = std::make_unique<QAccessibleTextInsertEvent>(edit.get(), 8, typed);
        break;
    case QAccessible::TextRemoved:
        event = std::make_unique<QAccessibleTextRemoveEvent>(edit.get(), 8, typed);
        break;
    case QAccessible::TextUpdated:
        event = std::make_unique<QAccessibleTextUpdateEvent>(edit.get(), 0, before, secret);
        break;
    case QAccessible::ValueChanged:
        event = std::make_unique<QAccessibleValueChangeEvent>(edit.get(), secret);
        break;
    default:
        event = std::make_unique<QAccessibleTextCursorEvent>(edit.get(), 8);
        break;
    }
    if (kind != QAccessible::ValueChanged && kind != QAccessible::TextCaretMoved)
        static_cast<QAccessibleTextCursorEvent *>(event.get())->setCursorPosition(11);

    const std::unique_ptr<QAccessibleEvent> told = KavrelBoundedText::masked(event.get());
    const bool changesText = kind != QAccessible::TextCaretMoved;
    if (echo == QLineEdit::Normal || !changesText) {
        QVERIFY(!told);
        return;
    }
    QVERIFY(told);
    QCOMPARE(told->type(), event->type());
    QCOMPARE(told->object(), edit.get());
    const QString mask = QAccessible::queryAccessibleInterface(edit.get())->textInterface()->text(0, int(secret.size()));
    const auto maskOf = [&](const QString &text) { return mask.left(text.size()); };
    QCOMPARE(mask.size(), echo == QLineEdit::NoEcho ? 0 : secret.size());
    switch (QAccessible::Event(kind)) {
    case QAccessible::TextInserted:
        QCOMPARE(static_cast<QAccessibleTextInsertEvent *>(told.get())->textInserted(), maskOf(typed));
        QCOMPARE(static_cast<QAccessibleTextInsertEvent *>(told.get())->changePosition(), 8);
        break;
    case QAccessible::TextRemoved:
        QCOMPARE(static_cast<QAccessibleTextRemoveEvent *>(told.get())->textRemoved(), maskOf(typed));
        QCOMPARE(static_cast<QAccessibleTextRemoveEvent *>(told.get())->changePosition(), 8);
        break;
    case QAccessible::TextUpdated:
        QCOMPARE(static_cast<QAccessibleTextUpdateEvent *>(told.get())->textRemoved(), maskOf(before));
        QCOMPARE(static_cast<QAccessibleTextUpdateEvent *>(told.get())->textInserted(), maskOf(secret));
        break;
    default:
        QCOMPARE(static_cast<QAccessibleValueChangeEvent *>(told.get())->value().toString(), maskOf(secret));
        return;
    }
    QCOMPARE(static_cast<QAccessibleTextCursorEvent *>(told.get())->cursorPosition(), 11);
}

KAVREL_X11_TEST_MAIN(tst_KavrelMaskedText, "KAVREL_TEST_X11")
#include "tst_KavrelMaskedText.moc"
