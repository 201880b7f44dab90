#pragma once

#include <QImage>
#include <QList>
#include <QRect>

#include <functional>

class QPainter;
class QWidget;

// A screen's background (gradient and blurred card shadows) drawn once and reused until the
// screen's size, its cards' places, its palette or the device's pixel ratio change. Blurring
// a shadow is far too slow to redo for every cursor blink in a text field.
class CachedBackground final
{
public:
    void paint(QPainter &painter, const QWidget &widget, const QList<QRect> &cardGeometry,
               const std::function<void(QPainter &)> &draw);

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
};
