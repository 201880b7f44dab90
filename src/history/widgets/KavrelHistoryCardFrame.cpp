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
    const QString key = QStringLiteral("kavrel-history-shadow-%1x%2-%3-%4-%5-%6-%7")
                            .arg(card.width())
                            .arg(card.height())
                            .arg(radius)
                            .arg(opacity)
                            .arg(blurRadius)
                            .arg(offset)
                            .arg(ratio);
    QPixmap shadow;
    if (!QPixmapCache::find(key, &shadow)) {
        const QSizeF size(card.width() + 2 * margin, card.height() + 2 * margin);
        QImage image((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        {
            QPainter imagePainter(&image);
            QColor color(Qt::black);
            color.setAlphaF(float(opacity));
            KavrelPainting::drawSoftShadow(
                imagePainter, KavrelPainting::continuousRoundedRect(QRectF(QPointF(margin, margin), card.size()), radius),
                color, blurRadius, QPointF(0, offset));
        }
        shadow = QPixmap::fromImage(image);
        QPixmapCache::insert(key, shadow);
    }
    painter.drawPixmap(card.topLeft() - QPointF(margin, margin), shadow);
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
