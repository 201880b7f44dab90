#include "workspace/widgets/PrimaryActionButton.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"
#include "workspace/widgets/WorkspaceSymbols.h"

#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int faceHeight = 46;
constexpr int horizontalPadding = 18;
constexpr int spacing = 9;
constexpr int symbolSize = 15;
constexpr int shadowRoom = 8;
} // namespace

PrimaryActionButton::PrimaryActionButton(QWidget *parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void PrimaryActionButton::setContent(const QString &title, const QString &subtitle, const QString &symbol, const QColor &tint)
{
    if (title == text() && subtitle == m_subtitle && symbol == m_symbol && tint == m_tint)
        return;
    setText(title);
    setAccessibleName(title);
    m_subtitle = subtitle;
    m_symbol = symbol;
    m_tint = tint;
    updateGeometry();
    update();
}

QFont PrimaryActionButton::titleFont() const
{
    QFont font = this->font();
    font.setPixelSize(15);
    font.setBold(true);
    return font;
}

QFont PrimaryActionButton::subtitleFont() const
{
    QFont font = this->font();
    font.setPixelSize(10);
    font.setWeight(QFont::DemiBold);
    return font;
}

QSize PrimaryActionButton::sizeHint() const
{
    const int textWidth = std::max(QFontMetrics(titleFont()).horizontalAdvance(text()),
                                   m_subtitle.isEmpty() ? 0 : QFontMetrics(subtitleFont()).horizontalAdvance(m_subtitle));
    return QSize(horizontalPadding * 2 + symbolSize + spacing + textWidth + 2, faceHeight + shadowRoom);
}

void PrimaryActionButton::keyPressEvent(QKeyEvent *event)
{
    if (!KavrelButtonKeys::pressOnReturn(this, event))
        QAbstractButton::keyPressEvent(event);
}

void PrimaryActionButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!KavrelFocusHold::looksAvailable(this))
        painter.setOpacity(0.55);
    const QRectF face(0, 0, width(), faceHeight);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(face, 16);
    QColor shadow = m_tint;
    shadow.setAlphaF(0.28);
    KavrelPainting::drawSoftShadow(painter, shape, shadow, 12, QPointF(0, 5));
    QColor end = m_tint;
    end.setAlphaF(0.82);
    KavrelPainting::fillGradient(painter, shape, m_tint, end);
    if (isDown())
        painter.fillPath(shape, QColor(0, 0, 0, 30));
    KavrelFocusRing::paint(painter, this, KavrelPainting::continuousRoundedRect(face.adjusted(2.5, 2.5, -2.5, -2.5), 14),
                           m_tint);

    const QFont title = titleFont();
    const QFont subtitle = subtitleFont();
    const QFontMetricsF titleMetrics(title);
    const QFontMetricsF subtitleMetrics(subtitle);
    const double textHeight = titleMetrics.height() + (m_subtitle.isEmpty() ? 0 : 1 + subtitleMetrics.height());
    double x = horizontalPadding;
    WorkspaceSymbols::paint(painter, QRectF(x, (faceHeight - symbolSize) / 2.0, symbolSize, symbolSize), m_symbol, Qt::white);
    x += symbolSize + spacing;
    const double textWidth = width() - x - horizontalPadding + 2;
    double y = (faceHeight - textHeight) / 2;
    painter.setPen(Qt::white);
    painter.setFont(title);
    painter.drawText(QRectF(x, y, textWidth, titleMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     titleMetrics.elidedText(text(), Qt::ElideRight, textWidth));
    if (!m_subtitle.isEmpty()) {
        y += titleMetrics.height() + 1;
        // As white as the title: the smaller type sets it apart, and any fading would leave
        // it unreadable on the tint.
        painter.setPen(Qt::white);
        painter.setFont(subtitle);
        painter.drawText(QRectF(x, y, textWidth, subtitleMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         subtitleMetrics.elidedText(m_subtitle, Qt::ElideRight, textWidth));
    }
}
