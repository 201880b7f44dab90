#include "screens/widgets/KavrelAvatarView.h"

#include "kit/widgets/KavrelPainting.h"
#include "base/Async.h"
#include "screens/KavrelAvatarLoader.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

KavrelAvatarView::KavrelAvatarView(KavrelAvatarLoader *loader, const Look &look, QWidget *parent)
    : QWidget(parent), m_loader(loader), m_look(look)
{
    const int side = int(std::ceil(look.discSize)) + 2;
    setFixedSize(side, side);
    if (loader)
        connect(loader, &KavrelAvatarLoader::imageLoaded, this, &KavrelAvatarView::pictureLoaded);
}

void KavrelAvatarView::setAvatar(const QString &initials, const std::optional<QString> &avatarText)
{
    m_initials = initials;
    const std::optional<QUrl> url = KavrelAvatarLoader::resolvedAvatarURL(avatarText);
    if (url != m_url) {
        m_url = url;
        m_image = QImage();
        if (m_url && m_loader) {
            if (std::optional<QImage> cached = m_loader->cachedImage(*m_url)) {
                m_image = *cached;
            } else {
                QPointer<KavrelAvatarLoader> loader = m_loader;
                const QUrl address = *m_url;
                // The loader announces the picture through imageLoaded(), which every view of
                // the same address follows.
                spawnTask([loader, address](CancellationToken) -> QCoro::Task<void> {
                    if (loader)
                        co_await loader->load(address);
                });
            }
        }
    }
    update();
}

void KavrelAvatarView::pictureLoaded(const QUrl &url)
{
    if (!m_url || *m_url != url || !m_loader)
        return;
    if (std::optional<QImage> image = m_loader->cachedImage(url)) {
        m_image = *image;
        update();
    }
}

void KavrelAvatarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPointF centre = QRectF(rect()).center();

    QPainterPath disc;
    disc.addEllipse(centre, m_look.discSize / 2, m_look.discSize / 2);
    painter.fillPath(disc, m_look.surface.resolve(palette()));

    QPainterPath picture;
    picture.addEllipse(centre, m_look.pictureSize / 2, m_look.pictureSize / 2);
    const QRectF pictureRect = picture.boundingRect();
    if (!m_image.isNull()) {
        painter.save();
        painter.setClipPath(picture);
        // Fills the circle, cropping the longer side.
        const QSizeF imageSize = m_image.size();
        const qreal scale = std::max(pictureRect.width() / imageSize.width(), pictureRect.height() / imageSize.height());
        const QSizeF drawn = imageSize * scale;
        painter.drawImage(QRectF(centre - QPointF(drawn.width() / 2, drawn.height() / 2), drawn), m_image);
        painter.restore();
    } else {
        KavrelPainting::fillGradient(painter, picture, QColor::fromRgbF(0.91f, 0.23f, 0.18f), QColor::fromRgbF(0.25f, 0.45f, 0.95f));
        QFont initialsFont = font();
        initialsFont.setPixelSize(m_look.initialsPixelSize);
        initialsFont.setBold(true);
        painter.setFont(initialsFont);
        painter.setPen(Qt::white);
        painter.drawText(pictureRect, Qt::AlignCenter, m_initials.isEmpty() ? QStringLiteral("?") : m_initials);
    }

    painter.setPen(QPen(m_look.ring.resolve(palette()), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, m_look.discSize / 2, m_look.discSize / 2);
}
