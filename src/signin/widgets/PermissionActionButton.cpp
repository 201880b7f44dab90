#include "signin/widgets/PermissionActionButton.h"

#include "app/KavrelLocalizationStore.h"
#include "app/widgets/KavrelPainting.h"
#include "signin/widgets/SignInSymbols.h"
#include "signin/widgets/ThemedLabel.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr qreal buttonHeight = 38;
constexpr qreal symbolSize = 13;
constexpr qreal spacing = 8;
constexpr qreal padding = 16;

} // namespace

PermissionActionButton::PermissionActionButton(KavrelDynamicColor accent, QWidget *parent)
    : QAbstractButton(parent)
    , m_accent(accent)
{
    setFont(ThemedLabel::font(14, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_spin.setStartValue(0.0);
    m_spin.setEndValue(1.0);
    m_spin.setDuration(900);
    m_spin.setLoopCount(-1);
    connect(&m_spin, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void PermissionActionButton::setContent(const QString &titleKey, const QString &symbol, bool inProgress)
{
    setText(KavrelLocalizationStore::shared().localized(titleKey));
    m_symbol = symbol;
    m_inProgress = inProgress;
    if (inProgress)
        m_spin.start();
    else
        m_spin.stop();
    updateGeometry();
    update();
}

QSize PermissionActionButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return QSize(int(std::ceil(2 * padding + symbolSize + spacing + metrics.horizontalAdvance(text()))), int(buttonHeight));
}

void PermissionActionButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = KavrelPainting::capsule(rect());
    const bool enabled = isEnabled();
    painter.fillPath(shape, enabled ? m_accent.resolve(palette()) : KavrelSystemColors::secondaryLabel.resolve(palette(), 0.1));
    if (isDown())
        painter.fillPath(shape, QColor(0, 0, 0, 40));
    const QColor foreground = enabled ? QColor(Qt::white) : KavrelSystemColors::secondaryLabel.resolve(palette());

    const QFontMetricsF metrics(font());
    const qreal contentWidth = symbolSize + spacing + metrics.horizontalAdvance(text());
    const qreal left = (width() - contentWidth) / 2;
    const QRectF symbolRect(left, (height() - symbolSize) / 2, symbolSize, symbolSize);
    if (m_inProgress)
        KavrelPainting::drawSpinner(painter, symbolRect, foreground, m_spin.currentValue().toReal());
    else
        SignInSymbols::paint(painter, symbolRect, m_symbol, foreground);
    painter.setPen(foreground);
    painter.setFont(font());
    painter.drawText(QRectF(left + symbolSize + spacing, 0, contentWidth, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}
