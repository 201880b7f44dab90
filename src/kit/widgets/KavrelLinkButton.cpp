#include "kit/widgets/KavrelLinkButton.h"

#include <QFontMetrics>
#include <QPainter>

KavrelLinkButton::KavrelLinkButton(const QString &text, QWidget *parent) : QAbstractButton(parent)
{
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KavrelLinkButton::setLook(const Look &look)
{
    m_look = look;
    update();
}

QSize KavrelLinkButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 4, metrics.height() + 6);
}

void KavrelLinkButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor color = isEnabled() ? m_look.color.resolve(palette())
                                     : m_look.disabledColor.resolve(palette(), m_look.disabledOpacity);
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
