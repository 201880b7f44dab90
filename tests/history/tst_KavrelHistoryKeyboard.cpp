// The history screen without a mouse, on the real X server with its window manager: the search
// field and the cards show where the keyboard is on the screen, in the light and the dark look;
// Tab goes from a card on to its Open and Delete, and Return or Space presses them; after a
// delete the keyboard is on the card that took the deleted one's place, and a card opened with
// Return hands it to the detail's first control. The key that asked, pressed again or held,
// deletes nothing and acts on nothing in the detail. A screen reader is told where Tab went, by
// name, and can press a card's Open and Delete as the keyboard does. Keys are typed into the window
// that has the keyboard, or sent through the X server where the window they reach is the point.

#include "HistoryTestClient.h"
#include "HistoryTestData.h"

#include "history/KavrelHistorySessionListModel.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "history/widgets/KavrelHistoryDetailTabBar.h"
#include "history/widgets/KavrelHistorySearchField.h"
#include "history/widgets/KavrelHistorySessionCardDelegate.h"
#include "history/widgets/KavrelHistoryView.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/KavrelPalette.h"
#include "localization/KavrelLocalizationStore.h"
#include "support/AccessibilityBus.h"
#include "support/AccessibleBounds.h"
#include "support/FocusRingCheck.h"
#include "support/Screenshots.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHash>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

using namespace HistoryTestData;
using Part = KavrelHistorySessionCardDelegate::Part;

namespace {

// For a failure message: what has the keyboard.
QByteArray describe(const QWidget *widget)
{
    if (!widget)
        return "nothing";
    const auto *button = qobject_cast<const QAbstractButton *>(widget);
    return QByteArray(widget->metaObject()->className()) + " " + (button ? button->text() : widget->objectName()).toUtf8();
}

void typeKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *window = QApplication::activeWindow();
    QVERIFY(window);
    QTest::keyClick(window->windowHandle(), key, modifiers);
}

} // namespace

class tst_KavrelHistoryKeyboard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void searchAndCardsShowTheKeyboard_data();
    void searchAndCardsShowTheKeyboard();
    void cardActionsFromTheKeyboard();
    void busyButtonsKeepTheKeyboard_data();
    void busyButtonsKeepTheKeyboard();
    void screenReaderHearsWhereTabWent();
    void screenReaderPressesCardButtons();
    void deleteQuestionKeepsTheMeetingFromAStrayKey_data();
    void deleteQuestionKeepsTheMeetingFromAStrayKey();
    void detailOpenedByAKeyTakesNoSecondPress_data();
    void detailOpenedByAKeyTakesNoSecondPress();

private:
    void makeView(KavrelColorScheme scheme, std::optional<QString> nextCursor = std::nullopt);
    void keysFromCardPart(int row, KavrelHistorySessionCardDelegate::Part part);
    std::shared_ptr<HistoryTestCall> pending(const QString &operation);

    std::shared_ptr<HistoryTestClient> m_client;
    std::unique_ptr<QWidget> m_window;
    KavrelHistoryView *m_view = nullptr;
};

void tst_KavrelHistoryKeyboard::init()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts one");
    m_client = std::make_shared<HistoryTestClient>();
}

void tst_KavrelHistoryKeyboard::cleanup()
{
    m_window.reset();
    m_view = nullptr;
    if (!m_client)
        return;
    for (const auto &call : m_client->calls) {
        if (!call->answered)
            call->fail(QStringLiteral("test over"));
    }
    m_client.reset();
}

void tst_KavrelHistoryKeyboard::makeView(KavrelColorScheme scheme, std::optional<QString> nextCursor)
{
    Screenshots::applyProgramPalette({scheme, KavrelAppLanguage::russian, QString()});
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    m_window = std::make_unique<QWidget>();
    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new KavrelHistoryView(m_client);
    layout->addWidget(m_view);
    m_window->resize(1100, 700);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    pending(QStringLiteral("fetchSessions"))
        ->answerPage(page({QStringLiteral("m1"), QStringLiteral("m2"), QStringLiteral("m3")}, nextCursor));
    m_view->refresh();
    QTRY_COMPARE(m_view->listView()->model()->rowCount(), 3);
    QTest::qWait(200);
}

std::shared_ptr<HistoryTestCall> tst_KavrelHistoryKeyboard::pending(const QString &operation)
{
    std::shared_ptr<HistoryTestCall> call;
    (void)QTest::qWaitFor([&] { return bool(call = m_client->pending(operation)); }, 3000);
    if (!call)
        qFatal("no pending %s call", qPrintable(operation));
    return call;
}

void tst_KavrelHistoryKeyboard::searchAndCardsShowTheKeyboard_data()
{
    QTest::addColumn<int>("scheme");
    QTest::newRow("light") << int(KavrelColorScheme::light);
    QTest::newRow("dark") << int(KavrelColorScheme::dark);
}

// The search field shows the keyboard by more than its caret, the card by its ring, and the
// card's Open and Delete by theirs.
void tst_KavrelHistoryKeyboard::searchAndCardsShowTheKeyboard()
{
    QFETCH(int, scheme);
    makeView(KavrelColorScheme(scheme));
    if (QTest::currentTestFailed())
        return;
    QWidget *window = m_window.get();
    KavrelHistorySearchField *search = m_view->searchField();
    QListView *list = m_view->listView();

    // The field, before and after it takes the keyboard (the caret alone does not count: the
    // ring must be there whether the caret blinks on or off).
    list->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(list->hasFocus());
    QTest::qWait(100);
    const QRect field(search->mapTo(window, QPoint(0, 0)), search->size());
    const QImage fieldBefore = FocusRingCheck::grab(window, field);
    search->lineEdit()->setFocus(Qt::OtherFocusReason);
    const QString fieldProblem = FocusRingCheck::waitForRing(window, field, fieldBefore);
    QVERIFY2(fieldProblem.isEmpty(), qPrintable(QStringLiteral("search field: ") + fieldProblem));

    // Tab from the field to the list: the first card wears the ring.
    const QRect card(list->viewport()->mapTo(window, list->visualRect(list->model()->index(0, 0)).topLeft()),
                     list->visualRect(list->model()->index(0, 0)).size());
    const QImage cardBefore = FocusRingCheck::grab(window, card);
    for (int press = 0; press < 4 && !list->hasFocus(); ++press)
        typeKey(Qt::Key_Tab);
    QTRY_VERIFY(list->hasFocus());
    QCOMPARE(list->currentIndex().row(), 0);
    const QString cardProblem = FocusRingCheck::waitForRing(window, card, cardBefore);
    QVERIFY2(cardProblem.isEmpty(), qPrintable(QStringLiteral("card: ") + cardProblem));

    // Tab goes on to Open, then Delete: each wears the ring, measured on the button alone.
    auto *delegate = qobject_cast<KavrelHistorySessionCardDelegate *>(list->itemDelegate());
    const QRect cardInList = list->visualRect(list->model()->index(0, 0));
    // Where the buttons lie, probed every other pixel (a pixel's slack round each is no matter).
    QHash<int, QRect> buttons;
    for (int y = cardInList.top(); y <= cardInList.bottom(); y += 2) {
        for (int x = cardInList.left(); x <= cardInList.right(); x += 2)
            buttons[int(delegate->partAt(cardInList, QPoint(x, y)))] |= QRect(x - 1, y - 1, 3, 3);
    }
    for (const Part part : {Part::open, Part::remove}) {
        QRect button = buttons.value(int(part));
        QVERIFY(!button.isEmpty());
        button.translate(card.topLeft() - cardInList.topLeft());
        typeKey(Qt::Key_Tab);
        QCOMPARE(delegate->keyboardPart(), part);
        QVERIFY(list->hasFocus());
        const QImage buttonBefore = cardBefore.copy(button.translated(-card.topLeft()));
        const QString problem = FocusRingCheck::waitForRing(window, button, buttonBefore);
        QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("part %1: %2").arg(int(part)).arg(problem)));
        // The window as it shows the button's ring, for review by eye.
        const QDir folder(QDir(Screenshots::directory()).filePath(QStringLiteral("focus")));
        folder.mkpath(QStringLiteral("."));
        FocusRingCheck::grab(window, window->rect())
            .save(folder.filePath(QStringLiteral("history-%1-%2.png")
                                      .arg(part == Part::open ? QStringLiteral("open") : QStringLiteral("delete"),
                                           scheme == int(KavrelColorScheme::dark) ? QStringLiteral("dark-ru") : QStringLiteral("light-ru"))));
    }
}

void tst_KavrelHistoryKeyboard::cardActionsFromTheKeyboard()
{
    makeView(KavrelColorScheme::light);
    if (QTest::currentTestFailed())
        return;
    QListView *list = m_view->listView();
    auto *delegate = qobject_cast<KavrelHistorySessionCardDelegate *>(list->itemDelegate());
    m_view->searchField()->lineEdit()->setFocus(Qt::TabFocusReason);
    for (int press = 0; press < 4 && !list->hasFocus(); ++press)
        typeKey(Qt::Key_Tab);
    QTRY_VERIFY(list->hasFocus());

    // Tab leaves the list after the card's Delete; Shift+Tab comes back to that last stop.
    typeKey(Qt::Key_Tab);
    typeKey(Qt::Key_Tab);
    QCOMPARE(delegate->keyboardPart(), Part::remove);
    typeKey(Qt::Key_Tab);
    QTRY_VERIFY(!list->hasFocus());
    typeKey(Qt::Key_Backtab);
    QTRY_VERIFY(list->hasFocus());
    QCOMPARE(delegate->keyboardPart(), Part::remove);
    // Up and down go between cards, on the card itself.
    typeKey(Qt::Key_Down);
    QCOMPARE(list->currentIndex().row(), 1);
    QCOMPARE(delegate->keyboardPart(), Part::none);

    // Space on Delete asks; confirming removes the card, and the keyboard is on the card that
    // took its place.
    typeKey(Qt::Key_Tab);
    typeKey(Qt::Key_Tab);
    QCOMPARE(delegate->keyboardPart(), Part::remove);
    typeKey(Qt::Key_Space);
    QTRY_VERIFY(m_view->deleteConfirmation() && m_view->deleteConfirmation()->isVisible());
    QCOMPARE(m_view->pendingDeleteSession()->id, QStringLiteral("m2"));
    QTRY_COMPARE(QApplication::activeWindow(), m_view->deleteConfirmation());
    for (QAbstractButton *button : m_view->deleteConfirmation()->buttons()) {
        if (m_view->deleteConfirmation()->buttonRole(button) == QMessageBox::DestructiveRole)
            button->click();
    }
    pending(QStringLiteral("deleteSession"))->answer();
    QTRY_COMPARE(list->model()->rowCount(), 2);
    QTRY_COMPARE(QApplication::activeWindow(), m_window.get());
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(list));
    QCOMPARE(list->currentIndex().data(KavrelHistorySessionListModel::idRole).toString(), QStringLiteral("m3"));

    // Tab to Open and Return: the detail opens with the keyboard on its first control.
    typeKey(Qt::Key_Tab);
    QCOMPARE(delegate->keyboardPart(), Part::open);
    typeKey(Qt::Key_Return);
    QCOMPARE(pending(QStringLiteral("fetchSessionDetail"))->id, QStringLiteral("m3"));
    QTRY_VERIFY(m_view->detailSheet() && m_view->detailSheet()->isVisible());
    KavrelHistoryDetailSheet *sheet = m_view->detailSheet();
    pending(QStringLiteral("fetchSessionDetail"))->answerDetail(record(QStringLiteral("m3"), QStringLiteral("Hello")));
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(sheet));
    QTRY_VERIFY(sheet->findChild<KavrelHistoryDetailTabBar *>());
    QTRY_VERIFY2(QApplication::focusWidget() == sheet->findChild<KavrelHistoryDetailTabBar *>(),
                 QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");
    sheet->reject();
}

void tst_KavrelHistoryKeyboard::busyButtonsKeepTheKeyboard_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Load more") << "Load more";
    QTest::newRow("Summarize in a meeting") << "Summarize";
}

// A button pressed from the keyboard is made anew as its work starts and again as it ends: the
// keyboard stays with the button of the same name, which waits meanwhile and ignores Space.
void tst_KavrelHistoryKeyboard::busyButtonsKeepTheKeyboard()
{
    QFETCH(QString, button);
    makeView(KavrelColorScheme::light, QStringLiteral("page-2"));
    if (QTest::currentTestFailed())
        return;
    const auto named = [](QWidget *within, const QString &key) {
        const QString text = KavrelLocalizationStore::shared().localized(key);
        for (auto *candidate : within->findChildren<KavrelCapsuleButton *>()) {
            if (candidate->text() == text && candidate->isVisible())
                return candidate;
        }
        return static_cast<KavrelCapsuleButton *>(nullptr);
    };
    const auto keyboardOnBusy = [](const QString &key) {
        auto *focused = qobject_cast<KavrelCapsuleButton *>(QApplication::focusWidget());
        return focused && focused->text() == KavrelLocalizationStore::shared().localized(key) && focused->isBusy()
               && KavrelFocusHold::isHeld(focused);
    };

    if (button == QLatin1String("Load more")) {
        KavrelCapsuleButton *loadMore = nullptr;
        QTRY_VERIFY((loadMore = named(m_view, QStringLiteral("Load more"))));
        loadMore->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(loadMore));
        typeKey(Qt::Key_Space);
        std::shared_ptr<HistoryTestCall> call = pending(QStringLiteral("fetchSessions"));
        QTRY_VERIFY2(keyboardOnBusy(QStringLiteral("Loading more…")), describe(QApplication::focusWidget()).constData());
        typeKey(Qt::Key_Space);
        QCOMPARE(m_client->callsOf(QStringLiteral("fetchSessions")).size(), 2);
        call->answerPage(page({QStringLiteral("m4")}, QStringLiteral("page-3")));
        QTRY_COMPARE(m_view->listView()->model()->rowCount(), 4);
        QTRY_VERIFY((loadMore = named(m_view, QStringLiteral("Load more"))));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(loadMore));
        QVERIFY(KavrelFocusHold::looksAvailable(loadMore));
        // The last page: the button goes, the keyboard goes to the list.
        typeKey(Qt::Key_Space);
        pending(QStringLiteral("fetchSessions"))->answerPage(page({QStringLiteral("m5")}));
        QTRY_COMPARE(m_view->listView()->model()->rowCount(), 5);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(m_view->listView()));
        return;
    }

    QListView *list = m_view->listView();
    list->setCurrentIndex(list->model()->index(0, 0));
    list->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(list->hasFocus());
    typeKey(Qt::Key_Tab);
    typeKey(Qt::Key_Return);
    QTRY_VERIFY(m_view->detailSheet() && m_view->detailSheet()->isVisible());
    KavrelHistoryDetailSheet *sheet = m_view->detailSheet();
    pending(QStringLiteral("fetchSessionDetail"))->answerDetail(record(QStringLiteral("m1"), QStringLiteral("Hello there")));
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(sheet));
    KavrelCapsuleButton *summarize = nullptr;
    QTRY_VERIFY((summarize = named(sheet, QStringLiteral("Summarize"))) && summarize->isEnabled());
    summarize->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(summarize));
    typeKey(Qt::Key_Space);
    std::shared_ptr<HistoryTestCall> call = pending(QStringLiteral("summarize"));
    QTRY_VERIFY2(keyboardOnBusy(QStringLiteral("Summarize")), describe(QApplication::focusWidget()).constData());
    typeKey(Qt::Key_Space);
    QCOMPARE(m_client->callsOf(QStringLiteral("summarize")).size(), 1);
    call->answerSummary(QStringLiteral("A short summary."));
    // The summary is kept with the meeting before the work is over.
    std::shared_ptr<HistoryTestCall> keeping;
    QTRY_VERIFY((keeping = m_client->pending(QStringLiteral("updateSession"))));
    keeping->answer();
    // Made anew as the summary arrives, the button still has the keyboard.
    QTest::qWait(200);
    QTRY_VERIFY2(QApplication::focusWidget() && QApplication::focusWidget()->objectName() == QLatin1String("Summarize"),
                 describe(QApplication::focusWidget()).constData());
    QCOMPARE(m_client->callsOf(QStringLiteral("summarize")).size(), 1);
    sheet->reject();
}

// Each Tab stop of a card is told to a screen reader as the focus, by its name; the card holds
// its Open and Delete as named children, and the one the keyboard is on reads as focused.
void tst_KavrelHistoryKeyboard::screenReaderHearsWhereTabWent()
{
    AccessibilityBus::Listener reader;
    if (QTest::currentTestFailed())
        return;
    makeView(KavrelColorScheme::light);
    if (QTest::currentTestFailed())
        return;
    QListView *list = m_view->listView();
    QAccessibleInterface *cards = QAccessible::queryAccessibleInterface(list);
    QCOMPARE(cards->role(), QAccessible::List);
    QCOMPARE(cards->childCount(), 3);
    QAccessibleInterface *first = cards->child(0);
    QCOMPARE(first->role(), QAccessible::ListItem);
    QCOMPARE(first->text(QAccessible::Name), QStringLiteral("Meeting m1"));
    QCOMPARE(first->childCount(), 2);
    QCOMPARE(first->child(0)->text(QAccessible::Name), QStringLiteral("Открыть"));
    QCOMPARE(first->child(1)->text(QAccessible::Name), QStringLiteral("Удалить"));
    QCOMPARE(first->child(1)->parent(), first);
    QCOMPARE(first->indexOfChild(first->child(1)), 1);
    QCOMPARE(cards->indexOfChild(first), 0);
    QVERIFY(first->rect().contains(first->child(0)->rect()));
    QCOMPARE(cards->childAt(first->child(1)->rect().center().x(), first->child(1)->rect().center().y()), first);
    QCOMPARE(first->childAt(first->child(1)->rect().center().x(), first->child(1)->rect().center().y()), first->child(1));

    m_view->searchField()->lineEdit()->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(m_view->searchField()->lineEdit()->hasFocus());
    reader.take();
    struct Stop
    {
        Qt::Key key;
        QAccessible::Role role;
        QString name;
        QString holder;
    };
    const Stop stops[] = {
        {Qt::Key_Tab, QAccessible::ListItem, QStringLiteral("Meeting m1"), QStringLiteral("История")},
        {Qt::Key_Tab, QAccessible::Button, QStringLiteral("Открыть"), QStringLiteral("Meeting m1")},
        {Qt::Key_Tab, QAccessible::Button, QStringLiteral("Удалить"), QStringLiteral("Meeting m1")},
        {Qt::Key_Backtab, QAccessible::Button, QStringLiteral("Открыть"), QStringLiteral("Meeting m1")},
        {Qt::Key_Backtab, QAccessible::ListItem, QStringLiteral("Meeting m1"), QStringLiteral("История")},
        {Qt::Key_Down, QAccessible::ListItem, QStringLiteral("Meeting m2"), QStringLiteral("История")},
        {Qt::Key_Tab, QAccessible::Button, QStringLiteral("Открыть"), QStringLiteral("Meeting m2")},
    };
    for (const Stop &stop : stops) {
        typeKey(stop.key);
        QList<AccessibilityBus::Event> focus;
        QTRY_VERIFY2([&] {
            for (const AccessibilityBus::Event &event : reader.take()) {
                if (event.type == QAccessible::Focus)
                    focus.append(event);
            }
            return !focus.isEmpty() && focus.last().name == stop.name;
        }(), qPrintable(stop.name));
        const AccessibilityBus::Event &heard = focus.last();
        QCOMPARE(heard.role, stop.role);
        QCOMPARE(heard.parentName, stop.holder);
        QAccessibleInterface *focused = QAccessible::accessibleInterface(heard.id);
        QVERIFY(focused && focused->state().focused);
        QCOMPARE(cards->focusChild(), focused);
    }
    const QStringList faults = AccessibleBounds::walk({cards});
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

// A card's Open and Delete, pressed through the accessibility tree, do what a click does; a card
// that is opening takes neither. A card a reader still holds after its meeting went is no card.
void tst_KavrelHistoryKeyboard::screenReaderPressesCardButtons()
{
    makeView(KavrelColorScheme::light);
    if (QTest::currentTestFailed())
        return;
    QAccessibleInterface *cards = QAccessible::queryAccessibleInterface(m_view->listView());
    QAccessibleInterface *second = cards->child(1);
    QAccessibleActionInterface *remove = second->child(1)->actionInterface();
    QCOMPARE(remove->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    remove->doAction(QAccessibleActionInterface::pressAction());
    QTRY_VERIFY(m_view->deleteConfirmation() && m_view->deleteConfirmation()->isVisible());
    QCOMPARE(m_view->pendingDeleteSession()->id, QStringLiteral("m2"));
    m_view->deleteConfirmation()->reject();

    second->child(0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    const std::shared_ptr<HistoryTestCall> detail = pending(QStringLiteral("fetchSessionDetail"));
    QCOMPARE(detail->id, QStringLiteral("m2"));
    QTRY_VERIFY(second->child(0)->state().disabled);
    QVERIFY(second->child(1)->state().disabled);
    second->child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTest::qWait(100);
    QVERIFY(!m_view->deleteConfirmation() || !m_view->deleteConfirmation()->isVisible());
    detail->answerDetail(record(QStringLiteral("m2"), QStringLiteral("Hello")));
    QTRY_VERIFY(m_view->detailSheet() && m_view->detailSheet()->isVisible());
    m_view->detailSheet()->reject();
    QTRY_VERIFY(!m_view->detailSheet() || !m_view->detailSheet()->isVisible());

    const QAccessible::Id gone = QAccessible::uniqueId(cards->child(2));
    const QAccessible::Id goneButton = QAccessible::uniqueId(cards->child(2)->child(1));
    cards->child(2)->child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_VERIFY(m_view->deleteConfirmation() && m_view->deleteConfirmation()->isVisible());
    for (QAbstractButton *button : m_view->deleteConfirmation()->buttons()) {
        if (m_view->deleteConfirmation()->buttonRole(button) == QMessageBox::DestructiveRole)
            button->click();
    }
    pending(QStringLiteral("deleteSession"))->answer();
    QTRY_COMPARE(cards->childCount(), 2);
    for (const QAccessible::Id id : {gone, goneButton}) {
        QAccessibleInterface *part = QAccessible::accessibleInterface(id);
        QVERIFY(!part || !part->isValid());
        if (part) {
            QCOMPARE(part->childCount(), 0);
            QCOMPARE(part->child(0), nullptr);
            QCOMPARE(part->parent(), nullptr);
            QVERIFY(part->text(QAccessible::Name).isEmpty());
            part->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        }
    }
    QCOMPARE(cards->child(2), nullptr);
    QCOMPARE(cards->child(1)->text(QAccessible::Name), QStringLiteral("Meeting m2"));
}

// The view with the keyboard on a card's part, put there as Tab does, and the row's keys sent
// from there through the X server.
void tst_KavrelHistoryKeyboard::keysFromCardPart(int row, Part part)
{
    QFETCH(QStringList, keys);
    QFETCH(int, apartMs);
    QFETCH(int, heldMs);
    makeView(KavrelColorScheme::light);
    if (QTest::currentTestFailed())
        return;
    QListView *list = m_view->listView();
    auto *delegate = qobject_cast<KavrelHistorySessionCardDelegate *>(list->itemDelegate());
    list->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(list->hasFocus());
    list->setCurrentIndex(list->model()->index(row, 0));
    for (int press = 0; press < 3 && delegate->keyboardPart() != part; ++press)
        typeKey(Qt::Key_Tab);
    QCOMPARE(delegate->keyboardPart(), part);
    QVERIFY(list->hasFocus());
    if (heldMs > 0)
        QVERIFY(X11TestInput::holdKey(keys.first(), heldMs));
    else
        QVERIFY(X11TestInput::keys(keys, apartMs));
}

void tst_KavrelHistoryKeyboard::deleteQuestionKeepsTheMeetingFromAStrayKey_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("apartMs");
    QTest::addColumn<int>("heldMs");
    const QString space = QStringLiteral("space");
    const QString enter = QStringLiteral("Return");
    QTest::newRow("Space, Space 40 ms apart") << QStringList{space, space} << 40 << 0;
    QTest::newRow("Space, Space 1.5 s apart") << QStringList{space, space} << 1500 << 0;
    QTest::newRow("Return, Return at once") << QStringList{enter, enter} << 0 << 0;
    QTest::newRow("Space, then Return 300 ms later") << QStringList{space, enter} << 300 << 0;
    QTest::newRow("the Delete key, then Space") << QStringList{QStringLiteral("Delete"), space} << 120 << 0;
    QTest::newRow("Return, then Escape") << QStringList{enter, QStringLiteral("Escape")} << 300 << 0;
    QTest::newRow("Return held") << QStringList{enter} << 0 << 900;
}

// The question "Удалить сессию?" opened from a card's Delete by a key opens with the keyboard on
// "Отмена": the same key again, or Escape, keeps the meeting, and the keyboard is back on the
// card's Delete. Deleting takes a move of its own to "Удалить" in the question.
void tst_KavrelHistoryKeyboard::deleteQuestionKeepsTheMeetingFromAStrayKey()
{
    keysFromCardPart(1, Part::remove);
    if (QTest::currentTestFailed())
        return;
    QListView *list = m_view->listView();
    auto *delegate = qobject_cast<KavrelHistorySessionCardDelegate *>(list->itemDelegate());
    QTest::qWait(500);
    QVERIFY(m_client->callsOf(QStringLiteral("deleteSession")).isEmpty());
    // A held key may leave the question open: it waits on "Отмена", and Escape answers it.
    if (QMessageBox *question = m_view->deleteConfirmation(); question && question->isVisible()) {
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(question));
        auto *focused = qobject_cast<QAbstractButton *>(QApplication::focusWidget());
        QVERIFY2(focused && question->buttonRole(focused) == QMessageBox::RejectRole, describe(focused).constData());
        QVERIFY(X11TestInput::keys({QStringLiteral("Escape")}));
    }
    QTRY_VERIFY(!m_view->deleteConfirmation() || !m_view->deleteConfirmation()->isVisible());
    QTRY_COMPARE(QApplication::activeWindow(), m_window.get());
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(list));
    QCOMPARE(delegate->keyboardPart(), Part::remove);
    QCOMPARE(list->currentIndex().row(), 1);
    QVERIFY(m_client->callsOf(QStringLiteral("deleteSession")).isEmpty());
    QCOMPARE(list->model()->rowCount(), 3);

    // Asked again, the move to "Удалить" and a press there delete the meeting.
    QVERIFY(X11TestInput::keys({QStringLiteral("space")}));
    QTRY_VERIFY(m_view->deleteConfirmation() && m_view->deleteConfirmation()->isVisible());
    QMessageBox *question = m_view->deleteConfirmation();
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(question));
    QAbstractButton *remove = nullptr;
    for (QAbstractButton *button : question->buttons()) {
        if (question->buttonRole(button) == QMessageBox::DestructiveRole)
            remove = button;
    }
    QVERIFY(remove);
    QVERIFY(QApplication::focusWidget() != remove);
    QVERIFY(X11TestInput::keys({QStringLiteral("Tab")}));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(remove));
    QVERIFY(X11TestInput::keys({QStringLiteral("space")}));
    const std::shared_ptr<HistoryTestCall> call = pending(QStringLiteral("deleteSession"));
    QCOMPARE(call->id, QStringLiteral("m2"));
    call->answer();
    QTRY_COMPARE(list->model()->rowCount(), 2);
}

void tst_KavrelHistoryKeyboard::detailOpenedByAKeyTakesNoSecondPress_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("apartMs");
    QTest::addColumn<int>("heldMs");
    const QString space = QStringLiteral("space");
    const QString enter = QStringLiteral("Return");
    QTest::newRow("Space, Space at once") << QStringList{space, space} << 0 << 0;
    QTest::newRow("Return, Return 120 ms apart") << QStringList{enter, enter} << 120 << 0;
    QTest::newRow("Return, Space 300 ms apart") << QStringList{enter, space} << 300 << 0;
    QTest::newRow("Return held") << QStringList{enter} << 0 << 900;
}

// A card's Open pressed from the keyboard opens the meeting with the keyboard on a control that
// a press does not act through: the same key again leaves the meeting open on the tab it showed,
// summarizes nothing and opens nothing more.
void tst_KavrelHistoryKeyboard::detailOpenedByAKeyTakesNoSecondPress()
{
    // The meeting arrives while the keys are still coming.
    QTimer answering;
    connect(&answering, &QTimer::timeout, this, [this] {
        if (m_client) {
            if (const std::shared_ptr<HistoryTestCall> detail = m_client->pending(QStringLiteral("fetchSessionDetail")))
                detail->answerDetail(record(QStringLiteral("m3"), QStringLiteral("Hello")));
        }
    });
    answering.start(30);
    keysFromCardPart(2, Part::open);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY(m_view->detailSheet() && m_view->detailSheet()->isVisible());
    KavrelHistoryDetailSheet *sheet = m_view->detailSheet();
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(sheet));
    auto *tabs = sheet->findChild<KavrelHistoryDetailTabBar *>();
    QTRY_VERIFY((tabs = sheet->findChild<KavrelHistoryDetailTabBar *>()));
    QTRY_VERIFY2(QApplication::focusWidget() == tabs, describe(QApplication::focusWidget()).constData());
    QTest::qWait(500);
    QVERIFY(sheet->isVisible());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(tabs));
    QCOMPARE(tabs->selection(), KavrelHistoryDetailTab::transcribe);
    QCOMPARE(m_client->callsOf(QStringLiteral("fetchSessionDetail")).size(), 1);
    QVERIFY(m_client->callsOf(QStringLiteral("summarize")).isEmpty());
    // The next key a user means: the arrow goes to the next tab.
    QVERIFY(X11TestInput::keys({QStringLiteral("Right")}));
    QTRY_VERIFY(tabs->selection() != KavrelHistoryDetailTab::transcribe);
    sheet->reject();
}

KAVREL_X11_TEST_MAIN(tst_KavrelHistoryKeyboard, "KAVREL_TEST_X11")

#include "tst_KavrelHistoryKeyboard.moc"
