#include "history/widgets/KavrelHistoryCardFrame.h"

#include "kit/widgets/KavrelPainting.h"

#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>

#include <cmath>

KavrelHistoryCardFrame::KavrelHistoryCardFrame(const Look &look, QWidget *parent) : QWidget(parent), m_look(look)
{
}

void KavrelHistoryCardFrame::paintShadow(QPainter &painter, const QRectF &card, double radius, double opacity,
                                         double blurRadius, double offset)
{
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const double margin = std::ceil(2 * blurRadius + std::abs(offset));
    // Away from the corners every row of the shadow is the same: a tall card (a long meeting's
    // transcript) draws the shadow of a short one with its middle row stretched, rather than
    // blurring an image as tall as itself.
    const double plain = std::ceil(2 * radius + 2 * margin) + 1;
    const bool stretches = card.height() > 2 * plain + 1;
    const QSizeF drawn(card.width(), stretches ? 2 * plain + 1 : card.height());
    const QString key = QStringLiteral("kavrel-history-shadow-%1x%2-%3-%4-%5-%6-%7")
                            .arg(drawn.width())
                            .arg(drawn.height())
                            .arg(radius)
                            .arg(opacity)
                            .arg(blurRadius)
                            .arg(offset)
                            .arg(ratio);
    QPixmap shadow;
    if (!QPixmapCache::find(key, &shadow)) {
        const QSizeF size(drawn.width() + 2 * margin, drawn.height() + 2 * margin);
        QImage image((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        {
            QPainter imagePainter(&image);
            QColor color(Qt::black);
            color.setAlphaF(float(opacity));
            KavrelPainting::drawSoftShadow(
                imagePainter, KavrelPainting::continuousRoundedRect(QRectF(QPointF(margin, margin), drawn), radius),
                color, blurRadius, QPointF(0, offset));
        }
        shadow = QPixmap::fromImage(image);
        QPixmapCache::insert(key, shadow);
    }
    const QPointF origin = card.topLeft() - QPointF(margin, margin);
    if (!stretches) {
        painter.drawPixmap(origin, shadow);
        return;
    }
    // Top and bottom as drawn, one device row of the middle stretched over the rest.
    const int pixelWidth = shadow.width();
    const int cut = int(std::round((margin + plain) * ratio));
    const qreal width = pixelWidth / ratio;
    const qreal top = cut / ratio;
    const qreal bottom = (shadow.height() - cut - 1) / ratio;
    const qreal middle = card.height() + 2 * margin - top - bottom;
    painter.drawPixmap(QRectF(origin, QSizeF(width, top)), shadow, QRectF(0, 0, pixelWidth, cut));
    painter.drawPixmap(QRectF(origin + QPointF(0, top), QSizeF(width, middle)), shadow, QRectF(0, cut, pixelWidth, 1));
    painter.drawPixmap(QRectF(origin + QPointF(0, top + middle), QSizeF(width, bottom)), shadow,
                       QRectF(0, cut + 1, pixelWidth, shadow.height() - cut - 1));
}

void KavrelHistoryCardFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(area, m_look.radius);
    if (m_look.shadowOpacity > 0)
        paintShadow(painter, area, m_look.radius, m_look.shadowOpacity, m_look.shadowRadius, m_look.shadowOffset);
    KavrelPainting::fillAndStroke(painter, shape, m_look.fill.resolve(palette(), m_look.fillOpacity),
                                  m_look.stroke.resolve(palette(), m_look.strokeOpacity));
}
