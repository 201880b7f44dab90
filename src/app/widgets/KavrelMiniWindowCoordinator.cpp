#include "app/widgets/KavrelMiniWindowCoordinator.h"

#include "localization/KavrelLocalizationStore.h"
#include "app/KavrelWindowCoverage.h"
#include "app/KavrelWindowListReader.h"
#include "kit/widgets/KavrelWindowFront.h"
#include "platform/ApplicationInfo.h"
#include "platform/X11WindowHints.h"
#include "platform/X11WindowList.h"
#include "platform/X11WindowPlacement.h"

#include <QApplication>
#include <QWindow>

KavrelMiniWindowCoordinator::KavrelMiniWindowCoordinator(WindowListSource windowList, QObject *parent)
    : QObject(parent), m_windowList(std::move(windowList)), m_ownProcessId(QCoreApplication::applicationPid())
{
}

KavrelMiniWindowCoordinator::KavrelMiniWindowCoordinator(KavrelWindowListReader &reader, QObject *parent)
    : KavrelMiniWindowCoordinator([&reader] { return reader.latest(); }, parent)
{
    m_refresh = [&reader] { reader.requestRead(); };
}

void KavrelMiniWindowCoordinator::requestWindowListRefresh()
{
    if (m_refresh)
        m_refresh();
}

QWidget *KavrelMiniWindowCoordinator::mainWindow() const
{
    // Asked several times a second while listening; the list of top-level widgets is gathered
    // from every widget of the program, so the window found last time is asked first.
    const QString title = ApplicationInfo::displayName();
    if (m_lastMainWindow && m_lastMainWindow->isWindow() && m_lastMainWindow->windowTitle() == title)
        return m_lastMainWindow;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isWindow() && window->windowTitle() == title) {
            m_lastMainWindow = window;
            return window;
        }
    }
    return nullptr;
}

bool KavrelMiniWindowCoordinator::isMiniWindow(const QWidget *window) const
{
    if (!window || !window->isWindow())
        return false;
    if (window->objectName() == QLatin1String(miniWindowIdentifier))
        return true;
    return window->windowTitle() == KavrelLocalizationStore::shared().localized(QStringLiteral("Listening"));
}

QList<QWidget *> KavrelMiniWindowCoordinator::miniWindows() const
{
    // Asked four times a second while listening. A mini window has been on the screen, so it has
    // a window of the windowing system; walking those is cheap, where the list of top-level
    // widgets is gathered from every widget of the program.
    QList<QWidget *> windows;
    for (QWindow *handle : QGuiApplication::topLevelWindows()) {
        if (!handle->handle())
            continue;
        QWidget *window = QWidget::find(handle->winId());
        if (isMiniWindow(window))
            windows.append(window);
    }
    return windows;
}

void KavrelMiniWindowCoordinator::closeMiniWindow(bool restoringMainWindow)
{
    bool hadKeyboard = false;
    for (QWidget *window : miniWindows()) {
        hadKeyboard = hadKeyboard || window->isActiveWindow();
        window->close();
    }
    if (!restoringMainWindow || !m_mainWindowHiddenForMiniWindow)
        return;
    QWidget *window = restoreHiddenMainWindow();
    // The keyboard of a mini window that goes away would go nowhere (the window manager names
    // the window gone as the active one): the main window in its place takes it, on its landing,
    // which no key can press.
    if (hadKeyboard && window)
        KavrelWindowFront::bringForward(window, KavrelWindowFront::Focus::take);
}

QWidget *KavrelMiniWindowCoordinator::restoreHiddenMainWindow()
{
    QWidget *window = m_mainWindowHiddenForMiniWindow;
    clearRecord();
    if (window)
        orderFront(window);
    return window;
}

void KavrelMiniWindowCoordinator::restoreMinimizedMainWindow()
{
    QWidget *window = mainWindow();
    if (!window || !window->isVisible() || !KavrelWindowFront::isMinimized(window))
        return;
    KavrelWindowFront::bringForward(window, KavrelWindowFront::Focus::take);
    noteMainWindowRevealed();
}

void KavrelMiniWindowCoordinator::hideAllWindowsForBackgroundMode()
{
    closeMiniWindow(false);
    if (!m_mainWindowHiddenForMiniWindow)
        m_mainWindowHiddenForMiniWindow = mainWindow();
    m_hiddenMainWindowBounds.reset();
    m_coveringApplicationPID.reset();
    // A question open over a window waits for the user with it, to come back when it does:
    // hiding answers nothing.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (isProgramWindow(window) && window->isVisible() && !isMiniWindow(window))
            KavrelWindowFront::sendAway(window);
    }
}

void KavrelMiniWindowCoordinator::hideMainWindowIfNeeded()
{
    if (m_mainWindowHiddenForMiniWindow)
        return;
    QWidget *window = mainWindow();
    if (!window || !window->isVisible() || KavrelWindowFront::isMinimized(window))
        return;
    const std::optional<X11WindowListSnapshot> list = m_windowList();
    if (!list || list->windows.empty())
        return;
    const std::optional<QRectF> bounds = KavrelWindowCoverage::boundsOfWindow(list, quint32(window->winId()));
    if (!bounds)
        return;
    m_hiddenMainWindowBounds = bounds;
    // The application in front, or, where the list still has this program in front, the one
    // whose window lies over the main window: a later click on the mini window leaves this
    // program in front, and the main window stays hidden while that application covers it.
    m_coveringApplicationPID = KavrelWindowCoverage::coveringProcess(list, quint32(window->winId()), m_ownProcessId);
    m_mainWindowHiddenForMiniWindow = window;
    window->hide();
}

void KavrelMiniWindowCoordinator::hideMainWindowClosedWhileListening()
{
    QWidget *window = mainWindow();
    if (!window)
        return;
    clearRecord();
    m_mainWindowHiddenForMiniWindow = window;
    m_hiddenMainWindowClosed = true;
    window->hide();
}

bool KavrelMiniWindowCoordinator::isMiniWindowVisible() const
{
    for (QWidget *window : miniWindows()) {
        if (window->isVisible())
            return true;
    }
    return false;
}

void KavrelMiniWindowCoordinator::configureMiniWindow(QWidget *window)
{
    window->setObjectName(QString::fromLatin1(miniWindowIdentifier));
    // A utility window, kept out of the taskbar. Under XWayland the compositor's window manager
    // may never give such a window the keyboard (weston's places it as it does a menu, and a
    // click on it activates nothing): there it is a normal window, so that a click gives it the
    // keyboard and its Ctrl+Q quits where no tray holds Quit.
    const bool underXWayland = X11WindowHints::isX11() && X11WindowList::isWaylandSession();
    window->setWindowFlags((underXWayland ? Qt::Window : Qt::Tool) | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    // It floats beside the meeting: showing it never takes the keyboard from it (a Wayland
    // compositor may give the keyboard to every window it maps).
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setMinimumSize(420, 300);
    window->setMaximumSize(960, 680);
}

bool KavrelMiniWindowCoordinator::isProgramWindow(const QWidget *widget)
{
    return widget && widget->isWindow() && widget->windowType() != Qt::Popup && widget->windowType() != Qt::ToolTip
           && !widget->inherits("QSystemTrayIconSys");
}

void KavrelMiniWindowCoordinator::presentMiniWindowOverOtherApps()
{
    for (QWidget *window : miniWindows()) {
        if (!(window->windowFlags() & Qt::WindowStaysOnTopHint)) {
            window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        }
        KavrelWindowFront::bringForward(window, KavrelWindowFront::Focus::leave);
        X11WindowPlacement::showOnAllDesktops(window->winId());
    }
}

bool KavrelMiniWindowCoordinator::shouldPresentMiniWindow() const
{
    QWidget *window = mainWindow();
    if (!window)
        return true;
    if (window == m_mainWindowHiddenForMiniWindow) {
        if (m_hiddenMainWindowClosed)
            return true;
        return KavrelWindowCoverage::isHiddenWindowStillCovered(m_windowList(), m_hiddenMainWindowBounds, m_ownProcessId,
                                                                m_coveringApplicationPID);
    }
    const bool exposed = window->windowHandle() && window->windowHandle()->isExposed();
    if (!window->isVisible() || KavrelWindowFront::isMinimized(window))
        return true;
    const std::optional<X11WindowListSnapshot> list = m_windowList();
    const quint32 id = quint32(window->winId());
    if (isSettling() && !KavrelWindowCoverage::boundsOfWindow(list, id))
        return false; // just brought back and not listed yet: it is on its way to the screen
    if (!exposed && !isSettling())
        return true;
    return KavrelWindowCoverage::isWindowFullyCoveredByOtherApps(list, id, m_ownProcessId);
}

void KavrelMiniWindowCoordinator::clearRecord()
{
    m_mainWindowHiddenForMiniWindow = nullptr;
    m_hiddenMainWindowBounds.reset();
    m_coveringApplicationPID.reset();
    m_hiddenMainWindowClosed = false;
}

void KavrelMiniWindowCoordinator::orderFront(QWidget *window)
{
    KavrelWindowFront::bringForward(window, KavrelWindowFront::Focus::leave);
    noteMainWindowRevealed();
}

void KavrelMiniWindowCoordinator::noteMainWindowRevealed()
{
    m_revealedAt.start();
}

bool KavrelMiniWindowCoordinator::isSettling() const
{
    return m_revealedAt.isValid() && m_revealedAt.elapsed() < m_settleTime.count();
}
