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
    QTest::addColumn<bool>("covered");
    QTest::newRow("frontmost application covers") << otherPid << qint64(0) << true;
    QTest::newRow("another application is frontmost") << qint64(300) << qint64(0) << false;
    QTest::newRow("we are frontmost, the recorded one covers") << ownPid << otherPid << true;
    QTest::newRow("we are frontmost, nothing recorded") << ownPid << qint64(0) << false;
    QTest::newRow("nobody is frontmost") << qint64(0) << otherPid << false;
}

void tst_KavrelWindowCoverage::rememberedWindowCountsOnlyTheCoveringApplication()
{
    QFETCH(qint64, active);
    QFETCH(qint64, recorded);
    QFETCH(bool, covered);
    X11WindowListSnapshot list;
    // Two windows of the covering application together, one of a third application.
    list.windows = {window(1, otherPid, QRectF(0, 0, 700, 1000)), window(2, otherPid, QRectF(700, 0, 900, 1000)),
                    window(3, 300, QRectF(0, 0, 400, 400))};
    if (active)
        list.activeWindowProcessId = active;
    const std::optional<qint64> recordedPid = recorded ? std::optional<qint64>(recorded) : std::nullopt;
    QCOMPARE(isHiddenWindowStillCovered(list, mainBounds, ownPid, recordedPid), covered);
    QVERIFY(!isHiddenWindowStillCovered(list, std::nullopt, ownPid, recordedPid));
}

QTEST_GUILESS_MAIN(tst_KavrelWindowCoverage)
#include "tst_KavrelWindowCoverage.moc"
