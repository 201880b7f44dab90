#include "screens/widgets/KavrelSettingsUpdateRow.h"

#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelFocusRing.h"

#include "accounts/AppConfigurationStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "screens/widgets/KavrelScreenSymbols.h"

#include <QKeyEvent>
#include <QPainter>
#include <QUrl>

KavrelSettingsUpdateRow::KavrelSettingsUpdateRow(QWidget *parent) : QAbstractButton(parent)
{
    setText(KavrelLocalizationStore::shared().localized(QStringLiteral("Check for Updates...")));
    setToolTip(tooltipText());
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(50);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont titleFont = font();
    titleFont.setPixelSize(14);
    titleFont.setWeight(QFont::DemiBold);
    setFont(titleFont);
}

QString KavrelSettingsUpdateRow::tooltipText()
{
    const QString host = QUrl(AppConfigurationStore::builtInBackendBaseURL()).host();
    return QStringLiteral("КАВРЕЛ проверяет обновления на %1 и спрашивает подтверждение перед установкой новой версии.").arg(host);
}

void KavrelSettingsUpdateRow::keyPressEvent(QKeyEvent *event)
{
    if (!KavrelButtonKeys::pressOnReturn(this, event))
        QAbstractButton::keyPressEvent(event);
}

void KavrelSettingsUpdateRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.75);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath tile = KavrelPainting::continuousRoundedRect(area, 18);
    const double hover = underMouse() ? 1.04 : 1.0;
    KavrelPainting::fillAndStroke(painter, tile, KavrelSettingsTheme::controlFill.resolve(palette(), hover),
                                  KavrelSettingsTheme::controlBorder.resolve(palette()));
    KavrelFocusRing::paint(painter, this, KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 17.5),
                           KavrelSettingsTheme::controlFill.resolve(palette()));
    qreal x = 16;
    KavrelScreenSymbols::paint(painter, QRectF(x, (height() - 18) / 2.0, 18, 18), QStringLiteral("arrow.down.circle.fill"),
                               KavrelSettingsTheme::accent.resolve(palette()));
    x += 18 + 12;
    painter.setPen(KavrelSettingsTheme::primaryText.resolve(palette()));
    const qreal chevron = 12;
    painter.drawText(QRectF(x, 0, width() - x - 16 - chevron - 12, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    KavrelScreenSymbols::paint(painter, QRectF(width() - 16 - chevron, (height() - chevron) / 2.0, chevron, chevron),
                               QStringLiteral("chevron.right"), KavrelSettingsTheme::secondaryText.resolve(palette()));
}
