#include "screens/widgets/KavrelSidebarUpdateButton.h"

#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelFocusRing.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelPainting.h"
#include "screens/widgets/KavrelScreenSymbols.h"

#include <QKeyEvent>
#include <QPainter>

namespace {
// The button sits 34 px high with room under it for its shadow.
constexpr qreal buttonHeight = 34;
} // namespace

KavrelSidebarUpdateButton::KavrelSidebarUpdateButton(QWidget *parent) : QAbstractButton(parent)
{
    const KavrelLocalizationStore &store = KavrelLocalizationStore::shared();
    setText(store.localized(QStringLiteral("Update")));
    setToolTip(store.localized(QStringLiteral("Install available update")));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(44);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont titleFont = font();
    titleFont.setPixelSize(12);
    titleFont.setBold(true);
    setFont(titleFont);
}

void KavrelSidebarUpdateButton::keyPressEvent(QKeyEvent *event)
{
    if (!KavrelButtonKeys::pressOnReturn(this, event))
        QAbstractButton::keyPressEvent(event);
}

void KavrelSidebarUpdateButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.8);
    const QColor blue = QColor::fromRgbF(0.1f, 0.42f, 0.84f);
    const QRectF area(0.5, 0.5, width() - 1, buttonHeight - 1);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(area, 15);
    QColor shadow = blue;
    shadow.setAlphaF(0.22f);
    KavrelPainting::drawSoftShadow(painter, shape, shadow, 10, QPointF(0, 5));
    KavrelPainting::fillAndStroke(painter, shape, blue, QColor(255, 255, 255, 56));
    KavrelFocusRing::paint(painter, this, KavrelPainting::continuousRoundedRect(area.adjusted(2, 2, -2, -2), 13), blue);
    const QFontMetricsF metrics(font());
    const qreal symbolSide = 14;
    const qreal textWidth = metrics.horizontalAdvance(text());
    qreal x = (width() - symbolSide - 6 - textWidth) / 2;
    KavrelScreenSymbols::paint(painter, QRectF(x, (buttonHeight - symbolSide) / 2, symbolSide, symbolSide),
                               QStringLiteral("arrow.down.circle.fill"), Qt::white);
    x += symbolSide + 6;
    painter.setPen(Qt::white);
    painter.drawText(QRectF(x, 0, textWidth + 1, buttonHeight), Qt::AlignLeft | Qt::AlignVCenter, text());
}
