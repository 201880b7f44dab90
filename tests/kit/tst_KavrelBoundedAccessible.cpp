// Qt's widgets whose accessible interfaces take an index on trust, behind the kit's bounds: a
// screen reader that asks for a child, a cell or a row out of range gets nothing, and everything
// else is answered as Qt answers it.

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelBoundedAccessible.h"
#include "support/AccessibleBounds.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStringListModel>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace {

// A widget of one kind in a window, and a change of its content that makes it grow or shrink.
struct Kind
{
    const char *name;
    std::function<QWidget *()> build;
    std::function<void(QWidget *, bool grow)> change;
};

QWidget *scrollArea(QSize content)
{
    auto *area = new QScrollArea;
    auto *inside = new QWidget;
    inside->setMinimumSize(content);
    area->setWidget(inside);
    area->setFixedSize(200, 200);
    return area;
}

QMenu *menuWithSubmenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->addAction(QStringLiteral("Open"));
    menu->addSeparator();
    menu->addMenu(QStringLiteral("More"))->addAction(QStringLiteral("Inside"));
    return menu;
}

void changeMenu(QMenu *menu, bool grow)
{
    if (grow) {
        for (int i = 0; i < 5; ++i)
            menu->addAction(QStringLiteral("Added %1").arg(i));
    } else {
        const QList<QAction *> actions = menu->actions();
        for (QAction *action : actions.mid(1))
            menu->removeAction(action);
    }
}

QStringList letters(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(QString(QChar(u'a' + i % 26)));
    return list;
}

const QList<Kind> &kinds()
{
    static const QList<Kind> all{
        {"scroll area with scroll bars", [] { return scrollArea({600, 2000}); },
         [](QWidget *widget, bool grow) {
             static_cast<QScrollArea *>(widget)->widget()->setMinimumSize(grow ? QSize(600, 2000) : QSize(10, 10));
             static_cast<QScrollArea *>(widget)->widget()->resize(10, 10);
         }},
        {"scroll area without scroll bars", [] { return scrollArea({10, 10}); },
         [](QWidget *widget, bool grow) {
             static_cast<QScrollArea *>(widget)->widget()->setMinimumSize(grow ? QSize(600, 2000) : QSize(10, 10));
         }},
        {"text edit", [] {
             auto *edit = new QTextEdit;
             edit->setPlainText(QStringLiteral("Hello there\n").repeated(40));
             edit->setFixedHeight(80);
             return edit;
         },
         [](QWidget *widget, bool grow) {
             static_cast<QTextEdit *>(widget)->setPlainText(grow ? QStringLiteral("line\n").repeated(200) : QStringLiteral("x"));
         }},
        {"plain text edit", [] {
             auto *edit = new QPlainTextEdit(QStringLiteral("Hello there\n").repeated(40));
             edit->setFixedHeight(80);
             return edit;
         },
         [](QWidget *widget, bool grow) {
             static_cast<QPlainTextEdit *>(widget)->setPlainText(grow ? QStringLiteral("line\n").repeated(200) : QStringLiteral("x"));
         }},
        {"list", [] {
             auto *view = new QListView;
             view->setModel(new QStringListModel(letters(12), view));
             view->setFixedHeight(60);
             return view;
         },
         [](QWidget *widget, bool grow) {
             auto *model = static_cast<QStringListModel *>(static_cast<QListView *>(widget)->model());
             model->setStringList(letters(grow ? 40 : 1));
         }},
        {"tree", [] {
             auto *view = new QTreeView;
             auto *model = new QStandardItemModel(3, 2, view);
             model->setItem(0, 0, new QStandardItem(QStringLiteral("parent")));
             model->item(0, 0)->appendRow(new QStandardItem(QStringLiteral("child")));
             view->setModel(model);
             view->expandAll();
             return view;
         },
         [](QWidget *widget, bool grow) {
             auto *model = static_cast<QStandardItemModel *>(static_cast<QTreeView *>(widget)->model());
             model->setRowCount(grow ? 30 : 1);
         }},
        {"table", [] {
             auto *view = new QTableView;
             view->setModel(new QStandardItemModel(4, 3, view));
             return view;
         },
         [](QWidget *widget, bool grow) {
             auto *model = static_cast<QStandardItemModel *>(static_cast<QTableView *>(widget)->model());
             model->setRowCount(grow ? 30 : 1);
             model->setColumnCount(grow ? 5 : 1);
         }},
        {"menu", [] {
             auto *holder = new QWidget;
             menuWithSubmenu(holder)->popup(QPoint(0, 0));
             return holder;
         },
         [](QWidget *widget, bool grow) { changeMenu(widget->findChild<QMenu *>(), grow); }},
        {"menu bar", [] {
             auto *bar = new QMenuBar;
             bar->addMenu(QStringLiteral("File"))->addAction(QStringLiteral("Quit"));
             bar->addMenu(QStringLiteral("Edit"));
             return bar;
         },
         [](QWidget *widget, bool grow) {
             auto *bar = static_cast<QMenuBar *>(widget);
             if (grow)
                 bar->addMenu(QStringLiteral("View"));
             else
                 bar->clear();
         }},
        {"menu button", [] {
             auto *button = new QToolButton;
             button->setText(QStringLiteral("Devices"));
             button->setPopupMode(QToolButton::InstantPopup);
             button->setMenu(menuWithSubmenu(button));
             return button;
         },
         [](QWidget *widget, bool grow) { changeMenu(static_cast<QToolButton *>(widget)->menu(), grow); }},
        {"combo box", [] {
             auto *box = new QComboBox;
             box->addItems(letters(5));
             return box;
         },
         [](QWidget *widget, bool grow) {
             auto *box = static_cast<QComboBox *>(widget);
             if (grow)
                 box->addItems(letters(30));
             else
                 box->clear();
         }},
    };
    return all;
}

std::unique_ptr<QWidget> windowWith(QWidget *widget)
{
    auto window = std::make_unique<QWidget>();
    auto *layout = new QVBoxLayout(window.get());
    layout->addWidget(widget);
    window->resize(300, 300);
    window->show();
    return window;
}

} // namespace

class tst_KavrelBoundedAccessible : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void scrollAreaChildPastItsCount();
    void outOfRangeGivesNothing_data();
    void outOfRangeGivesNothing();
    void answersAsQtDoes();
    void descriptionSaysMoreThanTheName_data();
    void descriptionSaysMoreThanTheName();
    void rowsFollowTheModel();
    void widgetGoneBetweenQuestions();
    void innerInterfaceGoneFirst_data();
    void innerInterfaceGoneFirst();
};

void tst_KavrelBoundedAccessible::initTestCase()
{
    KavrelAccessibleFactory::install();
}

// A scroll area's children are its viewport and the scroll bars showing at the moment: a count a
// screen reader read with the bars up is one too many once they hide. Qt 6.4 read its list past
// the end here and called through whatever it found.
void tst_KavrelBoundedAccessible::scrollAreaChildPastItsCount()
{
    auto *area = static_cast<QScrollArea *>(scrollArea({600, 2000}));
    const std::unique_ptr<QWidget> window = windowWith(area);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_VERIFY(area->verticalScrollBar()->isVisible());
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(area);
    const int count = accessible->childCount();
    QCOMPARE(count, 3);
    QCOMPARE(accessible->child(count), nullptr);
    QCOMPARE(accessible->child(-1), nullptr);

    area->widget()->setMinimumSize(10, 10);
    area->widget()->resize(10, 10);
    QTRY_VERIFY(!area->verticalScrollBar()->isVisible());
    QCOMPARE(accessible->childCount(), 1);
    for (int index = 1; index <= count; ++index)
        QCOMPARE(accessible->child(index), nullptr);
    QCOMPARE(accessible->child(0)->object(), area->viewport());
}

void tst_KavrelBoundedAccessible::outOfRangeGivesNothing_data()
{
    QTest::addColumn<int>("kind");
    for (int i = 0; i < kinds().size(); ++i)
        QTest::newRow(kinds().at(i).name) << i;
}

// Every part of the widget, before and after its content grows and shrinks, and at the counts it
// had before each change.
void tst_KavrelBoundedAccessible::outOfRangeGivesNothing()
{
    QFETCH(int, kind);
    QWidget *widget = kinds().at(kind).build();
    const std::unique_ptr<QWidget> window = windowWith(widget);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // A popup menu is a window of its own.
    QList<QAccessibleInterface *> roots{QAccessible::queryAccessibleInterface(window.get())};
    if (auto *menu = window->findChild<QMenu *>())
        roots.append(QAccessible::queryAccessibleInterface(menu));

    AccessibleBounds::Counts counts;
    QStringList faults = AccessibleBounds::walk(roots, &counts);
    for (const bool grow : {true, false, true}) {
        kinds().at(kind).change(widget, grow);
        QTest::qWait(50);
        AccessibleBounds::Counts now;
        faults += AccessibleBounds::walk(roots, &now, counts);
        counts = now;
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

// Behind the bounds the interfaces are Qt's: the same roles, names, texts, cells and actions.
void tst_KavrelBoundedAccessible::answersAsQtDoes()
{
    auto *edit = new QTextEdit(QStringLiteral("Hello there"));
    auto *list = new QListView;
    list->setModel(new QStringListModel({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, list));
    auto *button = new QToolButton;
    button->setPopupMode(QToolButton::InstantPopup);
    QMenu *menu = menuWithSubmenu(button);
    button->setMenu(menu);
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    for (QWidget *widget : {static_cast<QWidget *>(edit), static_cast<QWidget *>(list), static_cast<QWidget *>(button)})
        layout->addWidget(widget);
    const std::unique_ptr<QWidget> window = windowWith(holder);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    for (QWidget *widget : {static_cast<QWidget *>(edit), static_cast<QWidget *>(list), static_cast<QWidget *>(button),
                            static_cast<QWidget *>(menu)})
        QVERIFY2(dynamic_cast<KavrelBoundedAccessible *>(QAccessible::queryAccessibleInterface(widget)), widget->metaObject()->className());

    QAccessibleInterface *text = QAccessible::queryAccessibleInterface(edit);
    QCOMPARE(text->role(), QAccessible::EditableText);
    QVERIFY(text->textInterface());
    QCOMPARE(text->textInterface()->text(0, 5), QStringLiteral("Hello"));
    QVERIFY(text->editableTextInterface());

    QAccessibleInterface *rows = QAccessible::queryAccessibleInterface(list);
    QCOMPARE(rows->role(), QAccessible::List);
    QCOMPARE(rows->childCount(), 3);
    QCOMPARE(rows->tableInterface()->rowCount(), 3);
    QAccessibleInterface *row = rows->child(1);
    QCOMPARE(row->text(QAccessible::Name), QStringLiteral("b"));
    QCOMPARE(row->parent(), rows);
    QCOMPARE(rows->indexOfChild(row), 1);
    QCOMPARE(row->tableCellInterface()->rowIndex(), 1);
    QCOMPARE(rows->tableInterface()->cellAt(2, 0)->text(QAccessible::Name), QStringLiteral("c"));
    QCOMPARE(rows->indexOfChild(text), -1);

    QAccessibleInterface *items = QAccessible::queryAccessibleInterface(menu);
    QCOMPARE(items->role(), QAccessible::PopupMenu);
    QCOMPARE(items->childCount(), 3);
    QCOMPARE(items->child(0)->role(), QAccessible::MenuItem);
    QCOMPARE(items->child(0)->text(QAccessible::Name), QStringLiteral("Open"));
    QVERIFY(items->child(0)->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    QCOMPARE(items->child(1)->role(), QAccessible::Separator);
    QCOMPARE(items->indexOfChild(items->child(2)), 2);
    QCOMPARE(items->child(2)->child(0)->role(), QAccessible::PopupMenu);
    QCOMPARE(items->child(0)->parent(), items);

    QAccessibleInterface *menuButton = QAccessible::queryAccessibleInterface(button);
    QCOMPARE(menuButton->role(), QAccessible::ButtonMenu);
    QVERIFY(menuButton->actionInterface()->actionNames().contains(QAccessibleActionInterface::showMenuAction()));
}

void tst_KavrelBoundedAccessible::descriptionSaysMoreThanTheName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("told");
    QTest::newRow("tooltip that names it") << QStringLiteral("Switch layout") << QStringLiteral("Switch layout") << QString() << QString();
    QTest::newRow("description that names it") << QStringLiteral("Switch layout") << QString() << QStringLiteral("Switch layout")
                                               << QString();
    QTest::newRow("tooltip that says more") << QStringLiteral("Stop") << QStringLiteral("Stop listening") << QString()
                                            << QStringLiteral("Stop listening");
    QTest::newRow("description of its own") << QStringLiteral("Stop") << QStringLiteral("Stop")
                                            << QStringLiteral("Ends the meeting") << QStringLiteral("Ends the meeting");
}

// A reader says a control's name and then its description: the same words are said once.
void tst_KavrelBoundedAccessible::descriptionSaysMoreThanTheName()
{
    QFETCH(QString, name);
    QFETCH(QString, toolTip);
    QFETCH(QString, description);
    auto *button = new QToolButton;
    button->setAccessibleName(name);
    button->setToolTip(toolTip);
    button->setAccessibleDescription(description);
    const std::unique_ptr<QWidget> window = windowWith(button);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(button);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    QTEST(accessible->text(QAccessible::Description), "told");
}

// Qt's list keeps the cells it handed out and moves them along as the model changes; the changes
// reach it through the bounds. (Offscreen no screen reader listens, so Qt sends the view's
// changes nowhere: the test hands them to the interface as Qt does when one listens.)
void tst_KavrelBoundedAccessible::rowsFollowTheModel()
{
    auto *list = new QListView;
    auto *model = new QStringListModel(letters(4), list);
    list->setModel(model);
    const std::unique_ptr<QWidget> window = windowWith(list);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QAccessibleInterface *rows = QAccessible::queryAccessibleInterface(list);
    QCOMPARE(rows->child(2)->text(QAccessible::Name), QStringLiteral("c"));
    QCOMPARE(rows->child(0)->text(QAccessible::Name), QStringLiteral("a"));
    const auto tell = [&](QAccessibleTableModelChangeEvent::ModelChangeType type, int first, int last) {
        QAccessibleTableModelChangeEvent change(list, type);
        change.setFirstRow(first);
        change.setLastRow(last);
        rows->tableInterface()->modelChange(&change);
    };

    model->removeRows(0, 2);
    tell(QAccessibleTableModelChangeEvent::RowsRemoved, 0, 1);
    QCOMPARE(rows->childCount(), 2);
    QCOMPARE(rows->child(0)->text(QAccessible::Name), QStringLiteral("c"));
    QCOMPARE(rows->child(2), nullptr);
    model->insertRows(0, 1);
    model->setData(model->index(0), QStringLiteral("new"));
    tell(QAccessibleTableModelChangeEvent::RowsInserted, 0, 0);
    QCOMPARE(rows->child(0)->text(QAccessible::Name), QStringLiteral("new"));
    QCOMPARE(rows->child(1)->text(QAccessible::Name), QStringLiteral("c"));
}

// A client asks by the ids it was given; the widget may be gone by its next question.
void tst_KavrelBoundedAccessible::widgetGoneBetweenQuestions()
{
    auto *list = new QListView;
    list->setModel(new QStringListModel(letters(3), list));
    auto *button = new QToolButton;
    button->setMenu(menuWithSubmenu(button));
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    layout->addWidget(list);
    layout->addWidget(button);
    std::unique_ptr<QWidget> window = windowWith(holder);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    const QAccessible::Id listId = QAccessible::uniqueId(QAccessible::queryAccessibleInterface(list));
    const QAccessible::Id rowId = QAccessible::uniqueId(QAccessible::queryAccessibleInterface(list)->child(1));
    const QAccessible::Id menuId = QAccessible::uniqueId(QAccessible::queryAccessibleInterface(button->menu()));
    const QAccessible::Id itemId = QAccessible::uniqueId(QAccessible::queryAccessibleInterface(button->menu())->child(0));
    window.reset();

    QCOMPARE(QAccessible::accessibleInterface(listId), nullptr);
    QCOMPARE(QAccessible::accessibleInterface(menuId), nullptr);
    for (const QAccessible::Id id : {rowId, itemId}) {
        QAccessibleInterface *part = QAccessible::accessibleInterface(id);
        QVERIFY(!part || !part->isValid());
    }
}

void tst_KavrelBoundedAccessible::innerInterfaceGoneFirst_data()
{
    QTest::addColumn<std::function<QWidget *()>>("build");
    QTest::newRow("label") << std::function<QWidget *()>([] { return new QLabel(QStringLiteral("Zoom")); });
    QTest::newRow("button") << std::function<QWidget *()>([] { return new QPushButton(QStringLiteral("Start")); });
    QTest::newRow("line edit") << std::function<QWidget *()>([] { return new QLineEdit(QStringLiteral("mail")); });
    QTest::newRow("text edit") << std::function<QWidget *()>([] { return new QTextEdit(QStringLiteral("Hello")); });
    QTest::newRow("list") << std::function<QWidget *()>([] {
        auto *view = new QListView;
        view->setModel(new QStringListModel(letters(3), view));
        return view;
    });
}

// At exit Qt's cache deletes whatever interfaces are left, in any order, asking each for its
// widget first: a window still alive then (one closed as the program ended) has both interfaces
// of each widget there, and the inner one may go first. The bounds then read nothing of it.
void tst_KavrelBoundedAccessible::innerInterfaceGoneFirst()
{
    QFETCH(std::function<QWidget *()>, build);
    QWidget *widget = build();
    const std::unique_ptr<QWidget> window = windowWith(widget);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QAccessibleInterface *bounded = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(dynamic_cast<KavrelBoundedAccessible *>(bounded));
    QVERIFY(bounded->textInterface());
    // The inner one entered the cache just before the bounds did.
    const QAccessible::Id boundedId = QAccessible::uniqueId(bounded);
    QAccessible::Id innerId = 0;
    for (QAccessible::Id id = boundedId - 1; id + 8 > boundedId && !innerId; --id) {
        QAccessibleInterface *candidate = QAccessible::accessibleInterface(id);
        if (candidate && candidate != bounded && candidate->object() == widget)
            innerId = id;
    }
    QVERIFY(innerId);

    QAccessible::deleteAccessibleInterface(innerId);
    QVERIFY(!bounded->isValid());
    QCOMPARE(bounded->object(), nullptr);
    QVERIFY(bounded->state().invalid);
    QCOMPARE(bounded->childCount(), 0);
    QCOMPARE(bounded->text(QAccessible::Name), QString());
    QCOMPARE(bounded->textInterface(), nullptr);
    QCOMPARE(bounded->tableInterface(), nullptr);
    QCOMPARE(bounded->actionInterface(), nullptr);
    bounded->setText(QAccessible::Value, QStringLiteral("typed"));
    // As the cache deletes it: its widget asked for first.
    QAccessible::deleteAccessibleInterface(boundedId);
    QCOMPARE(QAccessible::accessibleInterface(boundedId), nullptr);
}

QTEST_MAIN(tst_KavrelBoundedAccessible)
#include "tst_KavrelBoundedAccessible.moc"
