#include "workspace/widgets/EmptyPanelPlaceholder.h"

#include "kit/KavrelPalette.h"

#include <QEvent>
#include <QFontDatabase>

EmptyPanelPlaceholder::EmptyPanelPlaceholder(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setContentsMargins(24, 24, 24, 24);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(13);
    setFont(mono);
    applyColours();
}

void EmptyPanelPlaceholder::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColours();
}

void EmptyPanelPlaceholder::applyColours()
{
    QPalette colours = palette();
    const QColor secondary = KavrelSystemColors::secondaryLabel.resolve(colours);
    if (colours.color(QPalette::WindowText) == secondary)
        return;
    colours.setColor(QPalette::WindowText, secondary);
    setPalette(colours);
}
