// History as a screen reader and the tools beside it reach it: a search written into the field
// through the accessibility bus (an on-screen keyboard, a dictation tool) runs as a typed one, and
// its clear button comes and goes with it; the detail sheet's sections are a list of page tabs a
// reader can press, and a switch of section, from the keyboard, is told as the tab now shown. Tab
// from the sections reaches each section's text, which the arrows read line by line, and leaves it.

#include "base/Async.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "history/widgets/KavrelHistoryDetailTabBar.h"
#include "history/widgets/KavrelHistorySearchField.h"
#include "history/widgets/KavrelHistoryView.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "support/AccessibilityBus.h"
#include "support/X11TestMain.h"

#include "HistoryTestClient.h"
#include "HistoryTestData.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <memory>

using namespace HistoryTestData;
using Call = std::shared_ptr<HistoryTestCall>;

namespace {

// What a client does to the search field's text.
using Edit = std::function<void(QAccessibleInterface *field)>;

} // namespace

Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(KavrelHistoryDetailTab)
Q_DECLARE_METATYPE(MeetingSessionHistoryDetail)

class tst_KavrelHistoryScreenReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { m_bus.reset(); }
    void init();
    void cleanup();
    void searchRunsOnAnEditFromTheBus_data();
    void searchRunsOnAnEditFromTheBus();
    void detailSectionsAreTabs();
    void switchingSectionsTellsTheOneShown_data();
    void switchingSectionsTellsTheOneShown();
    void sectionTextIsReadFromTheKeyboard_data();
    void sectionTextIsReadFromTheKeyboard();

private:
    void makeView();
    void openDetail(const MeetingSessionHistoryDetail &detail = record(QStringLiteral("m1"), QStringLiteral("Hello there.")));
    bool clearButtonShows() const;

    std::shared_ptr<HistoryTestClient> m_client;
    std::unique_ptr<QWidget> m_window;
    KavrelHistoryView *m_view = nullptr;
    std::unique_ptr<AccessibilityBus::Listener> m_bus;
};

void tst_KavrelHistoryScreenReader::initTestCase()
{
    KavrelAccessibleFactory::install();
}

void tst_KavrelHistoryScreenReader::init()
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    m_client = std::make_shared<HistoryTestClient>();
}

void tst_KavrelHistoryScreenReader::cleanup()
{
    m_window.reset();
    m_view = nullptr;
    for (const Call &call : m_client->calls) {
        if (!call->answered)
            call->fail(QStringLiteral("test over"));
    }
    m_client.reset();
}

void tst_KavrelHistoryScreenReader::makeView()
{
    m_window = std::make_unique<QWidget>();
    (new QVBoxLayout(m_window.get()))->setContentsMargins(0, 0, 0, 0);
    m_view = new KavrelHistoryView(m_client);
    m_view->viewModel()->setSearchDebounceInterval(std::chrono::milliseconds(5));
    m_window->layout()->addWidget(m_view);
    m_window->resize(1180, 900);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTRY_VERIFY(m_client->pending(QStringLiteral("fetchSessions")));
    m_client->pending(QStringLiteral("fetchSessions"))->answerPage(page({QStringLiteral("m1"), QStringLiteral("m2")}));
    QTRY_COMPARE(m_view->listView()->model()->rowCount(), 2);
}

void tst_KavrelHistoryScreenReader::openDetail(const MeetingSessionHistoryDetail &detail)
{
    KavrelHistoryViewModel *model = m_view->viewModel();
    spawnTask([model](CancellationToken) { return model->openSession(row(QStringLiteral("m1"))); });
    QTRY_VERIFY(m_view->detailSheet());
    QTRY_VERIFY(m_client->pending(QStringLiteral("fetchSessionDetail")));
    m_client->pending(QStringLiteral("fetchSessionDetail"))->answerDetail(detail);
    QTRY_VERIFY(m_view->detailSheet()->findChild<KavrelHistoryDetailTabBar *>());
    QTRY_VERIFY(!m_view->viewModel()->isLoadingDetail());
    QTest::qWait(50);
}

bool tst_KavrelHistoryScreenReader::clearButtonShows() const
{
    for (KavrelCapsuleButton *button : m_view->searchField()->findChildren<KavrelCapsuleButton *>()) {
        if (button->symbol() == QLatin1String("xmark.circle.fill"))
            return button->isVisibleTo(m_view);
    }
    return false;
}

void tst_KavrelHistoryScreenReader::searchRunsOnAnEditFromTheBus_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QString>("search");

    QTest::newRow("text set") << QString() << Edit([](QAccessibleInterface *field) {
        field->editableTextInterface()->replaceText(0, field->textInterface()->characterCount(), QStringLiteral("budget"));
    }) << QStringLiteral("budget");
    // The length a client gives is the text's in UTF-8 bytes; past the text, the bridge pads it.
    QTest::newRow("Cyrillic inserted with its length in bytes") << QString() << Edit([](QAccessibleInterface *field) {
        QString padded = QStringLiteral("встреча");
        padded.resize(14, QChar(0));
        field->editableTextInterface()->insertText(0, padded);
    }) << QStringLiteral("встреча");
    QTest::newRow("value set") << QString() << Edit([](QAccessibleInterface *field) {
        field->setText(QAccessible::Value, QStringLiteral("quarter"));
    }) << QStringLiteral("quarter");
    QTest::newRow("a word added") << QStringLiteral("budget") << Edit([](QAccessibleInterface *field) {
        field->editableTextInterface()->insertText(6, QStringLiteral(" review"));
    }) << QStringLiteral("budget review");
    QTest::newRow("all deleted") << QStringLiteral("budget") << Edit([](QAccessibleInterface *field) {
        field->editableTextInterface()->deleteText(0, 6);
    }) << QString();
}

void tst_KavrelHistoryScreenReader::searchRunsOnAnEditFromTheBus()
{
    QFETCH(QString, before);
    QFETCH(Edit, edit);
    QFETCH(QString, search);
    makeView();
    QLineEdit *field = m_view->searchField()->lineEdit();
    qsizetype fetches = m_client->callsOf(QStringLiteral("fetchSessions")).size();
    if (!before.isEmpty()) {
        QTest::keyClicks(field, before);
        ++fetches;
        QTRY_COMPARE(m_client->callsOf(QStringLiteral("fetchSessions")).size(), fetches);
        m_client->pending(QStringLiteral("fetchSessions"))->answerPage(page({QStringLiteral("m1")}));
        QTRY_VERIFY(clearButtonShows());
    }

    edit(QAccessible::queryAccessibleInterface(field));
    QCOMPARE(field->text(), search);
    QTRY_COMPARE(m_client->callsOf(QStringLiteral("fetchSessions")).size(), fetches + 1);
    const Call call = m_client->callsOf(QStringLiteral("fetchSessions")).last();
    QCOMPARE(call->query.searchQuery, search.isEmpty() ? std::nullopt : std::optional<QString>(search));
    call->answerPage(page({QStringLiteral("m1")}));
    QTRY_COMPARE(clearButtonShows(), !search.isEmpty());
    // Once: the field's own change is not heard as a second search.
    QTest::qWait(50);
    QCOMPARE(m_client->callsOf(QStringLiteral("fetchSessions")).size(), fetches + 1);
}

// The bar is a list of its sections as page tabs: named, the one shown selected, each pressed as a
// click on it; pressing the list shows the next one.
void tst_KavrelHistoryScreenReader::detailSectionsAreTabs()
{
    makeView();
    openDetail();
    auto *bar = m_view->detailSheet()->findChild<KavrelHistoryDetailTabBar *>();
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(bar);
    QCOMPARE(list->role(), QAccessible::PageTabList);
    QCOMPARE(list->childCount(), 3);
    const QStringList names{QStringLiteral("Transcribe"), QStringLiteral("Translate"), QStringLiteral("Summary")};
    for (int index = 0; index < 3; ++index) {
        QAccessibleInterface *tab = list->child(index);
        QVERIFY(tab && tab->isValid());
        QCOMPARE(tab->role(), QAccessible::PageTab);
        QCOMPARE(tab->text(QAccessible::Name), names.at(index));
        QCOMPARE(tab->textInterface()->text(0, tab->textInterface()->characterCount()), names.at(index));
        QCOMPARE(tab->parent(), list);
        QCOMPARE(list->indexOfChild(tab), index);
        QCOMPARE(tab->state().selected, index == 0);
        QVERIFY(bar->rect().translated(bar->mapToGlobal(QPoint(0, 0))).contains(tab->rect()));
    }
    QCOMPARE(list->child(3), nullptr);
    QCOMPARE(list->child(-1), nullptr);

    list->child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(m_view->viewModel()->selectedDetailTab(), KavrelHistoryDetailTab::translate);
    bar = m_view->detailSheet()->findChild<KavrelHistoryDetailTabBar *>();
    list = QAccessible::queryAccessibleInterface(bar);
    QTRY_VERIFY(list->child(1)->state().selected);
    QVERIFY(!list->child(0)->state().selected);
    QCOMPARE(list->text(QAccessible::Value), QStringLiteral("Translate"));

    list->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(m_view->viewModel()->selectedDetailTab(), KavrelHistoryDetailTab::summary);
    QTRY_COMPARE(m_view->detailSheet()->findChild<KavrelHistoryDetailTabBar *>()->selection(), KavrelHistoryDetailTab::summary);

    // With the keyboard on the bar, the tab shown is the one focused.
    bar = m_view->detailSheet()->findChild<KavrelHistoryDetailTabBar *>();
    m_view->detailSheet()->activateWindow();
    bar->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(bar->hasFocus());
    list = QAccessible::queryAccessibleInterface(bar);
    QCOMPARE(list->focusChild(), list->child(2));
    QVERIFY(list->child(2)->state().focused);
    QVERIFY(!list->child(0)->state().focused);
}

void tst_KavrelHistoryScreenReader::switchingSectionsTellsTheOneShown_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QStringList>("told");
    QTest::newRow("Right") << QList<int>{Qt::Key_Right} << QStringList{QStringLiteral("Translate")};
    QTest::newRow("Right, Right, Left")
        << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Left}
        << QStringList{QStringLiteral("Translate"), QStringLiteral("Summary"), QStringLiteral("Translate")};
    QTest::newRow("End, Home") << QList<int>{Qt::Key_End, Qt::Key_Home}
                               << QStringList{QStringLiteral("Summary"), QStringLiteral("Transcribe")};
    // Nothing to switch to: nothing told.
    QTest::newRow("Left at the first") << QList<int>{Qt::Key_Left} << QStringList();
}

void tst_KavrelHistoryScreenReader::switchingSectionsTellsTheOneShown()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts one");
    QFETCH(QList<int>, keys);
    QFETCH(QStringList, told);
    if (!m_bus) {
        m_bus = std::make_unique<AccessibilityBus::Listener>(true, true);
        if (QTest::currentTestFailed())
            return;
    }
    makeView();
    openDetail();
    KavrelHistoryDetailSheet *sheet = m_view->detailSheet();
    QVERIFY(QTest::qWaitForWindowActive(sheet));
    sheet->findChild<KavrelHistoryDetailTabBar *>()->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(sheet->findChild<KavrelHistoryDetailTabBar *>()->hasFocus());
    // The keyboard coming to the bar is told as the tab shown.
    QStringList heard;
    const auto hear = [&] {
        for (const AccessibilityBus::Event &event : m_bus->take()) {
            if (event.type == QAccessible::Focus && event.role == QAccessible::PageTab)
                heard.append(event.name);
        }
        return heard;
    };
    QTRY_COMPARE(hear(), QStringList{QStringLiteral("Transcribe")});
    heard.clear();

    // Keys as a user presses them, each once the one before has switched.
    for (const int key : keys) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QTest::qWait(150);
    }
    if (!told.isEmpty())
        QTRY_COMPARE(hear(), told);
    QTest::qWait(200);
    QCOMPARE(hear(), told);
    auto *bar = sheet->findChild<KavrelHistoryDetailTabBar *>();
    QVERIFY(bar->hasFocus());
    QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(bar)->focusChild();
    QVERIFY(shown && shown->state().focused && shown->state().selected);
    QCOMPARE(shown->text(QAccessible::Name), told.isEmpty() ? QStringLiteral("Transcribe") : told.last());
}

void tst_KavrelHistoryScreenReader::sectionTextIsReadFromTheKeyboard_data()
{
    QTest::addColumn<MeetingSessionHistoryDetail>("detail");
    QTest::addColumn<KavrelHistoryDetailTab>("tab");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("lines");
    MeetingSessionHistoryDetail blocks = record(QStringLiteral("m1"));
    MeetingSessionTranscriptBlock first;
    first.seq = 1;
    first.timestamp = QStringLiteral("09:00:01");
    first.speakerLabel = QStringLiteral("Ada");
    first.text = QStringLiteral("Hello there.");
    MeetingSessionTranscriptBlock second = first;
    second.seq = 2;
    second.timestamp = QStringLiteral("09:00:05");
    second.speakerLabel.reset();
    second.text = QStringLiteral("Second turn.");
    blocks.transcriptJson = QList<MeetingSessionTranscriptBlock>{first, second};
    MeetingSessionTranslationBlock translated;
    translated.seq = 1;
    translated.language = QStringLiteral("russian");
    translated.text = QStringLiteral("Привет.");
    MeetingSessionTranslationBlock translatedToo = translated;
    translatedToo.seq = 2;
    translatedToo.text = QStringLiteral("Второй ход.");
    blocks.translationJson = QList<MeetingSessionTranslationBlock>{translated, translatedToo};
    MeetingSessionHistoryDetail plain = record(QStringLiteral("m1"), QStringLiteral("Hello there."));
    plain.translationText = QStringLiteral("Первая строка\nВторая строка");
    plain.summaryText = QStringLiteral("First point.\nSecond point.");

    // A line a block: its pills, then its text.
    QTest::newRow("transcript's blocks") << blocks << KavrelHistoryDetailTab::transcribe << QStringLiteral("Transcript")
                                         << QStringList{QStringLiteral("09:00:01 · Ada: Hello there."),
                                                        QStringLiteral("09:00:05: Second turn.")};
    QTest::newRow("translation's blocks") << blocks << KavrelHistoryDetailTab::translate << QStringLiteral("Translation")
                                          << QStringList{QStringLiteral("Russian · #1: Привет."),
                                                         QStringLiteral("Russian · #2: Второй ход.")};
    QTest::newRow("translation's text") << plain << KavrelHistoryDetailTab::translate << QStringLiteral("Translation")
                                        << QStringList{QStringLiteral("Первая строка"), QStringLiteral("Вторая строка")};
    QTest::newRow("transcript's text") << plain << KavrelHistoryDetailTab::transcribe << QStringLiteral("Transcript")
                                       << QStringList{QStringLiteral("Hello there.")};
    QTest::newRow("summary") << plain << KavrelHistoryDetailTab::summary << QStringLiteral("Summary")
                             << QStringList{QStringLiteral("First point."), QStringLiteral("Second point.")};
}

// From the tab of a section, Tab passes the section's buttons and comes to its text, told as a
// focused read-only text named for the section; the arrows move its caret a line at a time, and
// Ctrl+End to its last line; Tab leaves it.
void tst_KavrelHistoryScreenReader::sectionTextIsReadFromTheKeyboard()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts one");
    QFETCH(MeetingSessionHistoryDetail, detail);
    QFETCH(KavrelHistoryDetailTab, tab);
    QFETCH(QString, name);
    QFETCH(QStringList, lines);
    if (!m_bus) {
        m_bus = std::make_unique<AccessibilityBus::Listener>(true, true);
        if (QTest::currentTestFailed())
            return;
    }
    makeView();
    openDetail(detail);
    KavrelHistoryDetailSheet *sheet = m_view->detailSheet();
    QVERIFY(QTest::qWaitForWindowActive(sheet));
    m_view->viewModel()->setSelectedDetailTab(tab);
    QTRY_COMPARE(sheet->findChild<KavrelHistoryDetailTabBar *>()->selection(), tab);
    sheet->findChild<KavrelHistoryDetailTabBar *>()->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(sheet->findChild<KavrelHistoryDetailTabBar *>()->hasFocus());
    QTest::qWait(50);
    m_bus->take();

    const auto readsAsText = [&name](QWidget *widget) {
        QAccessibleInterface *accessible = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
        return accessible && accessible->role() == QAccessible::EditableText && accessible->text(QAccessible::Name) == name;
    };
    QWidget *text = nullptr;
    for (int presses = 0; presses < 4 && !text; ++presses) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (readsAsText(QApplication::focusWidget()))
            text = QApplication::focusWidget();
    }
    QVERIFY2(text, qPrintable(QStringLiteral("Tab ends on %1").arg(QApplication::focusWidget()->metaObject()->className())));
    // The events told so far (a check inside QTRY_VERIFY runs more than once).
    QList<AccessibilityBus::Event> heard;
    const auto told = [&heard, this](QAccessible::Event type, QAccessible::Role role, const QString &name) {
        heard += m_bus->take();
        return std::ranges::any_of(heard, [&](const AccessibilityBus::Event &event) {
            return event.type == type && event.role == role && (name.isNull() || event.name == name);
        });
    };
    QTRY_VERIFY(told(QAccessible::Focus, QAccessible::EditableText, name));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(text);
    QVERIFY(accessible->state().focused && accessible->state().readOnly);
    QAccessibleTextInterface *read = accessible->textInterface();
    QCOMPARE(read->text(0, read->characterCount()), lines.join(QLatin1Char('\n')));
    const auto lineAtCaret = [read] {
        int start = 0;
        int end = 0;
        return read->textAtOffset(read->cursorPosition(), QAccessible::LineBoundary, &start, &end).trimmed();
    };
    QCOMPARE(lineAtCaret(), lines.first());

    // Down to each line, each move told; Up back; Ctrl+End to the last line, not past it.
    for (int line = 1; line < lines.size(); ++line) {
        heard.clear();
        QTest::keyClick(text, Qt::Key_Down);
        QCOMPARE(lineAtCaret(), lines.at(line));
        QVERIFY(told(QAccessible::TextCaretMoved, QAccessible::EditableText, name));
    }
    QTest::keyClick(text, Qt::Key_Up);
    QCOMPARE(lineAtCaret(), lines.size() > 1 ? lines.at(lines.size() - 2) : lines.first());
    QTest::keyClick(text, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(read->cursorPosition(), read->characterCount());
    QCOMPARE(lineAtCaret(), lines.last());
    QTest::keyClick(text, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(read->cursorPosition(), 0);

    QTest::keyClick(text, Qt::Key_Tab);
    QVERIFY(!text->hasFocus());
}

KAVREL_X11_TEST_MAIN(tst_KavrelHistoryScreenReader, "KAVREL_TEST_X11")
#include "tst_KavrelHistoryScreenReader.moc"
