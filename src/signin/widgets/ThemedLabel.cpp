#include "signin/widgets/ThemedLabel.h"

#include <QEvent>
#include <QFontDatabase>

ThemedLabel::ThemedLabel(const QString &text, int pixelSize, QFont::Weight weight, KavrelDynamicColor color,
                         QWidget *parent)
    : QLabel(parent)
    , m_color(color)
{
    // Texts from the network are shown as they are, never as markup.
    setTextFormat(Qt::PlainText);
    setText(text);
    setFont(font(pixelSize, weight));
    applyColor();
}

QFont ThemedLabel::font(int pixelSize, QFont::Weight weight, bool monospaced)
{
    QFont font = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

void ThemedLabel::setColor(KavrelDynamicColor color, double opacity)
{
    m_color = color;
    m_opacity = opacity;
    applyColor();
}

void ThemedLabel::setMonospaced(bool monospaced)
{
    const QFont current = QLabel::font();
    setFont(font(current.pixelSize(), QFont::Weight(current.weight()), monospaced));
}

void ThemedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColor();
}

void ThemedLabel::applyColor()
{
    const QColor color = m_color.resolve(palette(), m_opacity);
    if (palette().color(QPalette::WindowText) == color)
        return;
    QPalette own = palette();
    own.setColor(QPalette::WindowText, color);
    own.setColor(QPalette::Text, color);
    setPalette(own);
}
