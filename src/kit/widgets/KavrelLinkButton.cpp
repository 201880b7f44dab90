#include "kit/widgets/KavrelLinkButton.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"

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
    // Room round the text for the focus ring.
    return QSize(metrics.horizontalAdvance(text()) + 12, metrics.height() + 8);
}

void KavrelLinkButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor color = KavrelFocusHold::looksAvailable(this) ? m_look.color.resolve(palette())
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
    const double ring = KavrelFocusRing::width / 2;
    KavrelFocusRing::paint(painter, this,
                           KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(ring, ring, -ring, -ring), 5),
                           palette().color(QPalette::Window));
}

void KavrelLinkButton::keyPressEvent(QKeyEvent *event)
{
    if (!KavrelButtonKeys::pressOnReturn(this, event))
        QAbstractButton::keyPressEvent(event);
}
