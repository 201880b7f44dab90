#include "app/widgets/KavrelListeningMiniWindow.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "platform/X11WindowPlacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleHints>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace {

constexpr int gripSize = 6;
constexpr int screenMargin = 24;
const char *edgesProperty = "kavrelResizeEdges";

} // namespace

KavrelListeningMiniWindow::KavrelListeningMiniWindow(KavrelSessionSurface &session, KavrelPresentationStore &presentation,
                                                     UserDefaults &defaults, std::function<void()> openMainWindow,
                                                     QWidget *parent)
    : QWidget(parent)
{
    KavrelMiniWindowCoordinator::configureMiniWindow(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(KavrelLocalizationStore::shared().localized(QStringLiteral("Listening")));
    m_view = new KavrelListeningMiniView(session, presentation, defaults, std::move(openMainWindow));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    // Thin grips along the edges and corners resize the window through the window manager.
    const QList<QPair<Qt::Edges, Qt::CursorShape>> grips = {
        {Qt::LeftEdge, Qt::SizeHorCursor}, {Qt::RightEdge, Qt::SizeHorCursor},
        {Qt::TopEdge, Qt::SizeVerCursor}, {Qt::BottomEdge, Qt::SizeVerCursor},
        {Qt::TopEdge | Qt::LeftEdge, Qt::SizeFDiagCursor}, {Qt::BottomEdge | Qt::RightEdge, Qt::SizeFDiagCursor},
        {Qt::TopEdge | Qt::RightEdge, Qt::SizeBDiagCursor}, {Qt::BottomEdge | Qt::LeftEdge, Qt::SizeBDiagCursor},
    };
    for (const auto &[edges, cursor] : grips) {
        auto *grip = new QWidget(this);
        grip->setCursor(cursor);
        grip->setProperty(edgesProperty, int(edges));
        grip->installEventFilter(this);
        m_grips.append(grip);
    }
    // It opens on the screen the user is working on: the one under the pointer.
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(initialGeometry(KavrelScreenFit::freeArea(screen), sizeHint(), minimumSize()));
    else
        resize(sizeHint());
    // It stays within reach when its screen goes away or shrinks, as the other windows do.
    KavrelScreenFit::keepOnScreen(this);
}

QRect KavrelListeningMiniWindow::initialGeometry(const QRect &available, QSize preferred, QSize minimum)
{
    const auto fit = [](int wanted, int least, int room) { return std::max(least, std::min(wanted, room - 2 * screenMargin)); };
    const int width = fit(preferred.width(), minimum.width(), available.width());
    const int height = fit(preferred.height(), minimum.height(), available.height());
    const int x = std::max(available.left(), available.left() + available.width() - screenMargin - width);
    const int y = std::max(available.top(), available.top() + available.height() - screenMargin - height);
    return QRect(x, y, width, height);
}

void KavrelListeningMiniWindow::placeGrips()
{
    const int w = width();
    const int h = height();
    for (QWidget *grip : m_grips) {
        const auto edges = Qt::Edges(grip->property(edgesProperty).toInt());
        const int left = edges & Qt::RightEdge ? w - gripSize : 0;
        const int top = edges & Qt::BottomEdge ? h - gripSize : 0;
        const bool horizontalOnly = edges == Qt::LeftEdge || edges == Qt::RightEdge;
        const bool verticalOnly = edges == Qt::TopEdge || edges == Qt::BottomEdge;
        if (horizontalOnly)
            grip->setGeometry(left, gripSize, gripSize, h - 2 * gripSize);
        else if (verticalOnly)
            grip->setGeometry(gripSize, top, w - 2 * gripSize, gripSize);
        else
            grip->setGeometry(left, top, gripSize, gripSize);
        grip->raise();
    }
}

void KavrelListeningMiniWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeGrips();
}

void KavrelListeningMiniWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    X11WindowPlacement::showOnAllDesktops(winId());
}

bool KavrelListeningMiniWindow::press(QMouseEvent *event, Qt::Edges edges)
{
    if (event->button() != Qt::LeftButton || !windowHandle())
        return false;
    // Handed over at the press, a tap (a touchpad's, or a quick click) leaves the window manager
    // moving the window after the button is already up: it follows the pointer until the next
    // click.
    m_press = Press{event->globalPosition().toPoint(), edges};
    return true;
}

bool KavrelListeningMiniWindow::follow(QMouseEvent *event)
{
    if (!m_press || !windowHandle())
        return false;
    if (!(event->buttons() & Qt::LeftButton)) {
        m_press.reset();
        return false;
    }
    const QPoint travelled = event->globalPosition().toPoint() - m_press->globalPosition;
    if (travelled.manhattanLength() < QGuiApplication::styleHints()->startDragDistance())
        return true;
    const Qt::Edges edges = std::exchange(m_press, std::nullopt)->edges;
    // The window manager follows the pointer from where it is when it takes over; on a busy
    // machine that may be the end of the drag. The window first catches up with what the
    // pointer has travelled, so it keeps to the place the press took it by.
    const QRect followed = followedGeometry(geometry(), edges, travelled, minimumSize(), maximumSize());
    if (followed != geometry())
        setGeometry(followed);
    if (edges)
        windowHandle()->startSystemResize(edges);
    else
        windowHandle()->startSystemMove();
    return true;
}

QRect KavrelListeningMiniWindow::followedGeometry(const QRect &geometry, Qt::Edges edges, QPoint travelled, QSize minimum,
                                                  QSize maximum)
{
    if (!edges)
        return geometry.translated(travelled);
    QRect followed = geometry;
    // Each edge moves by the pointer's travel along its axis, as far as the size allows.
    const auto bounded = [](int size, int least, int most) { return std::clamp(size, least, std::max(least, most)); };
    if (edges & Qt::LeftEdge)
        followed.setLeft(geometry.right() + 1 - bounded(geometry.width() - travelled.x(), minimum.width(), maximum.width()));
    else if (edges & Qt::RightEdge)
        followed.setWidth(bounded(geometry.width() + travelled.x(), minimum.width(), maximum.width()));
    if (edges & Qt::TopEdge)
        followed.setTop(geometry.bottom() + 1 - bounded(geometry.height() - travelled.y(), minimum.height(), maximum.height()));
    else if (edges & Qt::BottomEdge)
        followed.setHeight(bounded(geometry.height() + travelled.y(), minimum.height(), maximum.height()));
    return followed;
}

void KavrelListeningMiniWindow::mousePressEvent(QMouseEvent *event)
{
    // A press on the background (nothing under it took it) may start a move.
    if (press(event, {})) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void KavrelListeningMiniWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (follow(event)) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void KavrelListeningMiniWindow::mouseReleaseEvent(QMouseEvent *event)
{
    m_press.reset();
    QWidget::mouseReleaseEvent(event);
}

bool KavrelListeningMiniWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (m_grips.contains(qobject_cast<QWidget *>(watched))) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (press(static_cast<QMouseEvent *>(event), Qt::Edges(watched->property(edgesProperty).toInt())))
                return true;
            break;
        case QEvent::MouseMove:
            if (follow(static_cast<QMouseEvent *>(event)))
                return true;
            break;
        case QEvent::MouseButtonRelease:
            m_press.reset();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void KavrelListeningMiniWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QPainterPath frame;
    frame.addRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    KavrelPainting::fillAndStroke(painter, frame, palette().color(QPalette::Window),
                                  KavrelSystemColors::secondaryLabel.resolve(palette(), 0.25));
}
