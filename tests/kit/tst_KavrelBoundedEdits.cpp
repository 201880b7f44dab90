// What a client on the accessibility bus may change through the kit's interfaces: the text of a
// field the user may type into, within that text and what the field holds, and nothing else (a
// part the user types nothing into offers no editable text at all); and a list's item, asked as a
// table, is one with no rows whose name stays the list's.

#include "kit/widgets/KavrelAccessibleFactory.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>
#include <functional>
#include <memory>

namespace {

enum class Field { line, readOnlyLine, disabledLine, readOnlyView, readOnlyPlainView, editableView, button };

QWidget *makeField(Field field)
{
    switch (field) {
    case Field::line:
    case Field::readOnlyLine:
    case Field::disabledLine: {
        auto *line = new QLineEdit(QStringLiteral("hello"));
        line->setMaxLength(10);
        line->setReadOnly(field == Field::readOnlyLine);
        line->setEnabled(field != Field::disabledLine);
        return line;
    }
    case Field::readOnlyView:
    case Field::editableView: {
        auto *view = new QTextEdit;
        view->setPlainText(QStringLiteral("hello"));
        view->setReadOnly(field == Field::readOnlyView);
        return view;
    }
    case Field::readOnlyPlainView: {
        auto *view = new QPlainTextEdit(QStringLiteral("hello"));
        view->setReadOnly(true);
        return view;
    }
    case Field::button:
        return new QPushButton(QStringLiteral("hello"));
    }
    return nullptr;
}

QString textOf(QWidget *widget)
{
    if (auto *line = qobject_cast<QLineEdit *>(widget))
        return line->text();
    if (auto *view = qobject_cast<QTextEdit *>(widget))
        return view->toPlainText();
    if (auto *view = qobject_cast<QPlainTextEdit *>(widget))
        return view->toPlainText();
    return static_cast<QPushButton *>(widget)->text();
}

using Edit = std::function<void(QAccessibleInterface *)>;

std::unique_ptr<QWidget> windowWith(QWidget *widget)
{
    auto window = std::make_unique<QWidget>();
    (new QVBoxLayout(window.get()))->addWidget(widget);
    window->resize(300, 200);
    window->show();
    return window;
}

} // namespace

class tst_KavrelBoundedEdits : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { KavrelAccessibleFactory::install(); }
    void changesOnlyWhatTheUserMayType_data();
    void changesOnlyWhatTheUserMayType();
    void offersEditsOnlyWhereTheUserTypes_data();
    void offersEditsOnlyWhereTheUserTypes();
    void busEditsCountAsTyped_data();
    void busEditsCountAsTyped();
    void partsOfferNoEdits();
    void menuItemsOfferNoEdits();
    void listItemIsNoTable();
};

void tst_KavrelBoundedEdits::changesOnlyWhatTheUserMayType_data()
{
    QTest::addColumn<Field>("field");
    QTest::addColumn<Edit>("edit");
    // What the field holds afterwards ("hello" before; a line edit holds 10 at most).
    QTest::addColumn<QString>("edited");

    const struct
    {
        const char *name;
        Edit edit;
        QString lineEdited;
        QString viewEdited;
    } edits[] = {
        {"insert at the end", [](QAccessibleInterface *part) { part->editableTextInterface()->insertText(5, QStringLiteral(" you")); },
         QStringLiteral("hello you"), QStringLiteral("hello you")},
        {"insert past the end", [](QAccessibleInterface *part) { part->editableTextInterface()->insertText(6, QStringLiteral("x")); },
         QStringLiteral("hello"), QStringLiteral("hello")},
        {"insert at 2147483647", [](QAccessibleInterface *part) { part->editableTextInterface()->insertText(INT_MAX, QStringLiteral("x")); },
         QStringLiteral("hello"), QStringLiteral("hello")},
        {"insert at -1", [](QAccessibleInterface *part) { part->editableTextInterface()->insertText(-1, QStringLiteral("x")); },
         QStringLiteral("hello"), QStringLiteral("hello")},
        {"insert more than the field holds", [](QAccessibleInterface *part) { part->editableTextInterface()->insertText(0, QStringLiteral("abcdef")); },
         QStringLiteral("hello"), QStringLiteral("abcdefhello")},
        // What the bridge makes of a length asked past the text sent: the text padded, here with
        // NULs. The text sent goes in, and no NUL does.
        {"insert padded with NULs", [](QAccessibleInterface *part) {
             QString padded = QStringLiteral("x");
             padded.resize(4, QChar(0));
             part->editableTextInterface()->insertText(0, padded);
         },
         QStringLiteral("xhello"), QStringLiteral("xhello")},
        {"insert with a NUL inside", [](QAccessibleInterface *part) {
             part->editableTextInterface()->insertText(0, QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
         },
         QStringLiteral("ahello"), QStringLiteral("ahello")},
        // Padded far past what the field holds: the text sent still fits.
        {"insert padded past what the field holds", [](QAccessibleInterface *part) {
             QString padded = QStringLiteral("ok");
             padded.resize(100000, QChar(0));
             part->editableTextInterface()->replaceText(0, 5, padded);
         },
         QStringLiteral("ok"), QStringLiteral("ok")},
        {"replace the whole text", [](QAccessibleInterface *part) { part->editableTextInterface()->replaceText(0, 5, QStringLiteral("bye")); },
         QStringLiteral("bye"), QStringLiteral("bye")},
        {"replace past the end", [](QAccessibleInterface *part) { part->editableTextInterface()->replaceText(0, 6, QStringLiteral("bye")); },
         QStringLiteral("hello"), QStringLiteral("hello")},
        {"delete inside", [](QAccessibleInterface *part) { part->editableTextInterface()->deleteText(1, 3); },
         QStringLiteral("hlo"), QStringLiteral("hlo")},
        {"delete to -1", [](QAccessibleInterface *part) { part->editableTextInterface()->deleteText(0, -1); },
         QStringLiteral("hello"), QStringLiteral("hello")},
        {"delete backwards", [](QAccessibleInterface *part) { part->editableTextInterface()->deleteText(3, 1); },
         QStringLiteral("hello"), QStringLiteral("hello")},
        {"value set", [](QAccessibleInterface *part) { part->setText(QAccessible::Value, QStringLiteral("new")); },
         QStringLiteral("new"), QStringLiteral("new")},
    };
    for (const auto &edit : edits) {
        QTest::addRow("line edit: %s", edit.name) << Field::line << edit.edit << edit.lineEdited;
        QTest::addRow("editable text view: %s", edit.name) << Field::editableView << edit.edit << edit.viewEdited;
    }
}

void tst_KavrelBoundedEdits::changesOnlyWhatTheUserMayType()
{
    QFETCH(Field, field);
    QFETCH(Edit, edit);
    QFETCH(QString, edited);
    QWidget *widget = makeField(field);
    const std::unique_ptr<QWidget> window = windowWith(widget);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QAccessibleInterface *part = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(part->editableTextInterface());
    QVERIFY(part->textInterface());

    edit(part);
    QCOMPARE(textOf(widget), edited);
}

// Where the user types nothing, a client is offered no edits (the bus lists the interfaces a part
// offers, and a screen reader takes a part for an editable one by them), and a value set changes
// nothing. A field offers them again once the user may type into it again.
void tst_KavrelBoundedEdits::offersEditsOnlyWhereTheUserTypes_data()
{
    QTest::addColumn<Field>("field");
    QTest::newRow("read-only line edit") << Field::readOnlyLine;
    QTest::newRow("disabled line edit") << Field::disabledLine;
    QTest::newRow("read-only text view") << Field::readOnlyView;
    QTest::newRow("read-only plain text view") << Field::readOnlyPlainView;
    QTest::newRow("button") << Field::button;
}

void tst_KavrelBoundedEdits::offersEditsOnlyWhereTheUserTypes()
{
    QFETCH(Field, field);
    QWidget *widget = makeField(field);
    const std::unique_ptr<QWidget> window = windowWith(widget);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QAccessibleInterface *part = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(part->textInterface());
    QVERIFY(!part->editableTextInterface());
    part->setText(QAccessible::Value, QStringLiteral("new"));
    QCOMPARE(textOf(widget), QStringLiteral("hello"));

    if (field == Field::button)
        return;
    widget->setEnabled(true);
    widget->setProperty("readOnly", false);
    QVERIFY(part->editableTextInterface());
    part->editableTextInterface()->insertText(5, QStringLiteral("!"));
    QCOMPARE(textOf(widget), QStringLiteral("hello!"));
    widget->setEnabled(false);
    QVERIFY(!part->editableTextInterface());
}

// A field's owner acts on what the user types (textEdited: validation, search, a step's button)
// and not on what it sets itself; an edit through the bus is the user's, and is heard as typed,
// once, with the text it leaves. The field checks it as it checks typing.
void tst_KavrelBoundedEdits::busEditsCountAsTyped_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("heard");

    const auto insert = [](int offset, QString text, int paddedTo = -1) {
        return Edit([offset, text, paddedTo](QAccessibleInterface *part) {
            QString sent = text;
            if (paddedTo > text.size())
                sent.resize(paddedTo, QChar(0));
            part->editableTextInterface()->insertText(offset, sent);
        });
    };
    QTest::newRow("an address inserted") << QString() << insert(0, QStringLiteral("ada@example.com"))
                                         << QStringLiteral("ada@example.com") << 1;
    QTest::newRow("inserted in the middle") << QStringLiteral("ada.com") << insert(3, QStringLiteral("@example"))
                                            << QStringLiteral("ada@example.com") << 1;
    QTest::newRow("Cyrillic with its length in bytes") << QString() << insert(0, QStringLiteral("встреча"), 14)
                                                       << QStringLiteral("встреча") << 1;
    QTest::newRow("whole text set") << QStringLiteral("old text")
                                    << Edit([](QAccessibleInterface *part) {
                                           part->editableTextInterface()->replaceText(0, 8, QStringLiteral("встреча"));
                                       })
                                    << QStringLiteral("встреча") << 1;
    QTest::newRow("value set") << QStringLiteral("old")
                               << Edit([](QAccessibleInterface *part) { part->setText(QAccessible::Value, QStringLiteral("new")); })
                               << QStringLiteral("new") << 1;
    QTest::newRow("deleted") << QStringLiteral("morning")
                             << Edit([](QAccessibleInterface *part) { part->editableTextInterface()->deleteText(0, 7); })
                             << QString() << 1;
    QTest::newRow("a digit the field refuses") << QStringLiteral("abc") << insert(1, QStringLiteral("7")) << QStringLiteral("abc") << 0;
    QTest::newRow("outside the text") << QStringLiteral("abc") << insert(4, QStringLiteral("x")) << QStringLiteral("abc") << 0;
}

void tst_KavrelBoundedEdits::busEditsCountAsTyped()
{
    QFETCH(QString, before);
    QFETCH(Edit, edit);
    QFETCH(QString, after);
    QFETCH(int, heard);
    auto *field = new QLineEdit(before);
    // A field that takes letters and the signs of an address, as the user may type them.
    field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^0-9]*")), field));
    const std::unique_ptr<QWidget> window = windowWith(field);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QSignalSpy typed(field, &QLineEdit::textEdited);

    edit(QAccessible::queryAccessibleInterface(field));
    QCOMPARE(field->text(), after);
    QCOMPARE(typed.size(), heard);
    if (heard)
        QCOMPARE(typed.last().at(0).toString(), after);
}

// A part with nothing to type into offers no edits; it still reads as its text the words it shows,
// and a value set changes none of them.
void tst_KavrelBoundedEdits::partsOfferNoEdits()
{
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    auto *button = new QPushButton(QStringLiteral("Cancel sign-in"));
    auto *combo = new QComboBox;
    combo->addItems({QStringLiteral("English"), QStringLiteral("German")});
    layout->addWidget(button);
    layout->addWidget(combo);
    const std::unique_ptr<QWidget> window = windowWith(holder);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    for (QWidget *widget : {static_cast<QWidget *>(holder), static_cast<QWidget *>(button), static_cast<QWidget *>(combo)}) {
        QAccessibleInterface *part = QAccessible::queryAccessibleInterface(widget);
        const QString name = part->text(QAccessible::Name);
        QVERIFY2(part->textInterface() && !part->editableTextInterface(), widget->metaObject()->className());
        part->setText(QAccessible::Value, QStringLiteral("renamed"));
        QCOMPARE(part->text(QAccessible::Name), name);
    }
    QCOMPARE(button->text(), QStringLiteral("Cancel sign-in"));
    QCOMPARE(combo->currentText(), QStringLiteral("English"));
}

// A menu's items are Qt's own parts, with no widget: they offer no edits either, and stay the menu's.
void tst_KavrelBoundedEdits::menuItemsOfferNoEdits()
{
    auto *button = new QToolButton;
    auto *menu = new QMenu(button);
    QAction *device = menu->addAction(QStringLiteral("Built-in microphone"));
    menu->addAction(QStringLiteral("USB headset"));
    button->setMenu(menu);
    const std::unique_ptr<QWidget> window = windowWith(button);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QAccessibleInterface *items = QAccessible::queryAccessibleInterface(menu);
    QAccessibleInterface *item = items->child(0);
    QVERIFY(item);
    QCOMPARE(items->child(0), item);
    QCOMPARE(item->role(), QAccessible::MenuItem);
    QCOMPARE(item->parent(), items);
    QCOMPARE(items->indexOfChild(item), 0);
    QCOMPARE(items->indexOfChild(items->child(1)), 1);
    QVERIFY(item->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));

    QVERIFY(item->textInterface() && !item->editableTextInterface());
    QVERIFY(!item->tableInterface());
    for (const QAccessible::Text kind : {QAccessible::Name, QAccessible::Value})
        item->setText(kind, QStringLiteral("renamed"));
    QCOMPARE(device->text(), QStringLiteral("Built-in microphone"));
    QCOMPARE(item->text(QAccessible::Name), QStringLiteral("Built-in microphone"));

    // The action goes: the part standing for its item is no longer valid.
    const QAccessible::Id handedOut = QAccessible::uniqueId(item);
    delete device;
    QAccessibleInterface *gone = QAccessible::accessibleInterface(handedOut);
    QVERIFY(!gone || !gone->isValid());
    QCOMPARE(items->child(0)->text(QAccessible::Name), QStringLiteral("USB headset"));
}

// A language list's item: the bridge takes it for a table as soon as a client asks it a table's
// question, and hands it a client's text as its value; it offers no edits.
void tst_KavrelBoundedEdits::listItemIsNoTable()
{
    auto *list = new QListView;
    auto *model = new QStandardItemModel(list);
    for (const QString &language : {QStringLiteral("English"), QStringLiteral("German"), QStringLiteral("French")})
        model->appendRow(new QStandardItem(language));
    list->setModel(model);
    const std::unique_ptr<QWidget> window = windowWith(list);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QAccessibleInterface *rows = QAccessible::queryAccessibleInterface(list);
    QAccessibleInterface *item = rows->child(1);
    QVERIFY(item);

    // One part for each cell, however it is reached, and Qt's cell behind it.
    QCOMPARE(rows->tableInterface()->cellAt(1, 0), item);
    QCOMPARE(rows->indexOfChild(item), 1);
    QCOMPARE(item->parent(), rows);
    QCOMPARE(item->role(), QAccessible::ListItem);
    QCOMPARE(item->tableCellInterface()->rowIndex(), 1);
    QCOMPARE(item->tableCellInterface()->table(), rows);

    QAccessibleTableInterface *asTable = item->tableInterface();
    QVERIFY(asTable);
    QCOMPARE(asTable->rowCount(), 0);
    QCOMPARE(asTable->columnCount(), 0);
    QAccessibleInterface *noCell = asTable->cellAt(0, 0);
    QVERIFY(noCell && !noCell->isValid() && noCell->tableCellInterface());
    QCOMPARE(noCell->tableCellInterface()->rowExtent(), 0);
    QVERIFY(!asTable->selectRow(0));

    for (const QAccessible::Text kind : {QAccessible::Name, QAccessible::Value, QAccessible::Description})
        item->setText(kind, QStringLiteral("[A11Y-REPLACED]"));
    QVERIFY(!item->editableTextInterface());
    QCOMPARE(model->item(1)->text(), QStringLiteral("German"));
    QCOMPARE(item->text(QAccessible::Name), QStringLiteral("German"));

    // Qt lets its cells go when the model changes under a listening client; the part handed out
    // for one is then not valid, and the row that took its place is another part.
    const QAccessible::Id handedOut = QAccessible::uniqueId(item);
    model->removeRows(0, 2);
    QAccessibleTableModelChangeEvent change(list, QAccessibleTableModelChangeEvent::RowsRemoved);
    change.setFirstRow(0);
    change.setLastRow(1);
    rows->tableInterface()->modelChange(&change);
    QAccessibleInterface *gone = QAccessible::accessibleInterface(handedOut);
    QVERIFY(!gone || !gone->isValid());
    QCOMPARE(rows->child(0)->text(QAccessible::Name), QStringLiteral("French"));
    QCOMPARE(rows->child(1), nullptr);
}

QTEST_MAIN(tst_KavrelBoundedEdits)
#include "tst_KavrelBoundedEdits.moc"
