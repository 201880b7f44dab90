#include "signin/widgets/SetupStatusBadge.h"

#include "kit/widgets/KavrelPainting.h"
#include "signin/widgets/SignInSymbols.h"
#include "signin/widgets/ThemedLabel.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr qreal symbolSize = 12;
constexpr qreal gap = 5;

} // namespace

SetupStatusBadge::SetupStatusBadge(const QString &title, const QString &symbol, KavrelDynamicColor tint, QWidget *parent)
    : QWidget(parent)
{
    setFont(ThemedLabel::font(12, QFont::Bold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setContent(title, symbol, tint);
}

void SetupStatusBadge::setContent(const QString &title, const QString &symbol, KavrelDynamicColor tint)
{
    m_title = title;
    m_symbol = symbol;
    m_tint = tint;
    updateGeometry();
    update();
}

QSize SetupStatusBadge::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return QSize(int(std::ceil(20 + symbolSize + gap + metrics.horizontalAdvance(m_title))),
                 int(std::ceil(std::max(metrics.height(), symbolSize) + 14)));
}

void SetupStatusBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(KavrelPainting::capsule(rect()), m_tint.resolve(palette(), 0.14));
    // The tint's own lightness seldom reads on a faint fill of itself under both appearances:
    // the title takes the tint made darker or lighter until it does, with room to spare for the
    // screen's gradient under the fill, which the window colour only stands for.
    const QColor surface = KavrelPainting::blend(palette().color(QPalette::Window), m_tint.resolve(palette()), 0.14);
    const QColor tint = kavrelReadableOn(m_tint.resolve(palette()), surface, 5.0);
    SignInSymbols::paint(painter, QRectF(10, (height() - symbolSize) / 2, symbolSize, symbolSize), m_symbol, tint);
    painter.setPen(tint);
    painter.setFont(font());
    painter.drawText(QRectF(10 + symbolSize + gap, 0, width() - 20 - symbolSize - gap + 1, height()),
                     Qt::AlignVCenter | Qt::AlignLeft, m_title);
}
