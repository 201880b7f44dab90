// A saved meeting of thousands of blocks in the history's detail sheet: what the block list
// measures and builds, where its cards sit, and where the reader finds the place again.

#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryBlockList.h"
#include "history/widgets/KavrelHistoryComponents.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "history/widgets/KavrelHistoryDetailTabBar.h"
#include "history/widgets/KavrelHistoryView.h"
#include "kit/widgets/KavrelPill.h"
#include "kit/widgets/KavrelSymbols.h"
#include "localization/KavrelLocalizationStore.h"

#include "HistoryTestClient.h"
#include "HistoryTestData.h"

#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTime>

#include <algorithm>

using namespace HistoryTestData;
using Call = std::shared_ptr<HistoryTestCall>;

namespace {

// Two thousand blocks, every third one wrapping; `tag` makes the texts those of another meeting.
MeetingSessionHistoryDetail longMeeting(const QString &tag)
{
    MeetingSessionHistoryDetail detail = record(QStringLiteral("m3"));
    QList<MeetingSessionTranscriptBlock> blocks;
    QList<MeetingSessionTranslationBlock> translations;
    for (int i = 0; i < 2000; ++i) {
        MeetingSessionTranscriptBlock block;
        block.id = QStringLiteral("turn-%1").arg(i + 1);
        block.seq = i + 1;
        block.timestamp = QTime(9, 0).addSecs(i * 4).toString(QStringLiteral("HH:mm:ss"));
        block.text = QStringLiteral("Block %1%3: we went through the open items and agreed on the release date%2")
                         .arg(i + 1)
                         .arg(i % 3 == 0 ? QStringLiteral(", then the owners of each area took the follow-up notes.") : QStringLiteral("."))
                         .arg(tag);
        blocks.append(block);
        translations.append({block.id, block.seq, QStringLiteral("de"), QStringLiteral("Block %1%2 übersetzt.").arg(i + 1).arg(tag)});
    }
    detail.transcriptJson = blocks;
    detail.translationJson = translations;
    return detail;
}

QScrollArea *scrollAreaAround(QWidget *sheet, QWidget *inner)
{
    for (QScrollArea *candidate : sheet->findChildren<QScrollArea *>()) {
        if (candidate->widget() && candidate->widget()->isAncestorOf(inner))
            return candidate;
    }
    return nullptr;
}

// The built cards of a block list are as tall as their texts need at the list's width and
// follow one another at the list's spacing; the first card in sight is returned (-1: none).
int checkBuiltCards(KavrelHistoryBlockList *list, QScrollArea *area)
{
    const int viewTop = list->mapFrom(area->widget(), QPoint(0, area->verticalScrollBar()->value())).y();
    int firstInSight = -1;
    for (int i = 0; i < list->blockCount(); ++i) {
        QWidget *row = list->builtRow(i);
        if (!row)
            continue;
        if (row->height() != row->heightForWidth(row->width()) || row->width() != list->width()) {
            qWarning("card %d: %dx%d, needs %d at %d", i, row->width(), row->height(), row->heightForWidth(row->width()),
                     list->width());
            return -2;
        }
        if (QWidget *next = list->builtRow(i + 1); next && next->y() != row->y() + row->height() + KavrelHistoryBlockList::spacing) {
            qWarning("card %d ends at %d, the next starts at %d", i, row->geometry().bottom(), next->y());
            return -2;
        }
        if (firstInSight < 0 && row->geometry().bottom() >= viewTop)
            firstInSight = i;
    }
    return firstInSight;
}

} // namespace

class tst_KavrelHistoryLongMeeting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void blockHeightsMatchTheCards_data();
    void blockHeightsMatchTheCards();
    void estimatesMatchTheMeasuring_data();
    void estimatesMatchTheMeasuring();
    void longMeetingBuildsOnlyWhatIsInSight();
    void longMeetingIsMeasuredAtTheWidthItSettlesAt_data();
    void longMeetingIsMeasuredAtTheWidthItSettlesAt();

private:
    void makeView();
    // The history with three meetings, the third one's sheet opened (its record still loading).
    KavrelHistoryDetailSheet *openSheet();
    Call pending(const QString &operation);
    void settle();

    std::shared_ptr<HistoryTestClient> m_client;
    std::unique_ptr<KavrelHistoryView> m_view;
};

void tst_KavrelHistoryLongMeeting::initTestCase()
{
    KavrelSymbols::setUsesIconTheme(false);
}

void tst_KavrelHistoryLongMeeting::init()
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    m_client = std::make_shared<HistoryTestClient>();
}

void tst_KavrelHistoryLongMeeting::cleanup()
{
    m_view.reset();
    for (const auto &call : m_client->calls) {
        if (!call->answered)
            call->fail(QStringLiteral("test over"));
    }
    m_client.reset();
}

void tst_KavrelHistoryLongMeeting::makeView()
{
    m_view = std::make_unique<KavrelHistoryView>(m_client);
    m_view->resize(1180, 900);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

KavrelHistoryDetailSheet *tst_KavrelHistoryLongMeeting::openSheet()
{
    makeView();
    pending("fetchSessions")->answerPage(page({QStringLiteral("m1"), QStringLiteral("m2"), QStringLiteral("m3")}));
    KavrelHistoryViewModel *vm = m_view->viewModel();
    spawnTask([vm](CancellationToken) { return vm->openSession(row(QStringLiteral("m3"))); });
    if (!QTest::qWaitFor([this] { return m_view->detailSheet() != nullptr; }))
        return nullptr;
    return m_view->detailSheet();
}

Call tst_KavrelHistoryLongMeeting::pending(const QString &operation)
{
    Call call = m_client->pending(operation);
    if (!call)
        qFatal("no pending %s call", qPrintable(operation));
    return call;
}

void tst_KavrelHistoryLongMeeting::settle()
{
    m_view->refresh();
    if (m_view->detailSheet())
        m_view->detailSheet()->refresh();
    // A long block list measures and builds once its scroll area has shown or hidden its bar,
    // a few turns of the event loop later.
    for (int turn = 0; turn < 4; ++turn)
        QCoreApplication::processEvents();
}

void tst_KavrelHistoryLongMeeting::blockHeightsMatchTheCards_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("one line") << QStringLiteral("Let's go over the budget.");
    QTest::newRow("wraps") << QStringLiteral("Marketing asks for ten percent more, and the sales team wants the same again "
                                             "for the new region; we decide on Friday and send the notes to everyone.");
    QTest::newRow("a word longer than the line") << QString(300, u'x');
    QTest::newRow("line breaks and an empty line") << QStringLiteral("First point.\n\nSecond point,\nthird.");
    QTest::newRow("empty") << QString();
    QTest::newRow("Cyrillic, long") << QStringLiteral("Выручка выросла на двенадцать процентов, в основном за счёт нового "
                                                      "региона, а расходы остались на прежнем уровне весь квартал.");
}

// The list measures every block without building it; a card built later must fit exactly.
void tst_KavrelHistoryLongMeeting::blockHeightsMatchTheCards()
{
    QFETCH(QString, text);
    for (int width : {240, 377, 640, 1040}) {
        QWidget *card = KavrelHistoryComponents::blockRow({KavrelHistoryComponents::metaPill(QStringLiteral("09:27:10"), QStringLiteral("clock"))}, text);
        // A card with no text has no height-for-width of its own: its layout takes the hint.
        const int built = card->hasHeightForWidth() && card->heightForWidth(width) >= 0 ? card->heightForWidth(width)
                                                                                        : card->sizeHint().height();
        delete card;
        QCOMPARE(KavrelHistoryComponents::blockRowHeight(text, width), built);
    }
}

void tst_KavrelHistoryLongMeeting::estimatesMatchTheMeasuring_data()
{
    blockHeightsMatchTheCards_data();
}

// The block font is monospaced: for text that breaks only at spaces, the estimate a layout gets
// for a width not measured yet is what the measuring finds, so a long list is rarely placed twice.
void tst_KavrelHistoryLongMeeting::estimatesMatchTheMeasuring()
{
    QFETCH(QString, text);
    const KavrelHistoryComponents::BlockTextUnits units = KavrelHistoryComponents::blockTextUnits();
    for (int width : {240, 377, 640, 1040})
        QCOMPARE(KavrelHistoryComponents::blockRowHeightEstimate(text, width, units),
                 KavrelHistoryComponents::blockRowHeight(text, width));
}

// A meeting of two thousand blocks: the sheet builds the cards in sight only, follows the
// scrolling, switches tabs under the same header and tab bar, and a change of the history list
// behind it leaves it alone.
void tst_KavrelHistoryLongMeeting::longMeetingBuildsOnlyWhatIsInSight()
{
    KavrelHistoryDetailSheet *sheet = openSheet();
    QVERIFY(sheet);
    KavrelHistoryViewModel *vm = m_view->viewModel();
    const MeetingSessionHistoryDetail detail = longMeeting(QString());
    const QList<MeetingSessionTranscriptBlock> blocks = *detail.transcriptJson;
    pending("fetchSessionDetail")->answerDetail(detail);
    settle();
    QTRY_VERIFY(sheet->isVisible());
    sheet->resize(KavrelHistoryDetailSheet::minimumWidth, KavrelHistoryDetailSheet::minimumHeight);
    settle();

    const QPointer<QWidget> header = sheet->header();
    const QPointer<QWidget> body = sheet->body();
    const QPointer<QWidget> transcriptTab = sheet->tabContent();
    const QPointer<KavrelHistoryDetailTabBar> tabBar = sheet->findChild<KavrelHistoryDetailTabBar *>();
    auto *list = transcriptTab->findChild<KavrelHistoryBlockList *>();
    QVERIFY(list);
    // Placed by what it measured (an estimate first, for the widths the layouts passed through).
    QTRY_COMPARE(list->height(), list->heightForWidth(list->width()));
    QCOMPARE(list->blockCount(), 2000);
    QVERIFY(list->builtRowCount() > 0);
    QVERIFY2(list->builtRowCount() < 40, qPrintable(QString::number(list->builtRowCount())));
    QVERIFY(list->builtRow(0));
    QVERIFY(!list->builtRow(1999));

    // To the end: the last cards are built where the measuring put them, the first ones let go.
    QScrollArea *area = nullptr;
    for (QScrollArea *candidate : sheet->findChildren<QScrollArea *>()) {
        if (candidate->widget() && candidate->widget()->isAncestorOf(list))
            area = candidate;
    }
    QVERIFY(area);
    area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    QWidget *last = list->builtRow(1999);
    QVERIFY(last);
    QVERIFY(last->isVisible());
    QCOMPARE(last->geometry().bottom(), list->height() - 1);
    QCOMPARE(last->height(), last->heightForWidth(last->width()));
    QVERIFY(!list->builtRow(0));
    QVERIFY(list->builtRowCount() < 40);
    const QList<QLabel *> labels = last->findChildren<QLabel *>();
    QVERIFY(std::any_of(labels.begin(), labels.end(), [&](QLabel *label) { return label->text() == blocks.last().text; }));

    // A change of the list behind the sheet: nothing in the sheet is built again.
    vm->setSearchText(QStringLiteral("budget"));
    QTRY_VERIFY(m_client->pending("fetchSessions"));
    pending("fetchSessions")->answerPage(page({QStringLiteral("m1"), QStringLiteral("m2")}));
    settle();
    QVERIFY(header && body && transcriptTab && tabBar);
    QCOMPARE(sheet->header(), header.data());
    QCOMPARE(sheet->body(), body.data());
    QCOMPARE(sheet->tabContent(), transcriptTab.data());

    // Another tab: its content under the same header and tab bar; back again, the transcript
    // built before shows again where the reader left it.
    const int position = area->verticalScrollBar()->value();
    QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->buttonRect(KavrelHistoryDetailTab::translate).center());
    settle();
    QVERIFY(header && body && tabBar);
    QVERIFY(sheet->tabContent() != transcriptTab.data());
    QVERIFY(!transcriptTab->isVisible());
    auto *translated = sheet->tabContent()->findChild<KavrelHistoryBlockList *>();
    QVERIFY(translated);
    QCOMPARE(translated->blockCount(), 2000);
    QVERIFY(translated->builtRowCount() < 40);
    QTRY_COMPARE(area->verticalScrollBar()->value(), 0);
    QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->buttonRect(KavrelHistoryDetailTab::transcribe).center());
    settle();
    QCOMPARE(sheet->tabContent(), transcriptTab.data());
    QVERIFY(transcriptTab->isVisible());
    QTRY_COMPARE(area->verticalScrollBar()->value(), position);
    // A change of what the tabs show (the summary's state) builds the tab anew.
    vm->summarizeSelectedTranscript();
    settle();
    QVERIFY(!transcriptTab);
    sheet->reject();
}

void tst_KavrelHistoryLongMeeting::longMeetingIsMeasuredAtTheWidthItSettlesAt_data()
{
    QTest::addColumn<int>("wider"); // than the sheet's minimum
    QTest::addColumn<int>("change"); // of the sheet's width later
    QTest::newRow("minimum width, then wider") << 0 << 150;
    QTest::newRow("wider, then the minimum") << 317 << -317;
}

// Layouts ask a block list for its height at several widths on the way (with and without the
// scroll bar, for a minimum size); the texts of two thousand blocks are laid out once, for the
// width the list settles at, and the cards sit exactly where that put them. A change of width
// measures again; the other tab measures its own texts once; a tab built anew for the same
// meeting measures nothing and shows the reader's place again.
void tst_KavrelHistoryLongMeeting::longMeetingIsMeasuredAtTheWidthItSettlesAt()
{
    QFETCH(int, wider);
    QFETCH(int, change);
    KavrelHistoryDetailSheet *sheet = openSheet();
    QVERIFY(sheet);
    KavrelHistoryViewModel *vm = m_view->viewModel();
    QTRY_VERIFY(sheet->isVisible());
    sheet->resize(KavrelHistoryDetailSheet::minimumWidth + wider, KavrelHistoryDetailSheet::minimumHeight);
    settle();
    // Texts no other test shows, so that nothing measured before is at hand.
    pending("fetchSessionDetail")->answerDetail(longMeeting(QStringLiteral(" (%1)").arg(wider)));
    settle();
    // Placed first by an estimate, then by what was measured.
    const auto placed = [](KavrelHistoryBlockList *list) { return list->height() == list->heightForWidth(list->width()); };

    auto *list = sheet->tabContent()->findChild<KavrelHistoryBlockList *>();
    QVERIFY(list);
    QTRY_VERIFY(placed(list));
    QScrollArea *area = scrollAreaAround(sheet, list);
    QVERIFY(area);
    QVERIFY(area->verticalScrollBar()->isVisible());
    QCOMPARE(list->measuringPasses(), 1);
    QCOMPARE(checkBuiltCards(list, area), 0);
    QScrollBar *bar = area->verticalScrollBar();
    bar->setValue(bar->maximum());
    settle();
    QVERIFY(list->builtRow(1999));
    QCOMPARE(list->builtRow(1999)->geometry().bottom(), list->height() - 1);
    QVERIFY(checkBuiltCards(list, area) > 1900);
    QCOMPARE(list->measuringPasses(), 1);

    // Another width: the blocks whose lines break elsewhere are laid out again, and the cards
    // follow.
    sheet->resize(sheet->width() + change, sheet->height());
    settle();
    QTRY_COMPARE(list->measuringPasses(), 2);
    QTRY_VERIFY(placed(list));
    bar->setValue(bar->maximum());
    settle();
    QCOMPARE(list->builtRow(1999)->geometry().bottom(), list->height() - 1);
    QVERIFY(checkBuiltCards(list, area) > 1900);

    // The reader in the middle; the translation measures its own texts once.
    bar->setValue(bar->maximum() / 2);
    settle();
    const int reading = checkBuiltCards(list, area);
    QVERIFY2(reading > 500 && reading < 1500, qPrintable(QString::number(reading)));
    const int position = bar->value();
    vm->setSelectedDetailTab(KavrelHistoryDetailTab::translate);
    settle();
    auto *translated = sheet->tabContent()->findChild<KavrelHistoryBlockList *>();
    QVERIFY(translated && translated != list);
    QTRY_VERIFY(placed(translated));
    QCOMPARE(translated->measuringPasses(), 1);
    QCOMPARE(checkBuiltCards(translated, area), 0);

    // Summarizing changes what the tabs show: they are built anew. The new transcript takes over
    // what was measured and opens where the reader was.
    const QPointer<KavrelHistoryBlockList> before = list;
    vm->setSelectedDetailTab(KavrelHistoryDetailTab::transcribe);
    settle();
    QTRY_COMPARE(bar->value(), position);
    vm->summarizeSelectedTranscript();
    settle();
    vm->setSelectedDetailTab(KavrelHistoryDetailTab::transcribe);
    settle();
    QVERIFY(!before);
    list = sheet->tabContent()->findChild<KavrelHistoryBlockList *>();
    QVERIFY(list);
    QCOMPARE(list->measuringPasses(), 0);
    QTRY_COMPARE(bar->value(), position);
    settle();
    QCOMPARE(checkBuiltCards(list, area), reading);
    sheet->reject();
}

QTEST_MAIN(tst_KavrelHistoryLongMeeting)
#include "tst_KavrelHistoryLongMeeting.moc"
