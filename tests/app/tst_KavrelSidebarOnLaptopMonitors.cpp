// The main window's sidebar on the monitors of small laptops (1280 × 720, 1280 × 732 and
// 1366 × 768, side by side with xrandr on an X server of the test's own with openbox, whose
// title bar takes its part of the height): the program's main window on each, at every height
// from the least it allows to what the monitor leaves it, settles on one form of the sidebar
// and keeps it while nothing happens, with no caption over another button. The same heights
// and more, at 100 % and 200 %, are swept offscreen in tst_KavrelWindowsOnSmallScreens.

#include "ProgramOnTwoMonitors.h"
#include "ProgramOverTheSession.h"
#include "SidebarWatch.h"

#include "localization/KavrelLocalizationStore.h"
#include "support/X11PrivateDisplay.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace AppTest;

namespace {

struct Monitor
{
    QString name;
    QRect area;
};
const std::vector<Monitor> monitors{{QStringLiteral("WORKAREA"), QRect(0, 0, 1280, 720)},
                                    {QStringLiteral("LAPTOP"), QRect(1280, 0, 1280, 732)},
                                    {QStringLiteral("WIDE"), QRect(2560, 0, 1366, 768)}};

QScreen *screenAt(const QRect &area)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->geometry() == area)
            return screen;
    }
    return nullptr;
}

} // namespace

class tst_KavrelSidebarOnLaptopMonitors : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sidebarSettlesAtEveryHeightOfTheMainWindow();
};

void tst_KavrelSidebarOnLaptopMonitors::initTestCase()
{
    if (!X11PrivateDisplay::unavailable().isEmpty())
        QSKIP(qPrintable(QStringLiteral("no X server of the test's own: ") + X11PrivateDisplay::unavailable()));
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    // The first takes the server's one output, so the whole screen is no monitor of its own.
    for (const Monitor &monitor : monitors) {
        QVERIFY(run(QStringLiteral("xrandr"), {QStringLiteral("--setmonitor"), monitor.name, monitorGeometry(monitor.area),
                                               &monitor == &monitors.front() ? QStringLiteral("screen") : QStringLiteral("none")}));
    }
    QTRY_VERIFY(std::all_of(monitors.begin(), monitors.end(), [](const Monitor &m) { return screenAt(m.area); }));
}

// A short look (half a second, where a form change came within a few turns of the event loop
// and went on for ever) at each height, then five seconds at the height each window opens with.
void tst_KavrelSidebarOnLaptopMonitors::sidebarSettlesAtEveryHeightOfTheMainWindow()
{
    std::vector<std::unique_ptr<ProgramOverTheSession>> programs;
    std::vector<std::pair<QWidget *, Stillness *>> opened;
    for (const Monitor &monitor : monitors) {
        programs.push_back(std::make_unique<ProgramOverTheSession>());
        ProgramOverTheSession &program = *programs.back();
        QScreen *screen = screenAt(monitor.area);
        QVERIFY(screen);
        QCursor::setPos(screen->geometry().center());
        program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
        QWidget *window = program.mainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // Where the user takes it: the monitor's top-left corner.
        window->move(screen->availableGeometry().topLeft());
        QTRY_VERIFY2(window->screen() == screen && screen->availableGeometry().contains(window->frameGeometry()),
                     qPrintable(monitor.name));
        auto *sidebar = window->findChild<KavrelSidebarView *>();
        QVERIFY(sidebar);
        auto *stillness = new Stillness(sidebar);
        QTest::qWait(300);
        const int opensAt = window->height();
        const int least = window->minimumHeight();
        const int most = screen->availableGeometry().height() - (window->frameGeometry().height() - window->height());
        QVERIFY2(least <= opensAt && opensAt <= most,
                 qPrintable(QStringLiteral("%1: %2 to %3, opens at %4").arg(monitor.name).arg(least).arg(most).arg(opensAt)));
        qInfo().noquote() << QStringLiteral("%1: heights %2 to %3, opens at %4, the sidebar %5 from %6")
                                 .arg(monitor.name).arg(least).arg(most).arg(opensAt)
                                 .arg(sidebar->isCompact() ? QStringLiteral("compact") : QStringLiteral("roomy"))
                                 .arg(sidebar->heightNeeded(false));
        for (int height = least; height <= most; ++height) {
            window->resize(window->width(), height);
            const QString at = QStringLiteral("%1 at %2: ").arg(monitor.name).arg(height);
            QTRY_VERIFY2(window->height() == height && sidebar->height() == height, qPrintable(at + stillness->describe()));
            QTest::qWait(150);
            stillness->reset();
            QTest::qWait(500);
            QVERIFY2(stillness->isStill(), qPrintable(at + stillness->describe()));
            const QStringList found = overlaps(sidebar);
            QVERIFY2(found.isEmpty(), qPrintable(at + found.join(QStringLiteral("; "))));
        }
        window->resize(window->width(), opensAt);
        QTRY_COMPARE(sidebar->height(), opensAt);
        opened.emplace_back(window, stillness);
    }
    QTest::qWait(300);
    for (const auto &[window, stillness] : opened)
        stillness->reset();
    QTest::qWait(5000);
    for (const auto &[window, stillness] : opened) {
        QVERIFY2(stillness->isStill(), qPrintable(stillness->describe()));
        const QStringList found = overlaps(window->findChild<KavrelSidebarView *>());
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QStringLiteral("; "))));
    }
}

KAVREL_X11_PRIVATE_DISPLAY_TEST_MAIN(tst_KavrelSidebarOnLaptopMonitors, 3926, 1000)

#include "tst_KavrelSidebarOnLaptopMonitors.moc"
