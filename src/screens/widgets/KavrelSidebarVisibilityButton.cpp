#include "screens/widgets/KavrelSidebarVisibilityButton.h"

#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelFocusRing.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "screens/widgets/KavrelScreenSymbols.h"

#include <QPainter>
#include <QPainterPath>

KavrelSidebarVisibilityButton::KavrelSidebarVisibilityButton(QWidget *parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
    m_sidebarHidden = true;
    setSidebarHidden(false);
}

void KavrelSidebarVisibilityButton::setSidebarHidden(bool hidden)
{
    if (m_sidebarHidden == hidden)
        return;
    m_sidebarHidden = hidden;
    const QString title =
        KavrelLocalizationStore::shared().localized(hidden ? QStringLiteral("Show sidebar") : QStringLiteral("Hide sidebar"));
    setToolTip(title);
    setAccessibleName(title);
    update();
}

void KavrelSidebarVisibilityButton::keyPressEvent(QKeyEvent *event)
{
    if (!KavrelButtonKeys::pressOnReturn(this, event))
        QAbstractButton::keyPressEvent(event);
}

void KavrelSidebarVisibilityButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.7);
    if (underMouse())
        painter.fillPath(KavrelPainting::continuousRoundedRect(QRectF(rect()), 6), KavrelShellTheme::buttonIcon.resolve(palette(), 0.08));
    const double ring = KavrelFocusRing::width / 2;
    KavrelFocusRing::paint(painter, this, KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(ring, ring, -ring, -ring), 5),
                           palette().color(QPalette::Window));
    const qreal side = 16;
    KavrelScreenSymbols::paint(painter, QRectF((width() - side) / 2, (height() - side) / 2, side, side),
                               QStringLiteral("sidebar.left"), KavrelShellTheme::buttonIcon.resolve(palette()));
    if (m_sidebarHidden) {
        // The dot sits on the top-trailing corner, ringed in the window's colour.
        const QPointF centre(width() - 3 - 2, 3 + 1);
        QPainterPath dot;
        dot.addEllipse(centre, 3, 3);
        painter.setPen(QPen(KavrelSystemColors::windowBackground.resolve(palette()), 1.5));
        painter.setBrush(QColor::fromRgbF(0.96f, 0.55f, 0.14f));
        painter.drawPath(dot);
    }
}
