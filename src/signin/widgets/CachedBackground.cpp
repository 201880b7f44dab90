#include "signin/widgets/CachedBackground.h"

#include <QEvent>
#include <QPainter>
#include <QPaintDevice>
#include <QWidget>

namespace {

class CardWatcher final : public QObject
{
public:
    explicit CardWatcher(QWidget *screen) : m_screen(screen) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && m_screen)
            m_screen->update();
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWidget> m_screen;
};

} // namespace

CachedBackground::CachedBackground() = default;

CachedBackground::~CachedBackground() = default;

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

void CachedBackground::followCards(QWidget *screen, const QList<QWidget *> &cards)
{
    m_cardWatcher = std::make_unique<CardWatcher>(screen);
    for (QWidget *card : cards)
        card->installEventFilter(m_cardWatcher.get());
}
