#include "app/KavrelWindowCoverage.h"

#include <QTest>

using namespace KavrelWindowCoverage;

namespace {

constexpr qint64 ownPid = 100;
constexpr qint64 otherPid = 200;
constexpr quint32 mainId = 7;
const QRectF mainBounds(100, 100, 1200, 800); // cells 100 × 100

X11Window window(quint32 id, qint64 pid, QRectF bounds, int layer = X11Window::normalLayer, double alpha = 1.0)
{
    X11Window w;
    w.id = id;
    w.processId = pid;
    w.bounds = bounds;
    w.layer = layer;
    w.alpha = alpha;
    return w;
}

X11WindowListSnapshot listWith(std::vector<X11Window> front, std::optional<qint64> active = otherPid)
{
    X11WindowListSnapshot list;
    list.windows = std::move(front);
    list.windows.push_back(window(mainId, ownPid, mainBounds));
    list.activeWindowProcessId = active;
    return list;
}

} // namespace

class tst_KavrelWindowCoverage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gridSampling_data();
    void gridSampling();
    void onlyOtherVisibleNormalWindowsCover_data();
    void onlyOtherVisibleNormalWindowsCover();
    void unreadableIsNotEmpty();
    void rememberedWindowCountsOnlyTheCoveringApplication_data();
    void rememberedWindowCountsOnlyTheCoveringApplication();
    void coveringApplicationIsTheOneOverTheWindow_data();
    void coveringApplicationIsTheOneOverTheWindow();
};

void tst_KavrelWindowCoverage::gridSampling_data()
{
    QTest::addColumn<QList<QRectF>>("rects");
    QTest::addColumn<bool>("covered");
    QTest::newRow("nothing") << QList<QRectF>{} << false;
    QTest::newRow("exactly") << QList<QRectF>{mainBounds} << true;
    // One whole column of cells (8 samples) left free.
    QTest::newRow("one column free") << QList<QRectF>{mainBounds.adjusted(100, 0, 0, 0)} << false;
    // A border thinner than half a cell holds no sample point.
    QTest::newRow("thin border free") << QList<QRectF>{mainBounds.adjusted(49, 49, -49, -49)} << true;
    QTest::newRow("half a cell exactly") << QList<QRectF>{mainBounds.adjusted(51, 0, 0, 0)} << false;
    // Five sample points free (a corner of 5 cells in the top row) still counts as covered.
    QTest::newRow("five points free") << QList<QRectF>{QRectF(600, 100, 700, 100), QRectF(100, 200, 1200, 700)} << true;
    QTest::newRow("six points free") << QList<QRectF>{QRectF(700, 100, 600, 100), QRectF(100, 200, 1200, 700)} << false;
    QTest::newRow("two halves together") << QList<QRectF>{QRectF(0, 0, 700, 1000), QRectF(700, 0, 700, 1000)} << true;
}

void tst_KavrelWindowCoverage::gridSampling()
{
    QFETCH(QList<QRectF>, rects);
    QFETCH(bool, covered);
    QCOMPARE(isCovered(mainBounds, std::vector<QRectF>(rects.begin(), rects.end())), covered);
}

void tst_KavrelWindowCoverage::onlyOtherVisibleNormalWindowsCover_data()
{
    QTest::addColumn<int>("layer");
    QTest::addColumn<double>("alpha");
    QTest::addColumn<qint64>("pid");
    QTest::addColumn<bool>("behind");
    QTest::addColumn<bool>("covered");
    QTest::newRow("other application in front") << X11Window::normalLayer << 1.0 << otherPid << false << true;
    QTest::newRow("faint overlay") << X11Window::normalLayer << 0.05 << otherPid << false << false;
    QTest::newRow("translucent but visible") << X11Window::normalLayer << 0.06 << otherPid << false << true;
    QTest::newRow("floating layer") << X11Window::floatingLayer << 1.0 << otherPid << false << false;
    QTest::newRow("dock") << X11Window::dockLayer << 1.0 << otherPid << false << false;
    QTest::newRow("own window") << X11Window::normalLayer << 1.0 << ownPid << false << false;
    QTest::newRow("behind the main window") << X11Window::normalLayer << 1.0 << otherPid << true << false;
}

void tst_KavrelWindowCoverage::onlyOtherVisibleNormalWindowsCover()
{
    QFETCH(int, layer);
    QFETCH(double, alpha);
    QFETCH(qint64, pid);
    QFETCH(bool, behind);
    QFETCH(bool, covered);
    X11WindowListSnapshot list = listWith({});
    const X11Window cover = window(9, pid, QRectF(0, 0, 1600, 1000), layer, alpha);
    if (behind)
        list.windows.push_back(cover);
    else
        list.windows.insert(list.windows.begin(), cover);
    QCOMPARE(isWindowFullyCoveredByOtherApps(list, mainId, ownPid), covered);

    // A window without an owner never covers.
    X11WindowListSnapshot anonymous = listWith({window(9, otherPid, QRectF(0, 0, 1600, 1000))});
    anonymous.windows.front().processId.reset();
    QVERIFY(!isWindowFullyCoveredByOtherApps(anonymous, mainId, ownPid));
}

void tst_KavrelWindowCoverage::unreadableIsNotEmpty()
{
    // Unreadable: the main window cannot be judged, so it counts as in sight.
    QVERIFY(!isWindowFullyCoveredByOtherApps(std::nullopt, mainId, ownPid));
    QVERIFY(!boundsOfWindow(std::nullopt, mainId));
    QVERIFY(!isHiddenWindowStillCovered(std::nullopt, mainBounds, ownPid, otherPid));
    // Readable but empty, or without the main window: it is not on screen.
    QVERIFY(isWindowFullyCoveredByOtherApps(X11WindowListSnapshot{}, mainId, ownPid));
    X11WindowListSnapshot others;
    others.windows.push_back(window(9, otherPid, QRectF(0, 0, 10, 10)));
    QVERIFY(isWindowFullyCoveredByOtherApps(others, mainId, ownPid));
    // A main window listed without area is not judged covered.
    X11WindowListSnapshot flat = listWith({window(9, otherPid, QRectF(0, 0, 1600, 1000))});
    flat.windows.back().bounds = QRectF(100, 100, 0, 800);
    QVERIFY(!isWindowFullyCoveredByOtherApps(flat, mainId, ownPid));
    QCOMPARE(boundsOfWindow(listWith({}), mainId), std::optional<QRectF>(mainBounds));
}

void tst_KavrelWindowCoverage::rememberedWindowCountsOnlyTheCoveringApplication_data()
{
    QTest::addColumn<qint64>("active");        // 0: no active window
    QTest::addColumn<qint64>("recorded");      // 0: none recorded
    QTest::addColumn<bool>("meetingOpen");     // the covering application's windows are there
    QTest::addColumn<bool>("covered");
    QTest::newRow("frontmost application covers") << otherPid << qint64(0) << true << true;
    QTest::newRow("another application is frontmost") << qint64(300) << qint64(0) << true << false;
    QTest::newRow("we are frontmost, the recorded one covers") << ownPid << otherPid << true << true;
    // A click on the mini window puts this program in front: that uncovers nothing.
    QTest::newRow("we are frontmost, nothing recorded") << ownPid << qint64(0) << true << true;
    QTest::newRow("we are frontmost, ourselves recorded") << ownPid << ownPid << true << true;
    QTest::newRow("we are frontmost, the recorded one does not cover") << ownPid << qint64(300) << true << false;
    QTest::newRow("we are frontmost, the meeting gone") << ownPid << otherPid << false << false;
    // The focus on its way between two windows.
    QTest::newRow("nobody is frontmost") << qint64(0) << otherPid << true << true;
    QTest::newRow("nobody is frontmost, nothing recorded") << qint64(0) << qint64(0) << true << true;
    QTest::newRow("nobody is frontmost, the meeting gone") << qint64(0) << otherPid << false << false;
}

void tst_KavrelWindowCoverage::rememberedWindowCountsOnlyTheCoveringApplication()
{
    QFETCH(qint64, active);
    QFETCH(qint64, recorded);
    QFETCH(bool, meetingOpen);
    QFETCH(bool, covered);
    X11WindowListSnapshot list;
    // Two windows of the covering application together, one of a third application, and this
    // program's mini window above them.
    list.windows = {window(4, ownPid, QRectF(400, 300, 720, 420), X11Window::floatingLayer), window(3, 300, QRectF(0, 0, 400, 400))};
    if (meetingOpen) {
        list.windows.push_back(window(1, otherPid, QRectF(0, 0, 700, 1000)));
        list.windows.push_back(window(2, otherPid, QRectF(700, 0, 900, 1000)));
    }
    if (active)
        list.activeWindowProcessId = active;
    const std::optional<qint64> recordedPid = recorded ? std::optional<qint64>(recorded) : std::nullopt;
    QCOMPARE(isHiddenWindowStillCovered(list, mainBounds, ownPid, recordedPid), covered);
    QVERIFY(!isHiddenWindowStillCovered(list, std::nullopt, ownPid, recordedPid));
    QVERIFY(!isHiddenWindowStillCovered(std::nullopt, mainBounds, ownPid, recordedPid));
}

void tst_KavrelWindowCoverage::coveringApplicationIsTheOneOverTheWindow_data()
{
    QTest::addColumn<qint64>("active"); // 0: no active window
    QTest::addColumn<bool>("meetingOpen");
    QTest::addColumn<qint64>("covering"); // 0: none
    QTest::newRow("the meeting in front") << otherPid << true << otherPid;
    QTest::newRow("an application elsewhere in front") << qint64(500) << true << qint64(500);
    QTest::newRow("we are in front") << ownPid << true << otherPid;
    QTest::newRow("nobody is in front") << qint64(0) << true << otherPid;
    QTest::newRow("we are in front, nothing over the window") << ownPid << false << qint64(0);
}

// Recorded as the main window is hidden: the list may still have this program in front (read a
// moment before the meeting's window took the focus); the application over the window counts.
void tst_KavrelWindowCoverage::coveringApplicationIsTheOneOverTheWindow()
{
    QFETCH(qint64, active);
    QFETCH(bool, meetingOpen);
    QFETCH(qint64, covering);
    // In front of the main window: a floating panel, this program's other window, a window
    // beside it, then (maybe) the meeting's; a window of a fourth application behind it.
    std::vector<X11Window> front{window(10, 400, mainBounds, X11Window::floatingLayer), window(11, ownPid, mainBounds),
                                 window(12, 300, QRectF(1400, 0, 100, 100))};
    if (meetingOpen)
        front.push_back(window(13, otherPid, QRectF(0, 0, 800, 600)));
    X11WindowListSnapshot list = listWith(front, active ? std::optional<qint64>(active) : std::nullopt);
    list.windows.push_back(window(14, 600, mainBounds));
    const std::optional<qint64> expected = covering ? std::optional<qint64>(covering) : std::nullopt;
    QCOMPARE(coveringProcess(list, mainId, ownPid), expected);
    QCOMPARE(coveringProcess(std::nullopt, mainId, ownPid), std::optional<qint64>());
}

QTEST_GUILESS_MAIN(tst_KavrelWindowCoverage)
#include "tst_KavrelWindowCoverage.moc"
