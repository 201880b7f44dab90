#include "signin/widgets/AuthLinkButton.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "signin/widgets/ThemedLabel.h"

#include <QFontMetrics>
#include <QPainter>

AuthLinkButton::AuthLinkButton(const QString &key, int pixelSize, QWidget *parent) : QAbstractButton(parent)
{
    setText(KavrelLocalizationStore::shared().localized(key));
    setFont(ThemedLabel::font(pixelSize, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize AuthLinkButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 4, metrics.height() + 6);
}

void AuthLinkButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor color = isEnabled() ? KavrelSystemColors::accent.resolve(palette())
                                     : KavrelSystemColors::secondaryLabel.resolve(palette(), 0.7);
    painter.setPen(color);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
    if (hasFocus() || underMouse()) {
        const QFontMetrics metrics(font());
        const int width = metrics.horizontalAdvance(text());
        const int baseline = (height() + metrics.ascent() - metrics.descent()) / 2 + 2;
        painter.drawLine((this->width() - width) / 2, baseline, (this->width() + width) / 2, baseline);
    }
}
