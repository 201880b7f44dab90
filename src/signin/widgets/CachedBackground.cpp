#include "signin/widgets/CachedBackground.h"

#include <QPainter>
#include <QPaintDevice>
#include <QWidget>

void CachedBackground::paint(QPainter &painter, const QWidget &widget, const QList<QRect> &cardGeometry,
                             const std::function<void(QPainter &)> &draw)
{
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const Key key{widget.size(), cardGeometry, widget.palette().cacheKey(), ratio};
    if (!(key == m_key) || m_image.isNull()) {
        m_image = QImage(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        m_image.setDevicePixelRatio(ratio);
        m_image.fill(Qt::transparent);
        QPainter imagePainter(&m_image);
        imagePainter.setRenderHint(QPainter::Antialiasing);
        draw(imagePainter);
        m_key = key;
    }
    painter.drawImage(QPointF(0, 0), m_image);
}
