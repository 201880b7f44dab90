#include "signin/widgets/AuthButton.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelPainting.h"
#include "signin/widgets/SignInSymbols.h"
#include "signin/widgets/SignInTheme.h"
#include "signin/widgets/ThemedLabel.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {

constexpr int buttonHeight = 52;
constexpr qreal symbolSize = 17;
constexpr qreal spacing = 10;

} // namespace

AuthButton::AuthButton(const QString &titleKey, const QString &symbol, QWidget *parent) : QAbstractButton(parent)
{
    setFont(ThemedLabel::font(16, QFont::Bold));
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(buttonHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setTitle(titleKey, symbol);
}

void AuthButton::setTitle(const QString &titleKey, const QString &symbol)
{
    setText(KavrelLocalizationStore::shared().localized(titleKey));
    m_symbol = symbol;
    update();
}

QSize AuthButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return QSize(int(metrics.horizontalAdvance(text()) + symbolSize + spacing + 48), buttonHeight);
}

void AuthButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The platform dims a disabled button; a pressed one darkens a little.
    if (!isEnabled())
        painter.setOpacity(0.55);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(rect(), 14);
    QLinearGradient gradient(0, 0, width(), 0);
    gradient.setColorAt(0, SignInTheme::buttonLeading.resolve(palette()));
    gradient.setColorAt(1, SignInTheme::buttonTrailing.resolve(palette()));
    painter.fillPath(shape, gradient);
    if (isDown())
        painter.fillPath(shape, QColor(0, 0, 0, 40));
    if (hasFocus())
        painter.strokePath(shape, QPen(QColor(255, 255, 255, 160), 2));

    const QFontMetricsF metrics(font());
    const qreal textWidth = std::min(metrics.horizontalAdvance(text()), width() - symbolSize - spacing - 24);
    const qreal contentWidth = symbolSize + spacing + textWidth;
    const qreal left = (width() - contentWidth) / 2;
    SignInSymbols::paint(painter, QRectF(left, (height() - symbolSize) / 2, symbolSize, symbolSize), m_symbol, Qt::white);
    painter.setPen(Qt::white);
    painter.setFont(font());
    const QString shown = metrics.elidedText(text(), Qt::ElideRight, textWidth);
    painter.drawText(QRectF(left + symbolSize + spacing, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, shown);
}
