#include "kit/widgets/KavrelScreenFit.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <optional>

namespace {

// The decorations around a window: what the window manager reports, else what it reported
// while the window was last on the screen (a hidden window has none), else a title bar.
QMargins decorations(const QWidget *window, const QMargins &reported)
{
    const QWindow *handle = window->windowHandle();
    const QMargins known = handle ? handle->frameMargins() : QMargins();
    if (!known.isNull())
        return known;
    if (window->windowFlags() & Qt::FramelessWindowHint)
        return QMargins();
    if (!reported.isNull())
        return reported;
    return QMargins(0, KavrelScreenFit::assumedTitleBarHeight, 0, 0);
}

// Lays the window's content out at once, from the innermost layouts outwards. Content that
// lowered its minimum for the screen tells only the layout it sits in; each layout passes that
// one level up on a later turn of the event loop, so the window's own layout would hold the
// window at the old minimum for as many turns as its content is deep.
void settleLayouts(QWidget *window)
{
    const QList<QWidget *> inside = window->findChildren<QWidget *>();
    // Children come after their parents in the list.
    for (auto it = inside.crbegin(); it != inside.crend(); ++it) {
        QWidget *widget = *it;
        if (widget->layout() && widget->window() == window)
            widget->layout()->activate();
    }
    if (window->layout())
        window->layout()->activate();
}

QRect availableGeometry(const QWidget *widget)
{
    QScreen *screen = widget->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? KavrelScreenFit::freeArea(screen) : QRect();
}

std::optional<bool> freeAreaTold;

} // namespace

void KavrelScreenFit::setFreeAreaTold(bool told)
{
    freeAreaTold = told;
}

QRect KavrelScreenFit::freeArea(const QScreen *screen)
{
    const QRect available = screen->availableGeometry();
    if (!freeAreaTold) {
        // An X11 client of a Wayland desktop (XWayland) learns a free area only where the
        // compositor's window manager writes one, which some do not.
        const QString platform = QGuiApplication::platformName();
        const bool waylandSession = qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
                                    || qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
        freeAreaTold = !platform.startsWith(QLatin1String("wayland"))
                       && !(platform == QLatin1String("xcb") && waylandSession);
    }
    if (*freeAreaTold || available != screen->geometry() || available.height() <= 2 * assumedPanelsHeight)
        return available;
    return available.adjusted(0, assumedPanelsHeight, 0, 0);
}

KavrelScreenFit::KavrelScreenFit(QWidget *widget) : QObject(widget), m_widget(widget)
{
    setObjectName(QStringLiteral("KavrelScreenFit"));
    widget->installEventFilter(this);
}

KavrelScreenFit *KavrelScreenFit::of(QWidget *widget)
{
    if (auto *existing = widget->findChild<KavrelScreenFit *>(QStringLiteral("KavrelScreenFit"), Qt::FindDirectChildrenOnly))
        return existing;
    return new KavrelScreenFit(widget);
}

int KavrelScreenFit::titleBarWidth(const QString &title)
{
    // The icon and three buttons of a title bar, with the gaps around the title.
    constexpr int decorations = 4 * 24 + 2 * 16;
    QFont font = QApplication::font();
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(title) + decorations;
}

void KavrelScreenFit::keepTitleWhole(QWidget *questionBox)
{
    // A question box fits itself to its texts: its main text is held wide enough for the title.
    if (auto *text = questionBox->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
        text->setMinimumWidth(titleBarWidth(questionBox->windowTitle()));
}

QSize KavrelScreenFit::boundedMinimum(QSize wanted, QSize room)
{
    if (room.isEmpty())
        return wanted;
    return wanted.boundedTo(room).expandedTo(QSize(0, 0));
}

QRect KavrelScreenFit::placedInside(const QRect &frame, const QRect &available)
{
    if (available.isEmpty())
        return frame;
    QRect placed(frame.topLeft(), frame.size().boundedTo(available.size()));
    placed.moveLeft(std::clamp(placed.left(), available.left(), available.right() + 1 - placed.width()));
    placed.moveTop(std::clamp(placed.top(), available.top(), available.bottom() + 1 - placed.height()));
    return placed;
}

void KavrelScreenFit::setMinimumSize(QWidget *widget, QSize wanted)
{
    KavrelScreenFit *fit = of(widget);
    fit->m_wantedMinimum = wanted;
    fit->m_boundsMinimum = true;
    fit->applyMinimum();
}

void KavrelScreenFit::keepOnScreen(QWidget *window)
{
    KavrelScreenFit *fit = of(window);
    fit->m_keepsWindowOnScreen = true;
    if (!window->isVisible())
        return;
    // Kept from now on, it follows its screen as if it had been kept since it was shown.
    fit->followScreen();
    fit->m_wasOnScreen = fit->m_wasOnScreen || fit->isOnScreen();
    fit->fitWindow(fit->isOnScreen() ? Placement::inside : Placement::asPlaced);
}

bool KavrelScreenFit::isOnScreen() const
{
    // Until it is mapped, the window manager may still be placing it.
    return m_widget && m_widget->isVisible() && m_handle && m_handle->isExposed();
}

QSize KavrelScreenFit::room() const
{
    const QRect available = availableGeometry(m_widget);
    if (available.isEmpty())
        return QSize();
    const QWidget *window = m_widget->window();
    const QMargins frame = decorations(window, m_reportedDecorations);
    QSize room = available.size().shrunkBy(frame);
    if (m_widget != window) {
        const QPoint offset = m_widget->mapTo(window, QPoint(0, 0));
        room -= QSize(std::max(0, offset.x()), std::max(0, offset.y()));
    }
    return room.expandedTo(QSize(1, 1));
}

void KavrelScreenFit::applyMinimum()
{
    if (!m_widget)
        return;
    m_fittedDecorations = decorations(m_widget->window(), m_reportedDecorations);
    if (m_boundsMinimum)
        m_widget->setMinimumSize(boundedMinimum(m_wantedMinimum, room()));
}

void KavrelScreenFit::fitWindow(Placement placement, QRect wanted)
{
    QWidget *window = m_widget;
    if (!window || !window->isWindow())
        return;
    // The window manager sizes a maximized or full-screen window to its monitor, wherever it
    // takes it; a resize from here would end that state.
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    const QRect available = availableGeometry(window);
    if (available.isEmpty())
        return;
    const QMargins frame = decorations(window, m_reportedDecorations);
    m_fittedDecorations = frame;
    // Its content may have just changed its own minimum for this screen.
    settleLayouts(window);
    const QRect content = available - frame;
    const QRect placed = placedInside(wanted.isValid() ? wanted : window->geometry(), content);
    if (placement == Placement::sizeOnly || (placement == Placement::asPlaced && !window->testAttribute(Qt::WA_Moved))) {
        // Nobody chose a place for it: the window manager places it, inside the screen once it fits.
        if (placed.size() != window->size())
            window->resize(placed.size());
        return;
    }
    if (placed != window->geometry())
        window->setGeometry(placed);
}

void KavrelScreenFit::refitForDecorations()
{
    if (!m_widget || !m_widget->isVisible() || decorations(m_widget->window(), m_reportedDecorations) == m_fittedDecorations)
        return;
    // A maximized or full-screen window drops or changes its frame; the window manager sizes it.
    if (m_widget->window()->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    refitForScreen();
}

void KavrelScreenFit::followScreen()
{
    if (m_followsScreen || !m_widget || !m_widget->window()->windowHandle())
        return;
    m_followsScreen = true;
    // The window manager reports the decorations some time after the window is mapped, with
    // no event of their own; it moves or resizes the window as it frames it.
    if (m_widget->window() != m_widget)
        m_widget->window()->installEventFilter(this);
    m_handle = m_widget->window()->windowHandle();
    m_handle->installEventFilter(this);
    connect(m_handle, &QWindow::screenChanged, this, [this](QScreen *screen) {
        followFreeArea(screen);
        // Carried across to another screen by the user, it stays where it is taken. Left by a
        // screen that went away, it is moved once it has its new one.
        refitForScreen(isOnScreen() ? Placement::sizeOnly : Placement::asPlaced);
    });
    followFreeArea(m_handle->screen());
    connect(qApp, &QGuiApplication::screenRemoved, this, [this](QScreen *gone) {
        if (!m_keepsWindowOnScreen || !m_widget || !m_widget->isVisible()
            || !m_widget->frameGeometry().intersects(gone->geometry()))
            return;
        // After the signal the window is handed to a remaining screen.
        QMetaObject::invokeMethod(this, &KavrelScreenFit::refitForLostScreen, Qt::QueuedConnection);
    });
}

void KavrelScreenFit::followFreeArea(QScreen *screen)
{
    disconnect(m_freeAreaConnection);
    // A resolution change, or a panel that takes more room, shrinks the screen's free area under
    // a window that is already open; it would stay partly off the screen until shown again.
    if (screen)
        m_freeAreaConnection = connect(screen, &QScreen::availableGeometryChanged, this, &KavrelScreenFit::refitForFreeArea);
}

void KavrelScreenFit::refitForFreeArea()
{
    // The window manager sizes a maximized or full-screen window itself.
    if (!m_widget || !m_widget->isVisible()
        || (m_widget->window()->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    applyMinimum();
    if (!m_keepsWindowOnScreen)
        return;
    applyMinimumsWithin();
    // A window the free area squeezed takes back what it had once the area allows it (a panel
    // that came and went), unless it was moved or resized since.
    QWidget *window = m_widget;
    if (m_geometryBeforeSqueeze.isValid() && window->geometry() != m_squeezedGeometry)
        m_geometryBeforeSqueeze = QRect();
    const QRect wanted = m_geometryBeforeSqueeze.isValid() ? m_geometryBeforeSqueeze : window->geometry();
    // Wherever it was placed, it has its place on the screen by now: it moves inside the
    // smaller area too.
    fitWindow(Placement::inside, wanted);
    if (window->geometry() == wanted) {
        m_geometryBeforeSqueeze = QRect();
    } else {
        m_geometryBeforeSqueeze = wanted;
        m_squeezedGeometry = window->geometry();
    }
}

void KavrelScreenFit::applyMinimumsWithin()
{
    // The window's layout holds it at its content's minimum: each content's own fit may not
    // have heard of the change yet.
    for (KavrelScreenFit *content : m_widget->findChildren<KavrelScreenFit *>())
        content->applyMinimum();
}

void KavrelScreenFit::refitForLostScreen()
{
    if (!m_widget || !m_widget->isVisible()
        || (m_widget->window()->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    // What a smaller free area once squeezed it from lay on a screen that is gone.
    m_geometryBeforeSqueeze = QRect();
    applyMinimum();
    applyMinimumsWithin();
    fitWindow(Placement::inside);
}

void KavrelScreenFit::refitForScreen(Placement placement)
{
    applyMinimum();
    if (m_keepsWindowOnScreen)
        fitWindow(placement);
}

void KavrelScreenFit::returnToPlace()
{
    applyMinimum();
    fitWindow(Placement::inside);
    // Shown again without a place of its own, the window manager would place it anew (openbox
    // in the top-left corner), wherever the user had put it.
    if (m_handle)
        m_handle->setGeometry(m_widget->geometry());
}

bool KavrelScreenFit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_widget && event->type() == QEvent::Show) {
        // The window's place and decorations are known by now (or assumed); the screen may
        // not be the one the widget was made for.
        // Shown again by the program; a window restored from minimized is shown by the window
        // manager, in its place.
        if (m_keepsWindowOnScreen && m_wasOnScreen && !m_widget->parentWidget() && !event->spontaneous()
            && !(m_widget->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
            returnToPlace();
        else
            refitForScreen();
        followScreen();
    } else if (watched == m_handle && event->type() == QEvent::Expose && m_handle->isExposed()) {
        m_wasOnScreen = true;
    } else if (m_widget && watched == m_widget->window()
               && (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::WindowActivate)) {
        if (isOnScreen() && !m_handle->frameMargins().isNull())
            m_reportedDecorations = m_handle->frameMargins();
        refitForDecorations();
    }
    return QObject::eventFilter(watched, event);
}
