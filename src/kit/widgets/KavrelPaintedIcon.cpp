#include "kit/widgets/KavrelPaintedIcon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>

namespace {

class PaintedIconEngine final : public QIconEngine
{
public:
    explicit PaintedIconEngine(KavrelIconPainter painter) : m_painter(std::move(painter)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        m_painter(*painter, rect, mode);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QIconEngine *clone() const override { return new PaintedIconEngine(m_painter); }
    QString key() const override { return QStringLiteral("KavrelPaintedIcon"); }

private:
    KavrelIconPainter m_painter;
};

} // namespace

QIcon kavrelPaintedIcon(KavrelIconPainter painter)
{
    return QIcon(new PaintedIconEngine(std::move(painter)));
}
