#pragma once

#include <QImage>
#include <QList>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>

class QObject;
class QPainter;
class QWidget;

// A screen's background (gradient and blurred card shadows) drawn once and reused until the
// screen's size, its cards' places, its palette or the device's pixel ratio change. Blurring
// a shadow is far too slow to redo for every cursor blink in a text field.
class CachedBackground final
{
public:
    CachedBackground();
    ~CachedBackground();

    void paint(QPainter &painter, const QWidget &widget, const QList<QRect> &cardGeometry,
               const std::function<void(QPainter &)> &draw);

    // Repaints the whole screen whenever one of its cards moves or changes size. A card's
    // shadow reaches past it, where Qt repaints nothing of the screen for the card: the old
    // shadow would stay there, cut off at the card's edges. Once, with all the cards.
    void followCards(QWidget *screen, const QList<QWidget *> &cards);

private:
    struct Key
    {
        QSize size;
        QList<QRect> cards;
        qint64 palette = 0;
        qreal ratio = 0;
        bool operator==(const Key &) const = default;
    };

    Key m_key;
    QImage m_image;
    std::unique_ptr<QObject> m_cardWatcher;
};
