#include "screens/widgets/KavrelScreenLabel.h"

#include <QEvent>

KavrelScreenLabel::KavrelScreenLabel(const QString &text, int pixelSize, QFont::Weight weight, KavrelDynamicColor color,
                                     QWidget *parent)
    : QLabel(parent), m_color(color)
{
    setTextFormat(Qt::PlainText);
    setText(text);
    QFont labelFont = font();
    labelFont.setPixelSize(pixelSize);
    labelFont.setWeight(weight);
    setFont(labelFont);
    applyColor();
}

void KavrelScreenLabel::setColor(KavrelDynamicColor color)
{
    m_color = color;
    applyColor();
}

void KavrelScreenLabel::setSelectable(bool selectable)
{
    setTextInteractionFlags(selectable ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard : Qt::NoTextInteraction);
}

void KavrelScreenLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColor();
}

void KavrelScreenLabel::applyColor()
{
    if (m_applying)
        return;
    m_applying = true;
    QPalette labelPalette = palette();
    labelPalette.setColor(QPalette::WindowText, m_color.resolve(labelPalette));
    labelPalette.setColor(QPalette::Text, m_color.resolve(labelPalette));
    setPalette(labelPalette);
    m_applying = false;
}
