#pragma once

// The program on two monitors of one X screen (3200 × 1000, split with xrandr into LEFT and
// RIGHT, as a laptop with an external monitor has them), on an X server of the test's own with
// openbox (KAVREL_X11_PRIVATE_DISPLAY_TEST_MAIN): the program as main() wires it, the monitors
// changed under it, windows moved by the window manager.

#include "app/KavrelAppDelegate.h"
#include "app/KavrelNotifications.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelTrayItem.h"
#include "localization/KavrelLocalizationStore.h"
#include "support/TestProgramObjects.h"
#include "support/X11TestInput.h"

#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <memory>

namespace AppTest {


inline const QString mainIdentifier = QString::fromLatin1(KavrelApp::mainWindowIdentifier);
inline const QString settingsIdentifier = QString::fromLatin1(KavrelApp::settingsWindowIdentifier);
inline const QString miniIdentifier = QString::fromLatin1(KavrelApp::miniWindowIdentifier);
inline const QRect leftMonitor(0, 0, 1600, 1000);
inline const QRect rightMonitor(1600, 0, 1600, 1000);

inline bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return false;
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 10000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

inline QString monitorGeometry(const QRect &area)
{
    // Width/millimetres x height/millimetres + x + y, at 96 dots an inch.
    return QStringLiteral("%1/%2x%3/%4+%5+%6")
        .arg(area.width()).arg(area.width() * 254 / 960).arg(area.height()).arg(area.height() * 254 / 960)
        .arg(area.x()).arg(area.y());
}

inline bool setRightMonitor(const QRect &area)
{
    run(QStringLiteral("xrandr"), {QStringLiteral("--delmonitor"), QStringLiteral("RIGHT")});
    return run(QStringLiteral("xrandr"), {QStringLiteral("--setmonitor"), QStringLiteral("RIGHT"), monitorGeometry(area), QStringLiteral("none")});
}

inline bool removeRightMonitor()
{
    return run(QStringLiteral("xrandr"), {QStringLiteral("--delmonitor"), QStringLiteral("RIGHT")});
}

// The program's settings for a test on these monitors, and LEFT over the server's one output, so
// the whole screen is no monitor of its own. False when this is no X server the test can split.
inline bool takeLeftMonitor()
{
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
    return QGuiApplication::platformName() == QLatin1String("xcb")
           && run(QStringLiteral("xrandr"), {QStringLiteral("--setmonitor"), QStringLiteral("LEFT"), monitorGeometry(leftMonitor),
                                            QStringLiteral("screen")});
}

inline QScreen *screenNamed(const QString &name)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    const auto found = std::find_if(screens.begin(), screens.end(), [&](QScreen *s) { return s->name() == name; });
    return found == screens.end() ? nullptr : *found;
}

// The screens as the program sees them are `areas`, in any order.
inline bool screensAre(QList<QRect> areas)
{
    QList<QRect> seen;
    for (QScreen *screen : QGuiApplication::screens())
        seen.append(screen->geometry());
    const auto order = [](const QRect &a, const QRect &b) { return a.x() != b.x() ? a.x() < b.x() : a.y() < b.y(); };
    std::sort(seen.begin(), seen.end(), order);
    std::sort(areas.begin(), areas.end(), order);
    return seen == areas;
}

// Both monitors in place as the program sees them, the pointer on LEFT out of every window's way.
inline bool showBothMonitors()
{
    return setRightMonitor(rightMonitor) && QTest::qWaitFor([] { return screensAre({leftMonitor, rightMonitor}); })
           && X11TestInput::movePointer(leftMonitor.center());
}

inline bool isWhollyOnAScreen(const QWidget *window)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(),
                       [window](QScreen *screen) { return screen->availableGeometry().contains(window->frameGeometry()); });
}

inline QString describe(const QWidget *window)
{
    QString text = QStringLiteral("frame %1,%2 %3x%4 (inside %5,%6 %7x%8) on")
                       .arg(window->frameGeometry().x()).arg(window->frameGeometry().y())
                       .arg(window->frameGeometry().width()).arg(window->frameGeometry().height())
                       .arg(window->geometry().x()).arg(window->geometry().y())
                       .arg(window->geometry().width()).arg(window->geometry().height());
    for (QScreen *screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        text += QStringLiteral(" %1 %2,%3 %4x%5").arg(screen->name()).arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height());
    }
    return text;
}

// Asks the window manager to move the window, as another program (or the user's drag) does.
inline bool moveByWindowManager(const QWidget *window, QPoint topLeft)
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QString::number(window->winId()),
                                           QString::number(topLeft.x()), QString::number(topLeft.y())});
}

// The program as main() wires it, with the tray's menu and the handler of links and restarts.
struct Program
{
    explicit Program(KavrelMiniWindowCoordinator::WindowListSource windowList = {})
        : objects(true, [] { return true; }, std::move(windowList))
        , app(std::make_unique<KavrelApp>(objects.dependencies()))
        , tray(objects.session, *objects.authStore, *objects.presentation, *objects.starter, *objects.defaults,
               *objects.updates, app->windowOpener())
        , delegate(objects.authService.get(), KavrelNotifications::defaultCenter(),
                   [this] { return app->hasVisibleWindows(); }, [this] { app->activate(); })
    {
        (void)QTest::qWaitFor([this] { return !objects.authStore->isRestoringSession(); });
    }

    ~Program() { app.reset(); }

    QWidget *open(const QString &identifier)
    {
        app->openWindow(identifier);
        QWidget *window = app->window(identifier);
        return window && QTest::qWaitForWindowExposed(window) ? window : nullptr;
    }

    bool chooseInTray(const QString &key)
    {
        tray.rebuildMenu();
        const QString text = KavrelLocalizationStore::shared().localized(key);
        const QList<QAction *> entries = tray.menu()->actions();
        const auto entry = std::find_if(entries.begin(), entries.end(), [&](QAction *a) { return a->text() == text; });
        if (entry == entries.end())
            return false;
        (*entry)->trigger();
        return true;
    }

    TestProgramObjects objects;
    std::unique_ptr<KavrelApp> app;
    KavrelTrayItem tray;
    KavrelAppDelegate delegate;
};

} // namespace AppTest
