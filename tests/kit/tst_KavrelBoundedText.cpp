// The text of Qt's text fields and text views as a screen reader reads it, behind the kit's
// bounds: every question at the edges of the text comes back (Qt 6.4's line edit spun for good
// when asked for the word or the sentence at the end of its text), an offset outside the text
// gives nothing, a password field gives only its mask, and everything else reads as Qt reads it.

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelSegmentedPicker.h"
#include "support/AccessibleTextEdges.h"

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>

using AccessibleTextEdges::Around;

Q_DECLARE_METATYPE(AccessibleTextEdges::Around)
Q_DECLARE_METATYPE(QAccessible::TextBoundaryType)

namespace {

struct Field
{
    const char *name;
    std::function<QWidget *()> build;
};

QLineEdit *lineEdit(const QString &text, QLineEdit::EchoMode echo = QLineEdit::Normal)
{
    auto *edit = new QLineEdit(text);
    edit->setEchoMode(echo);
    edit->setAccessibleName(QStringLiteral("Field"));
    edit->setPlaceholderText(QStringLiteral("Type here"));
    return edit;
}

template<typename View>
View *textView(const QString &text, bool readOnly, bool caretAtEnd = true)
{
    auto *view = new View;
    view->setPlainText(text);
    view->setReadOnly(readOnly);
    if (caretAtEnd)
        view->moveCursor(QTextCursor::End);
    return view;
}

const QString sentences = QStringLiteral("Hello world. Second one.");
const QString paragraphs = QStringLiteral("First line here.\nSecond line");

// Typing leaves the caret at the end of a field, where a screen reader asks for the word typed.
const QList<Field> &fields()
{
    static const QList<Field> all{
        {"line edit ending in a word", [] { return lineEdit(QStringLiteral("hello")); }},
        {"line edit of sentences", [] { return lineEdit(sentences); }},
        {"line edit ending in a space", [] { return lineEdit(QStringLiteral("hello ")); }},
        {"line edit in Russian", [] { return lineEdit(QStringLiteral("Привет, мир")); }},
        {"line edit ending in an emoji", [] { return lineEdit(QStringLiteral("hi \U0001F44B")); }},
        {"e-mail field", [] { return lineEdit(QStringLiteral("ada@example.com")); }},
        // Qt's word and sentence helpers found no item edge before the start of these.
        {"line edit starting with a sign", [] { return lineEdit(QStringLiteral("#3 items")); }},
        {"line edit starting with a space", [] { return lineEdit(QStringLiteral(" hello")); }},
        {"empty line edit", [] { return lineEdit(QString()); }},
        {"read-only line edit", [] {
             QLineEdit *edit = lineEdit(QStringLiteral("hello"));
             edit->setReadOnly(true);
             return edit;
         }},
        {"password field", [] { return lineEdit(QStringLiteral("correct horse"), QLineEdit::Password); }},
        {"empty password field", [] { return lineEdit(QString(), QLineEdit::Password); }},
        {"password shown while edited", [] { return lineEdit(QStringLiteral("correct horse"), QLineEdit::PasswordEchoOnEdit); }},
        {"password field without echo", [] { return lineEdit(QStringLiteral("correct horse"), QLineEdit::NoEcho); }},
        {"spin box", [] {
             auto *box = new QSpinBox;
             box->setValue(42);
             return box;
         }},
        {"text view", [] { return textView<QTextEdit>(paragraphs, false); }},
        {"read-only text view", [] { return textView<QTextEdit>(paragraphs, true); }},
        {"text view, caret at the start", [] { return textView<QTextEdit>(paragraphs, true, false); }},
        {"empty text view", [] { return textView<QTextEdit>(QString(), false); }},
        {"plain text view", [] { return textView<QPlainTextEdit>(paragraphs, false); }},
        {"read-only plain text view", [] { return textView<QPlainTextEdit>(paragraphs, true); }},
        {"empty plain text view", [] { return textView<QPlainTextEdit>(QString(), true); }},
    };
    return all;
}

const Field &fieldNamed(const QString &name)
{
    for (const Field &candidate : fields()) {
        if (QLatin1String(candidate.name) == name)
            return candidate;
    }
    qFatal("no field named %s", qPrintable(name));
}

// What a screen reader reads of a part besides its text.
struct Reading
{
    QAccessible::Role role = QAccessible::NoRole;
    QStringList texts;
    quint64 state = 0;
    QList<bool> interfaces;
    QStringList actions;

    bool operator==(const Reading &) const = default;
};

Reading read(QAccessibleInterface *accessible)
{
    Reading reading;
    reading.role = accessible->role();
    for (const QAccessible::Text kind : {QAccessible::Name, QAccessible::Description, QAccessible::Value, QAccessible::Help,
                                         QAccessible::Accelerator})
        reading.texts.append(accessible->text(kind));
    const QAccessible::State state = accessible->state();
    static_assert(sizeof(state) == sizeof(reading.state));
    std::memcpy(&reading.state, &state, sizeof(state));
    for (int type = QAccessible::TextInterface; type <= QAccessible::HyperlinkInterface; ++type)
        reading.interfaces.append(accessible->interface_cast(QAccessible::InterfaceType(type)) != nullptr);
    if (QAccessibleActionInterface *actions = accessible->actionInterface())
        reading.actions = actions->actionNames();
    return reading;
}

QString describe(const Reading &reading)
{
    QStringList interfaces;
    for (const bool has : reading.interfaces)
        interfaces.append(has ? QStringLiteral("1") : QStringLiteral("0"));
    return QStringLiteral("role %1, texts [%2], state %3, interfaces %4, actions [%5]")
        .arg(int(reading.role))
        .arg(reading.texts.join(QStringLiteral(" | ")))
        .arg(reading.state, 0, 16)
        .arg(interfaces.join(QString()))
        .arg(reading.actions.join(QStringLiteral(", ")));
}

// A part shown in `window`, as a screen reader reaches it.
using Shown = std::function<QAccessibleInterface *(QWidget *window)>;

template<typename Widget>
Widget *placed(QWidget *window, Widget *widget)
{
    window->layout()->addWidget(widget);
    return widget;
}

} // namespace

Q_DECLARE_METATYPE(Shown)

class tst_KavrelBoundedText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void everyEdgeComesBack_data();
    void everyEdgeComesBack();
    void answers_data();
    void answers();
    void readsAsQtDoes_data();
    void readsAsQtDoes();
    void editsAsQtDoes();
    void partsReadTheWordsTheyShow_data();
    void partsReadTheWordsTheyShow();

private:
    // What Qt's own interfaces say of each field, read before the kit's factory stands in front.
    QHash<QString, Reading> m_qtReadings;
};

void tst_KavrelBoundedText::initTestCase()
{
    for (const Field &candidate : fields()) {
        const std::unique_ptr<QWidget> widget(candidate.build());
        m_qtReadings.insert(QLatin1String(candidate.name), read(QAccessible::queryAccessibleInterface(widget.get())));
    }
    KavrelAccessibleFactory::install();
}

void tst_KavrelBoundedText::everyEdgeComesBack_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QAccessible::TextBoundaryType>("boundary");
    static const char *const boundaryNames[] = {"char", "word", "sentence", "paragraph", "line", "no boundary"};
    for (const Field &candidate : fields()) {
        for (const QAccessible::TextBoundaryType boundary : AccessibleTextEdges::allBoundaries()) {
            QTest::addRow("%s, %s", candidate.name, boundaryNames[int(boundary)])
                << QString::fromLatin1(candidate.name) << boundary;
        }
    }
}

// Each question at the edges must come back (a hang ends the test, naming the question), with a
// range in the text or none.
void tst_KavrelBoundedText::everyEdgeComesBack()
{
    QFETCH(QString, field);
    QFETCH(QAccessible::TextBoundaryType, boundary);
    const std::unique_ptr<QWidget> widget(fieldNamed(field).build());
    widget->show();
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget.get());
    QVERIFY(accessible->textInterface());
    const QStringList faults = AccessibleTextEdges::askEdges(accessible, field, {boundary});
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void tst_KavrelBoundedText::answers_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<Around>("around");
    QTest::addColumn<QAccessible::TextBoundaryType>("boundary");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    const QString hello = QStringLiteral("line edit ending in a word");
    const QString lineOfSentences = QStringLiteral("line edit of sentences");
    const QString password = QStringLiteral("password field");
    const QString view = QStringLiteral("text view");
    const QString caretAtStart = QStringLiteral("text view, caret at the start");
    const auto row = [](const char *name, const QString &field, Around around, QAccessible::TextBoundaryType boundary,
                        int offset, const QString &text, int start, int end) {
        QTest::newRow(name) << field << around << boundary << offset << text << start << end;
    };
    // The item at the end of a field is the last one, as at its last character.
    row("word at the end", hello, Around::At, QAccessible::WordBoundary, 5, QStringLiteral("hello"), 0, 5);
    row("word at -1, the end", hello, Around::At, QAccessible::WordBoundary, -1, QStringLiteral("hello"), 0, 5);
    row("word at -2, the caret at the end", hello, Around::At, QAccessible::WordBoundary, -2, QStringLiteral("hello"), 0, 5);
    row("sentence at the end", hello, Around::At, QAccessible::SentenceBoundary, 5, QStringLiteral("hello"), 0, 5);
    row("last sentence", lineOfSentences, Around::At, QAccessible::SentenceBoundary, 24, QStringLiteral("Second one."), 13, 24);
    row("full stop after the last word", lineOfSentences, Around::At, QAccessible::WordBoundary, 24, QStringLiteral("."), 23, 24);
    row("space after the last word", QStringLiteral("line edit ending in a space"), Around::At, QAccessible::WordBoundary, 6,
        QStringLiteral(" "), 5, 6);
    row("Russian word at the end", QStringLiteral("line edit in Russian"), Around::At, QAccessible::WordBoundary, -1,
        QStringLiteral("мир"), 8, 11);
    row("e-mail's last word", QStringLiteral("e-mail field"), Around::At, QAccessible::WordBoundary, 15, QStringLiteral("com"), 12, 15);
    row("spin box's number at the end", QStringLiteral("spin box"), Around::At, QAccessible::WordBoundary, 2, QStringLiteral("42"), 0, 2);
    // A sign or a space that starts the text is an item of its own.
    row("sign at the start", QStringLiteral("line edit starting with a sign"), Around::At, QAccessible::WordBoundary, 0,
        QStringLiteral("#"), 0, 1);
    row("number after the sign", QStringLiteral("line edit starting with a sign"), Around::At, QAccessible::WordBoundary, 1,
        QStringLiteral("3"), 1, 2);
    row("space at the start", QStringLiteral("line edit starting with a space"), Around::At, QAccessible::WordBoundary, 0,
        QStringLiteral(" "), 0, 1);
    row("sentence from a sign", QStringLiteral("line edit starting with a sign"), Around::At, QAccessible::SentenceBoundary, 0,
        QStringLiteral("#3 items"), 0, 8);
    // Inside the text, Qt's answers.
    row("word inside", hello, Around::At, QAccessible::WordBoundary, 2, QStringLiteral("hello"), 0, 5);
    row("first sentence", lineOfSentences, Around::At, QAccessible::SentenceBoundary, 3, QStringLiteral("Hello world. "), 0, 13);
    row("word before the end", lineOfSentences, Around::Before, QAccessible::WordBoundary, 24, QStringLiteral("one"), 20, 23);
    row("sentence after the first", lineOfSentences, Around::After, QAccessible::SentenceBoundary, 0,
        QStringLiteral("Second one."), 13, 24);
    row("character at the end", hello, Around::At, QAccessible::CharBoundary, 5, QString(), -1, -1);
    row("character before the end", hello, Around::Before, QAccessible::CharBoundary, -1, QStringLiteral("o"), 4, 5);
    row("view's word at the end", view, Around::At, QAccessible::WordBoundary, 28, QStringLiteral("line"), 24, 28);
    // Ctrl+End puts the caret after the last character: the line there is the last one.
    row("view's line at the end", view, Around::At, QAccessible::LineBoundary, 28, QStringLiteral("Second line"), 17, 28);
    row("view's line at -1, the end", view, Around::At, QAccessible::LineBoundary, -1, QStringLiteral("Second line"), 17, 28);
    row("view's first sentence", view, Around::At, QAccessible::SentenceBoundary, 3, QStringLiteral("First line here."), 0, 16);
    // Nothing is there.
    row("word past the end", hello, Around::At, QAccessible::WordBoundary, 6, QString(), -1, -1);
    row("no word before the first", hello, Around::Before, QAccessible::WordBoundary, 1, QString(), -1, -1);
    row("empty field", QStringLiteral("empty line edit"), Around::At, QAccessible::WordBoundary, 0, QString(), -1, -1);
    // A password reads as its mask, one item whatever the boundary.
    const QString mask = std::unique_ptr<QLineEdit>(lineEdit(QStringLiteral("correct horse"), QLineEdit::Password))->displayText();
    row("password's word at the end", password, Around::At, QAccessible::WordBoundary, -1, mask, 0, 13);
    row("password's sentence", password, Around::At, QAccessible::SentenceBoundary, 3, mask, 0, 13);
    row("no password's word before the end", password, Around::Before, QAccessible::WordBoundary, -1, QString(), -1, -1);
    // A view asked outside its text answered with the text at the caret.
    row("view's word far past the end", view, Around::At, QAccessible::WordBoundary, 1000, QString(), -1, -1);
    row("view's word at INT_MIN", view, Around::At, QAccessible::WordBoundary, INT_MIN, QString(), -1, -1);
    row("view's sentence before INT_MAX", view, Around::Before, QAccessible::SentenceBoundary, INT_MAX, QString(), -1, -1);
    row("view's word at -1, the caret at the start", caretAtStart, Around::At, QAccessible::WordBoundary, -1,
        QStringLiteral("line"), 24, 28);
}

void tst_KavrelBoundedText::answers()
{
    QFETCH(QString, field);
    QFETCH(Around, around);
    QFETCH(QAccessible::TextBoundaryType, boundary);
    QFETCH(int, offset);
    const std::unique_ptr<QWidget> widget(fieldNamed(field).build());
    widget->show();
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(widget.get())->textInterface();
    const AccessibleTextEdges::Answer answer = AccessibleTextEdges::ask(text, around, boundary, offset, field);
    QTEST(answer.text, "text");
    QTEST(answer.start, "start");
    QTEST(answer.end, "end");
}

void tst_KavrelBoundedText::readsAsQtDoes_data()
{
    QTest::addColumn<QString>("field");
    for (const Field &candidate : fields())
        QTest::newRow(candidate.name) << QString::fromLatin1(candidate.name);
}

// Name, role, states, value (a password's is its stars), interfaces and actions stay Qt's: screen
// readers and the end-to-end runs find the fields by them. Only the editable text is offered where
// the user may type alone, where Qt offers it on a read-only field too.
void tst_KavrelBoundedText::readsAsQtDoes()
{
    QFETCH(QString, field);
    const std::unique_ptr<QWidget> widget(fieldNamed(field).build());
    const Reading ours = read(QAccessible::queryAccessibleInterface(widget.get()));
    Reading qt = m_qtReadings.value(field);
    qt.interfaces[QAccessible::EditableTextInterface - QAccessible::TextInterface] = !widget->property("readOnly").toBool();
    QVERIFY2(ours == qt, qPrintable(QStringLiteral("ours: %1\nQt's: %2").arg(describe(ours), describe(qt))));
}

// The editable text is Qt's, and the text read after an edit is the edited one.
void tst_KavrelBoundedText::editsAsQtDoes()
{
    const std::unique_ptr<QLineEdit> edit(lineEdit(QStringLiteral("hello")));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(edit.get());
    accessible->editableTextInterface()->insertText(5, QStringLiteral(" there"));
    QCOMPARE(edit->text(), QStringLiteral("hello there"));
    const AccessibleTextEdges::Answer word =
        AccessibleTextEdges::ask(accessible->textInterface(), Around::At, QAccessible::WordBoundary, -1, QStringLiteral("edited field"));
    QCOMPARE(word.text, QStringLiteral("there"));
    QCOMPARE(word.start, 6);
    accessible->editableTextInterface()->deleteText(0, 6);
    QCOMPARE(accessible->textInterface()->text(0, accessible->textInterface()->characterCount()), QStringLiteral("there"));
}

void tst_KavrelBoundedText::partsReadTheWordsTheyShow_data()
{
    QTest::addColumn<Shown>("shown");
    QTest::addColumn<QString>("words");
    const auto widget = [](std::function<QWidget *()> make) {
        return Shown([make](QWidget *window) { return QAccessible::queryAccessibleInterface(placed(window, make())); });
    };
    QTest::newRow("label") << widget([] { return new QLabel(QStringLiteral("Копировать транскрипт")); })
                           << QStringLiteral("Копировать транскрипт");
    QTest::newRow("label with a name of its own") << widget([] {
        auto *label = new QLabel(QStringLiteral("12:40"));
        label->setAccessibleName(QStringLiteral("Started at"));
        return label;
    }) << QStringLiteral("12:40");
    QTest::newRow("label of rich text") << widget([] { return new QLabel(QStringLiteral("<b>Важно:</b> сессия &amp; перевод")); })
                                        << QStringLiteral("Важно: сессия & перевод");
    QTest::newRow("button with a mnemonic") << widget([] { return new QPushButton(QStringLiteral("&Save && close")); })
                                            << QStringLiteral("Save & close");
    QTest::newRow("symbol button, named") << widget([] {
        auto *button = new QPushButton;
        button->setAccessibleName(QStringLiteral("Очистить поиск"));
        return button;
    }) << QStringLiteral("Очистить поиск");
    QTest::newRow("kit button") << widget([] {
        auto *button = new KavrelCapsuleButton;
        button->setText(QStringLiteral("Начать прослушивание"));
        return button;
    }) << QStringLiteral("Начать прослушивание");
    QTest::newRow("container of nothing to say") << widget([] { return new QWidget; }) << QString();
    QTest::newRow("list item") << Shown([](QWidget *window) {
        auto *list = placed(window, new QListWidget);
        list->addItems({QStringLiteral("English"), QStringLiteral("Deutsch")});
        return QAccessible::queryAccessibleInterface(list)->child(1);
    }) << QStringLiteral("Deutsch");
    QTest::newRow("menu item") << Shown([](QWidget *window) {
        auto *button = placed(window, new QToolButton);
        auto *menu = new QMenu(button);
        menu->addAction(QStringLiteral("Built-in microphone"));
        button->setMenu(menu);
        return QAccessible::queryAccessibleInterface(menu)->child(0);
    }) << QStringLiteral("Built-in microphone");
    QTest::newRow("tab of a picker") << Shown([](QWidget *window) {
        auto *picker = placed(window, new KavrelSegmentedPicker({{"columns", "circle", "Колонки"}, {"rows", "circle", "Строки"}}));
        return QAccessible::queryAccessibleInterface(picker)->child(1);
    }) << QStringLiteral("Строки");
}

// "Say all" reads a part's text where it lists one: a label's and a button's is what it shows.
// Read at its edges it answers as any text, past its end nothing; and nobody edits it: it offers no edits.
void tst_KavrelBoundedText::partsReadTheWordsTheyShow()
{
    QFETCH(Shown, shown);
    QFETCH(QString, words);
    QWidget window;
    new QVBoxLayout(&window);
    QAccessibleInterface *part = shown(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(part && part->isValid());
    QAccessibleTextInterface *text = part->textInterface();
    QVERIFY(text);
    const int count = int(words.size());
    QCOMPARE(text->characterCount(), count);
    QCOMPARE(text->text(0, count), words);
    QCOMPARE(text->text(count + 1, count + 5), QString());
    QCOMPARE(text->text(-1, count), QString());
    const AccessibleTextEdges::Answer past = AccessibleTextEdges::ask(text, Around::At, QAccessible::WordBoundary, count + 1, words);
    QCOMPARE(past.text, QString());
    QCOMPARE(past.start, -1);
    if (count > 0) {
        const AccessibleTextEdges::Answer last = AccessibleTextEdges::ask(text, Around::At, QAccessible::CharBoundary, count - 1, words);
        QCOMPARE(last.text, words.right(1));
    }
    const QStringList faults = AccessibleTextEdges::askEdges(part, words);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));

    QVERIFY(!part->editableTextInterface());
}

QTEST_MAIN(tst_KavrelBoundedText)
#include "tst_KavrelBoundedText.moc"
