// The history list and detail sheet over a scripted client: which card, footer and tab
// each state shows, the actions wired to the view model, and screenshots of every state.

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelPill.h"
#include "kit/widgets/KavrelSymbols.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "history/widgets/KavrelHistoryDetailTabBar.h"
#include "history/widgets/KavrelHistorySearchField.h"
#include "history/widgets/KavrelHistorySessionCardDelegate.h"
#include "history/widgets/KavrelHistoryStyle.h"
#include "history/widgets/KavrelHistoryView.h"
#include "support/ScreenFitCheck.h"
#include "support/Screenshots.h"

#include "HistoryTestClient.h"
#include "HistoryTestData.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using namespace HistoryTestData;
using Call = std::shared_ptr<HistoryTestCall>;

namespace {

// Stands in for the workspace shell behind the history section.
class Backdrop final : public QWidget
{
public:
    Backdrop()
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QPainterPath area;
        area.addRect(QRectF(rect()));
        KavrelPainting::fillGradient(painter, area, KavrelHistoryTheme::backgroundTop.resolve(palette()),
                                     KavrelHistoryTheme::backgroundBottom.resolve(palette()));
    }
};

MeetingSessionHistoryListPage meetings(int first, int count, std::optional<QString> cursor)
{
    MeetingSessionHistoryListPage page;
    for (int i = first; i < first + count; ++i) {
        MeetingSessionHistoryListItem item = row(QStringLiteral("m%1").arg(i));
        item.title = i % 3 == 0 ? QStringLiteral("Quarterly budget review with the finance team %1").arg(i)
                                : QStringLiteral("Weekly sync %1").arg(i);
        item.previewText = QStringLiteral("We went through the open items, agreed on the release date and "
                                          "assigned the follow-up notes to the owners of each area.");
        // Every other preview runs longer than the card's two lines.
        if (i % 2 == 0)
            item.previewText = *item.previewText + QStringLiteral(" Then we walked through the support queue, the hiring "
                                                                  "plan and the budget for the spring conference.");
        item.durationSeconds = 95 + i * 611;
        item.inputLanguage = QStringLiteral("en");
        item.translationLanguage = QStringLiteral("de");
        item.translationEnabled = i % 2 == 0;
        item.recordingEnabled = i % 4 == 0;
        item.hasSummary = i % 3 == 0;
        item.hasProtocol = i % 5 == 0;
        item.wordCount = 120 * i;
        item.lineCount = 9 + i;
        page.items.append(item);
    }
    page.nextCursor = cursor;
    return page;
}

MeetingSessionHistoryDetail fullRecord()
{
    MeetingSessionHistoryDetail detail = record(QStringLiteral("m3"));
    detail.title = QStringLiteral("Quarterly budget review with the finance team 3");
    detail.durationSeconds = 3725;
    detail.wordCount = 360;
    detail.lineCount = 12;
    detail.processedByApp = QStringLiteral("linux");
    detail.microphoneLabel = QStringLiteral("USB Microphone");
    MeetingSessionHistorySessionParams params;
    params.source = QStringLiteral("system_audio+microphone");
    detail.sessionParams = params;
    detail.inputLanguage = QStringLiteral("en");
    detail.translationLanguage = QStringLiteral("german");
    detail.translationEnabled = true;
    QList<MeetingSessionTranscriptBlock> blocks;
    QList<MeetingSessionTranslationBlock> translations;
    const QStringList lines{QStringLiteral("Let's go over the budget for the next quarter."),
                            QStringLiteral("Marketing asks for ten percent more; <b>not bold</b> stays as typed."),
                            QStringLiteral("Agreed. We decide on Friday and send the notes to everyone.")};
    for (int i = 0; i < lines.size(); ++i) {
        MeetingSessionTranscriptBlock block;
        block.id = QStringLiteral("turn-%1").arg(i + 1);
        block.seq = i + 1;
        block.timestamp = QStringLiteral("09:27:%1").arg(10 * i, 2, 10, QLatin1Char('0'));
        block.speakerLabel = i == 1 ? std::optional<QString>(QStringLiteral(" Speaker 2 ")) : std::nullopt;
        block.text = lines.at(i);
        blocks.append(block);
        MeetingSessionTranslationBlock translation;
        translation.transcriptBlockId = block.id;
        translation.seq = i + 1;
        translation.language = QStringLiteral("german");
        translation.text = QStringLiteral("Übersetzung der Zeile %1.").arg(i + 1);
        translations.append(translation);
    }
    detail.transcriptJson = blocks;
    detail.translationJson = translations;
    detail.protocolText = QStringLiteral("1. Budget: decision on Friday.\n2. Notes: sent to everyone.");
    return detail;
}

QStringList labelTexts(QWidget *root)
{
    QStringList texts;
    for (QLabel *label : root->findChildren<QLabel *>()) {
        if (label->isVisibleTo(root))
            texts.append(label->text());
    }
    return texts;
}

QStringList buttonTexts(QWidget *root)
{
    QStringList texts;
    for (QAbstractButton *button : root->findChildren<QAbstractButton *>()) {
        if (button->isVisibleTo(root))
            texts.append(button->text());
    }
    return texts;
}

KavrelCapsuleButton *buttonNamed(QWidget *root, const QString &text)
{
    for (KavrelCapsuleButton *button : root->findChildren<KavrelCapsuleButton *>()) {
        if (button->text() == text && button->isVisibleTo(root))
            return button;
    }
    return nullptr;
}

} // namespace

class tst_KavrelHistoryScreens : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void listStatesAndPaging();
    void cardsOpenAndConfirmDeletion();
    void detailSheetTabsAndActions();
    void keyboardBrowsing();
    void previewCutAfterTwoLines_data();
    void previewCutAfterTwoLines();
    void screenshots();

private:
    void makeView();
    Call pending(const QString &operation);
    void settle();

    std::shared_ptr<HistoryTestClient> m_client;
    std::unique_ptr<Backdrop> m_backdrop;
    KavrelHistoryView *m_view = nullptr;
};

void tst_KavrelHistoryScreens::initTestCase()
{
    KavrelSymbols::setUsesIconTheme(false);
}

void tst_KavrelHistoryScreens::init()
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    m_client = std::make_shared<HistoryTestClient>();
}

void tst_KavrelHistoryScreens::cleanup()
{
    m_backdrop.reset();
    m_view = nullptr;
    if (!m_client)
        return;
    for (const Call &call : m_client->calls) {
        if (!call->answered)
            call->fail(QStringLiteral("test over"));
    }
    m_client.reset();
}

void tst_KavrelHistoryScreens::makeView()
{
    m_backdrop = std::make_unique<Backdrop>();
    m_view = new KavrelHistoryView(m_client);
    m_view->viewModel()->setSearchDebounceInterval(std::chrono::milliseconds(5));
    m_backdrop->layout()->addWidget(m_view);
    ScreenFitCheck::resizeWindow(m_backdrop.get(), QSize(1180, 900));
    m_backdrop->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_backdrop.get()));
}

Call tst_KavrelHistoryScreens::pending(const QString &operation)
{
    Call call = m_client->pending(operation);
    if (!call)
        qFatal("no pending %s call", qPrintable(operation));
    return call;
}

void tst_KavrelHistoryScreens::settle()
{
    m_view->refresh();
    if (m_view->detailSheet())
        m_view->detailSheet()->refresh();
    // A long block list measures and builds once its scroll area has shown or hidden its bar,
    // a few turns of the event loop later.
    for (int turn = 0; turn < 4; ++turn)
        QCoreApplication::processEvents();
}

void tst_KavrelHistoryScreens::listStatesAndPaging()
{
    makeView();
    // The first showing loads once.
    QCOMPARE(m_client->callsOf("fetchSessions").size(), 1);
    m_backdrop->hide();
    m_backdrop->show();
    QCOMPARE(m_client->callsOf("fetchSessions").size(), 1);
    settle();
    QVERIFY(labelTexts(m_view).contains("Loading session history…"));

    pending("fetchSessions")->fail("The backend is unreachable.");
    settle();
    QVERIFY(labelTexts(m_view).contains("The backend is unreachable."));
    QVERIFY(buttonTexts(m_view).contains("Retry"));
    QVERIFY(labelTexts(m_view).isEmpty() == false);

    buttonNamed(m_view, "Retry")->click();
    pending("fetchSessions")->answerPage(MeetingSessionHistoryListPage());
    settle();
    QVERIFY(labelTexts(m_view).contains("No history yet"));

    // Clearing the search with its button reloads once.
    m_view->searchField()->lineEdit()->setText("x");
    QTest::keyClick(m_view->searchField()->lineEdit(), Qt::Key_Y);
    QTRY_COMPARE(m_client->callsOf("fetchSessions").size(), 3);
    QCOMPARE(pending("fetchSessions")->query.searchQuery, std::optional<QString>("xy"));
    pending("fetchSessions")->answerPage(meetings(1, 20, QStringLiteral("c1")));
    settle();
    QCOMPARE(m_view->listView()->model()->rowCount(), 20);
    QVERIFY(buttonTexts(m_view).contains("Load more"));
    for (KavrelCapsuleButton *button : m_view->searchField()->findChildren<KavrelCapsuleButton *>()) {
        if (button->symbol() == "xmark.circle.fill")
            button->click();
    }
    QTRY_COMPARE(m_client->callsOf("fetchSessions").size(), 4);
    QVERIFY(!pending("fetchSessions")->query.searchQuery);
    pending("fetchSessions")->answerPage(meetings(1, 20, QStringLiteral("c1")));
    settle();

    buttonNamed(m_view, "Load more")->click();
    settle();
    QVERIFY(buttonTexts(m_view).contains("Loading more…"));
    pending("fetchSessions")->fail("Timed out.");
    settle();
    // Rows stay; the error shows under them with a way to reload.
    QCOMPARE(m_view->listView()->model()->rowCount(), 20);
    QVERIFY(buttonTexts(m_view).contains("Refresh list"));
    buttonNamed(m_view, "Load more")->click();
    pending("fetchSessions")->answerPage(meetings(21, 5, std::nullopt));
    settle();
    QCOMPARE(m_view->listView()->model()->rowCount(), 25);
    QVERIFY(!buttonTexts(m_view).contains("Load more"));
    QVERIFY(!buttonTexts(m_view).contains("Refresh list"));
    const auto pills = m_view->findChildren<KavrelPill *>();
    QVERIFY(std::any_of(pills.begin(), pills.end(), [](KavrelPill *pill) { return pill->text() == "25 sessions"; }));
}

void tst_KavrelHistoryScreens::cardsOpenAndConfirmDeletion()
{
    makeView();
    pending("fetchSessions")->answerPage(meetings(1, 3, std::nullopt));
    settle();
    QListView *list = m_view->listView();
    auto *delegate = qobject_cast<KavrelHistorySessionCardDelegate *>(list->itemDelegate());
    QVERIFY(delegate);

    // Press Open on the second card: find the button by probing the card's area.
    const QRect second = list->visualRect(list->model()->index(1, 0));
    QPoint openPoint;
    QPoint deletePoint;
    for (int x = second.right(); x > second.left() && (openPoint.isNull() || deletePoint.isNull()); x -= 4) {
        for (int y = second.top(); y < second.bottom(); y += 4) {
            const auto part = delegate->partAt(second, QPoint(x, y));
            if (part == KavrelHistorySessionCardDelegate::Part::open && openPoint.isNull())
                openPoint = QPoint(x, y);
            if (part == KavrelHistorySessionCardDelegate::Part::remove && deletePoint.isNull())
                deletePoint = QPoint(x, y);
        }
    }
    QVERIFY(!openPoint.isNull() && !deletePoint.isNull());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, openPoint);
    QCOMPARE(pending("fetchSessionDetail")->id, QStringLiteral("m2"));
    QTRY_VERIFY(m_view->detailSheet() && m_view->detailSheet()->isVisible());
    // A card that is opening takes no second press.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, openPoint);
    QCOMPARE(m_client->callsOf("fetchSessionDetail").size(), 1);
    pending("fetchSessionDetail")->answerDetail(record(QStringLiteral("m2"), QStringLiteral("Hello")));
    settle();

    // Deleting the open meeting from the list: confirm, then the sheet closes.
    MeetingSessionHistoryListItem untitled = row(QStringLiteral("m2"), QStringLiteral("  "));
    m_view->confirmDelete(untitled);
    QMessageBox *box = m_view->deleteConfirmation();
    QVERIFY(box);
    QCOMPARE(box->informativeText(), QStringLiteral("This will remove “Untitled” from your history."));
    QPushButton *cancel = nullptr;
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == "Cancel")
            cancel = qobject_cast<QPushButton *>(button);
    }
    cancel->click();
    QVERIFY(!m_view->pendingDeleteSession());
    QVERIFY(m_client->callsOf("deleteSession").isEmpty());

    m_view->confirmDelete(row(QStringLiteral("m2")));
    for (QAbstractButton *button : m_view->deleteConfirmation()->buttons()) {
        if (button->text() == "Delete")
            button->click();
    }
    pending("deleteSession")->answer();
    settle();
    QTRY_VERIFY(!m_view->detailSheet() || !m_view->detailSheet()->isVisible());
    QCOMPARE(list->model()->rowCount(), 2);

    // The meeting being recorded: its Delete says why it cannot go, and offers no deletion.
    m_view->viewModel()->setMeetingsInUseReader([] { return MeetingsInUse{QStringLiteral("m1"), {}}; });
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      deletePoint - second.topLeft() + list->visualRect(list->model()->index(0, 0)).topLeft());
    QTRY_VERIFY(m_view->deleteConfirmation() && m_view->deleteConfirmation()->isVisible());
    QMessageBox *refusal = m_view->deleteConfirmation();
    QCOMPARE(refusal->informativeText(), QStringLiteral("This session is being recorded now. Stop listening before deleting it."));
    QVERIFY(!buttonTexts(refusal).contains("Delete"));
    QVERIFY(!m_view->pendingDeleteSession());
    refusal->accept();
    QVERIFY(m_client->callsOf("deleteSession").size() == 1);
    QCOMPARE(list->model()->rowCount(), 2);
}

void tst_KavrelHistoryScreens::detailSheetTabsAndActions()
{
    makeView();
    pending("fetchSessions")->answerPage(meetings(1, 3, std::nullopt));
    KavrelHistoryViewModel *vm = m_view->viewModel();
    spawnTask([vm](CancellationToken) { return vm->openSession(meetings(3, 1, std::nullopt).items.first()); });
    QTRY_VERIFY(m_view->detailSheet());
    KavrelHistoryDetailSheet *sheet = m_view->detailSheet();
    // The test's screen is smaller than the sheet likes; give it its room back.
    sheet->resize(KavrelHistoryDetailSheet::minimumWidth, KavrelHistoryDetailSheet::minimumHeight);
    settle();
    QVERIFY(labelTexts(sheet).contains("Loading full session…"));
    pending("fetchSessionDetail")->fail("Not found.");
    settle();
    QVERIFY(labelTexts(sheet).contains("Not found."));
    // The header keeps the row's title while the record is missing.
    QVERIFY(labelTexts(sheet).contains("Quarterly budget review with the finance team 3"));
    buttonNamed(sheet, "Retry")->click();
    pending("fetchSessionDetail")->answerDetail(fullRecord());
    settle();

    QStringList texts = labelTexts(sheet);
    QVERIFY(texts.contains("Marketing asks for ten percent more; <b>not bold</b> stays as typed."));
    QVERIFY(texts.contains("Completed \u2022 System audio and microphone \u2022 linux \u2022 USB Microphone"));
    QVERIFY(texts.contains("English -> German"));
    for (QLabel *label : sheet->findChildren<QLabel *>())
        QCOMPARE(label->textFormat(), Qt::PlainText);

    buttonNamed(sheet, "Copy transcript")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("[09:27:00] Let's go over the budget for the next quarter.\n"
                            "[09:27:10] Speaker 2: Marketing asks for ten percent more; <b>not bold</b> stays as typed.\n"
                            "[09:27:20] Agreed. We decide on Friday and send the notes to everyone."));

    auto *tabBar = sheet->findChild<KavrelHistoryDetailTabBar *>();
    QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->buttonRect(KavrelHistoryDetailTab::translate).center());
    QCOMPARE(vm->selectedDetailTab(), KavrelHistoryDetailTab::translate);
    settle();
    QVERIFY(labelTexts(sheet).contains("Übersetzung der Zeile 2."));
    // Each block is labelled with its language's name, as the footer names it.
    QStringList blockPills;
    for (KavrelPill *pill : sheet->findChildren<KavrelPill *>()) {
        if (pill->isVisibleTo(sheet))
            blockPills.append(pill->text());
    }
    QVERIFY(blockPills.contains("German"));
    QVERIFY(!blockPills.contains("GERMAN"));

    // Summarize switches to the summary tab and shows the busy row until the save ends.
    tabBar = sheet->findChild<KavrelHistoryDetailTabBar *>();
    QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->buttonRect(KavrelHistoryDetailTab::transcribe).center());
    settle();
    buttonNamed(sheet, "Summarize")->click();
    settle();
    QCOMPARE(vm->selectedDetailTab(), KavrelHistoryDetailTab::summary);
    QVERIFY(labelTexts(sheet).contains("Summarizing transcript..."));
    QVERIFY(buttonNamed(sheet, "Summarize")->isBusy());
    pending("summarize")->fail("proxy down");
    settle();
    texts = labelTexts(sheet);
    QVERIFY(texts.contains("AI summary failed, showing a local fallback instead."));
    QVERIFY(texts.contains("1. Budget: decision on Friday.\n2. Notes: sent to everyone."));
    QVERIFY(!buttonNamed(sheet, "Summarize")->isEnabled());

    // Closing the sheet dismisses the detail.
    sheet->reject();
    QVERIFY(!vm->isDetailPresented());
    QVERIFY(!vm->selectedSessionSummary());
}

// The list and the sheet without a mouse: Tab reaches the list, the arrows move between the
// cards, Return opens one, Delete asks; in the sheet the tab bar takes the focus and the
// arrows change the tab.
void tst_KavrelHistoryScreens::keyboardBrowsing()
{
    makeView();
    pending("fetchSessions")->answerPage(meetings(1, 3, std::nullopt));
    settle();
    QListView *list = m_view->listView();
    m_backdrop->activateWindow();
    m_view->searchField()->lineEdit()->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 4 && QApplication::focusWidget() != list; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), list);
    QCOMPARE(list->currentIndex().row(), 0);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Up);
    QCOMPARE(list->currentIndex().row(), 1);

    // Delete asks, and Cancel leaves the meeting.
    QTest::keyClick(list, Qt::Key_Delete);
    QVERIFY(m_view->deleteConfirmation() && m_view->deleteConfirmation()->isVisible());
    QCOMPARE(m_view->pendingDeleteSession()->id, QStringLiteral("m2"));
    m_view->deleteConfirmation()->reject();
    QVERIFY(!m_view->pendingDeleteSession());
    QVERIFY(m_client->callsOf("deleteSession").isEmpty());

    // Return opens; a second Return while it opens starts nothing.
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(pending("fetchSessionDetail")->id, QStringLiteral("m2"));
    QTest::keyClick(list, Qt::Key_Enter);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(m_client->callsOf("fetchSessionDetail").size(), 1);
    QVERIFY(!m_view->pendingDeleteSession());
    QTRY_VERIFY(m_view->detailSheet() && m_view->detailSheet()->isVisible());
    KavrelHistoryDetailSheet *sheet = m_view->detailSheet();
    pending("fetchSessionDetail")->answerDetail(fullRecord());
    settle();

    sheet->activateWindow();
    auto tabBar = [&] { return sheet->findChild<KavrelHistoryDetailTabBar *>(); };
    QVERIFY(tabBar()->focusPolicy() & Qt::TabFocus);
    for (int i = 0; i < 8 && QApplication::focusWidget() != tabBar(); ++i)
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : sheet, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), tabBar());
    KavrelHistoryViewModel *vm = m_view->viewModel();
    const struct
    {
        Qt::Key key;
        KavrelHistoryDetailTab tab;
    } presses[] = {{Qt::Key_Right, KavrelHistoryDetailTab::translate}, {Qt::Key_Right, KavrelHistoryDetailTab::summary},
                   {Qt::Key_Right, KavrelHistoryDetailTab::summary},   {Qt::Key_Home, KavrelHistoryDetailTab::transcribe},
                   {Qt::Key_Left, KavrelHistoryDetailTab::transcribe}, {Qt::Key_End, KavrelHistoryDetailTab::summary},
                   {Qt::Key_Left, KavrelHistoryDetailTab::translate}};
    for (const auto &press : presses) {
        QTest::keyClick(tabBar(), press.key);
        QCOMPARE(vm->selectedDetailTab(), press.tab);
        settle();
        // The bar is made anew with the content; the keyboard stays on it.
        QCOMPARE(QApplication::focusWidget(), tabBar());
        QCOMPARE(tabBar()->selection(), press.tab);
    }
    QVERIFY(labelTexts(sheet).contains("Übersetzung der Zeile 2."));

    // On the transcript tab, Tab goes on to the panel's buttons; Return presses the focused one.
    QTest::keyClick(tabBar(), Qt::Key_Home);
    settle();
    KavrelCapsuleButton *summarize = nullptr;
    QTest::keyClick(tabBar(), Qt::Key_Tab);
    for (int i = 0; i < 4 && !summarize; ++i) {
        summarize = qobject_cast<KavrelCapsuleButton *>(QApplication::focusWidget());
        if (!summarize)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QVERIFY(summarize);
    QCOMPARE(summarize->text(), QStringLiteral("Summarize"));
    QTest::keyClick(summarize, Qt::Key_Return);
    QCOMPARE(vm->selectedDetailTab(), KavrelHistoryDetailTab::summary);
    QVERIFY(pending("summarize"));
    pending("summarize")->fail("test over");
    settle();
    sheet->reject();
    QVERIFY(!vm->isDetailPresented());
}

void tst_KavrelHistoryScreens::previewCutAfterTwoLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("ellipsis");
    const QString sentence = QStringLiteral("We went through the open items and agreed on the date. ");
    QTest::newRow("one line") << QStringLiteral("Short preview.") << 1 << false;
    QTest::newRow("exactly two lines") << QStringLiteral("First line\nSecond line") << 2 << false;
    QTest::newRow("a long paragraph") << sentence.repeated(6) << 2 << true;
    QTest::newRow("three short lines") << QStringLiteral("One\nTwo\nThree") << 2 << true;
    QTest::newRow("one endless word") << QString(400, QLatin1Char('x')) << 2 << true;
}

void tst_KavrelHistoryScreens::previewCutAfterTwoLines()
{
    QFETCH(QString, text);
    QFETCH(int, lines);
    QFETCH(bool, ellipsis);
    const QFont font = KavrelHistoryStyle::font(15, QFont::Medium);
    const double width = 420;
    const QStringList shown = KavrelHistoryStyle::elidedLines(text, font, width, 2);
    QCOMPARE(shown.size(), lines);
    QCOMPARE(shown.last().endsWith(QChar(0x2026)), ellipsis);
    for (const QString &line : shown)
        QVERIFY2(QFontMetricsF(font).horizontalAdvance(line) <= width + 0.5, qPrintable(line));
    if (lines == 2 && !ellipsis)
        QCOMPARE(shown, text.split(QLatin1Char('\n')));
}

void tst_KavrelHistoryScreens::screenshots()
{
    for (const auto &variant : Screenshots::variants()) {
        init();
        makeView();
        Screenshots::apply(m_backdrop.get(), variant);
        settle();
        QVERIFY(!Screenshots::write(m_backdrop.get(), QStringLiteral("history-list-loading"), variant).isEmpty());
        pending("fetchSessions")->fail(variant.language == KavrelAppLanguage::russian
                                           ? QStringLiteral("Сервер истории недоступен.")
                                           : QStringLiteral("The history backend is unreachable."));
        settle();
        QVERIFY(!Screenshots::write(m_backdrop.get(), QStringLiteral("history-list-error"), variant).isEmpty());
        KavrelHistoryViewModel *vm = m_view->viewModel();
        spawnTask([vm](CancellationToken) { return vm->reload(true); });
        pending("fetchSessions")->answerPage(MeetingSessionHistoryListPage());
        settle();
        QVERIFY(!Screenshots::write(m_backdrop.get(), QStringLiteral("history-list-empty"), variant).isEmpty());
        spawnTask([vm](CancellationToken) { return vm->reload(true); });
        pending("fetchSessions")->answerPage(meetings(1, 20, QStringLiteral("c1")));
        spawnTask([vm](CancellationToken) { return vm->loadMore(); });
        pending("fetchSessions")->answerPage(meetings(21, 5, QStringLiteral("c2")));
        settle();
        QVERIFY(!Screenshots::write(m_backdrop.get(), QStringLiteral("history-list-25"), variant).isEmpty());
        // The question before a meeting is deleted, a window of its own.
        m_view->confirmDelete(meetings(1, 1, std::nullopt).items.first());
        QMessageBox *question = m_view->deleteConfirmation();
        QVERIFY(question && question->isVisible());
        question->setPalette(m_backdrop->palette());
        QVERIFY(!Screenshots::write(question, QStringLiteral("history-delete-question"), variant).isEmpty());
        question->reject();
        QTRY_VERIFY(!m_view->deleteConfirmation() || !m_view->deleteConfirmation()->isVisible());
        // Beside the sidebar the section is narrower: the pills flow onto more rows.
        ScreenFitCheck::resizeWindow(m_backdrop.get(), QSize(760, 900));
        QCoreApplication::processEvents();
        settle();
        QVERIFY(!Screenshots::write(m_backdrop.get(), QStringLiteral("history-list-narrow"), variant).isEmpty());
        ScreenFitCheck::resizeWindow(m_backdrop.get(), QSize(1180, 900));

        MeetingSessionHistoryListItem item = meetings(3, 1, std::nullopt).items.first();
        spawnTask([vm, item](CancellationToken) { return vm->openSession(item); });
        QTRY_VERIFY(m_view->detailSheet());
        KavrelHistoryDetailSheet *sheet = m_view->detailSheet();
        Screenshots::apply(sheet, variant);
        ScreenFitCheck::resizeWindow(sheet, QSize(KavrelHistoryDetailSheet::minimumWidth, KavrelHistoryDetailSheet::minimumHeight));
        settle();
        QVERIFY(!Screenshots::write(sheet, QStringLiteral("history-detail-loading"), variant).isEmpty());
        pending("fetchSessionDetail")->answerDetail(fullRecord());
        for (KavrelHistoryDetailTab tab : KavrelHistoryDetailTabs::allCases) {
            vm->setSelectedDetailTab(tab);
            settle();
            QVERIFY(!Screenshots::write(sheet, "history-detail-" + KavrelHistoryDetailTabs::rawValue(tab), variant).isEmpty());
        }
        vm->setSelectedDetailTab(KavrelHistoryDetailTab::transcribe);
        vm->summarizeSelectedTranscript();
        settle();
        QVERIFY(!Screenshots::write(sheet, QStringLiteral("history-detail-summarizing"), variant).isEmpty());
        cleanup();
    }
}

QTEST_MAIN(tst_KavrelHistoryScreens)
#include "tst_KavrelHistoryScreens.moc"
