#include "screens/widgets/KavrelSidebarRevealTab.h"

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelFocusRing.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "screens/KavrelWorkspaceShellModel.h"
#include "screens/widgets/KavrelScreenSymbols.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {
constexpr QSize tabSize(15, 40);
// Room around the tab for its shadow.
constexpr int shadowMargin = 6;
} // namespace

KavrelSidebarRevealTab::KavrelSidebarRevealTab(QWidget *parent) : QWidget(parent)
{
    const QString title = KavrelLocalizationStore::shared().localized(QStringLiteral("Show sidebar"));
    setToolTip(title);
    setAccessibleName(title);
    KavrelAccessibleFactory::registerWidget(staticMetaObject, QAccessible::Button);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(tabSize.width() + shadowMargin, tabSize.height() + 2 * shadowMargin);
}

QPainterPath KavrelSidebarRevealTab::shape(const QRectF &rect, qreal cornerRadius)
{
    const qreal r = std::min(rect.width(), std::min(rect.height() * 0.5, cornerRadius));
    QPainterPath path;
    path.moveTo(rect.left(), rect.top());
    path.lineTo(rect.right() - r, rect.top());
    path.quadTo(QPointF(rect.right(), rect.top()), QPointF(rect.right(), rect.top() + r));
    path.lineTo(rect.right(), rect.bottom() - r);
    path.quadTo(QPointF(rect.right(), rect.bottom()), QPointF(rect.right() - r, rect.bottom()));
    path.lineTo(rect.left(), rect.bottom());
    path.closeSubpath();
    return path;
}

void KavrelSidebarRevealTab::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tab(0, shadowMargin, tabSize.width(), tabSize.height());
    const QPainterPath outline = shape(tab.adjusted(0, 0.5, -0.5, -0.5), 7);
    KavrelPainting::drawSoftShadow(painter, outline, QColor(0, 0, 0, 20), 5, QPointF(2, 0));
    KavrelPainting::fillAndStroke(painter, outline, KavrelShellTheme::sidebarPanelFill.resolve(palette()),
                                  KavrelShellTheme::sidebarPanelBorder.resolve(palette()));
    KavrelFocusRing::paint(painter, this, shape(tab.adjusted(0, 1, -1, -1), 6.5),
                           KavrelShellTheme::sidebarPanelFill.resolve(palette()));
    KavrelScreenSymbols::paint(painter, QRectF(tab.center() - QPointF(4.5, 4.5), QSizeF(9, 9)), QStringLiteral("chevron.right"),
                               KavrelShellTheme::buttonIcon.resolve(palette()));
}

void KavrelSidebarRevealTab::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressPosition = event->position();
}

void KavrelSidebarRevealTab::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_pressPosition)
        return;
    const QPointF translation = event->position() - *m_pressPosition;
    m_pressPosition.reset();
    // A press that hardly moved is a click, which reveals wherever it ends on the tab.
    const bool isClick = std::hypot(translation.x(), translation.y()) < KavrelSidebarReveal::minimumDragDistance;
    if (isClick && !rect().contains(event->position().toPoint()))
        return;
    if (KavrelSidebarReveal::revealsOnRelease(translation))
        Q_EMIT revealRequested();
}

void KavrelSidebarRevealTab::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Q_EMIT revealRequested();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
